// The generated tavara/ of the build: the generator writes the same bytes on
// every run, and every mesh reads through the show's own reader with what
// drawing relies on (each face in exactly one group, texture maps that exist
// and decode to power-of-two sizes, the level's two 11 x 11 grids). How the
// pictures look is pinned by the reference frames.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "platform/platform.h"
#include "resources/dib.h"
#include "resources/jpeg.h"
#include "tests/support/kit.h"

using namespace kit;

namespace {

const std::string BUILD = TUHKALA_BINARY_DIR;
const char* const MODELS[] = {"pallo.3ds",  "level.3ds", "kiina.3ds",
                              "nainen.3ds", "fps.3ds",   "fps2.3ds"};

bool powerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

} // namespace

TEST(GeneratedMedia, GeneratorWritesTheSameBytesEveryRunAsInTheBuild) {
    const std::string base = scratchDir("media-") + std::to_string(getpid());
    for (const char* again : {"/a", "/b"})
        ASSERT_EQ(run("mkdir -p " + quote(base + again) + " && " + quote(BUILD + "/tuhkala-media") +
                      " " + quote(base + again) + " pictures meshes")
                      .status,
                  0);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(base + "/a")) {
        const std::string name = entry.path().filename().string();
        const Bytes a = readFile(base + "/a/" + name);
        EXPECT_EQ(a, readFile(base + "/b/" + name)) << name;
        EXPECT_EQ(a, readFile(BUILD + "/tavara/" + name)) << name;
        ++files;
    }
    EXPECT_GE(files, 28); // 18 pictures, 6 meshes, their texture maps
    run("rm -rf " + quote(base));
}

TEST(GeneratedMedia, MeshesHaveWholeGroupsAndTextureMapsThatDecode) {
    for (const char* name : MODELS) {
        const ModelPtr model = loadModelBytes(readFile(BUILD + "/tavara/" + name));
        ASSERT_GE(model->meshCount, 1) << name;
        for (int m = 0; m < model->meshCount; ++m) {
            const Mesh* mesh = model->meshes[m];
            int grouped = 0;
            for (int g = 0; g < mesh->groupCount; ++g) {
                EXPECT_LT(mesh->groups[g]->materialIndex, model->materialCount) << name;
                grouped += mesh->groups[g]->faceCount;
            }
            EXPECT_GT(mesh->faceCount, 0) << name;
            EXPECT_EQ(grouped, mesh->faceCount) << name << " mesh " << m; // drawn once each
        }
        // kiina is drawn untextured; every other material names a picture in
        // tavara/, lower case, that the show's readers decode.
        const bool textured = std::string(name) != "kiina.3ds";
        for (int i = 0; i < model->materialCount; ++i) {
            const std::string map = model->materials[i]->mapName;
            EXPECT_EQ(map.empty(), !textured) << name;
            if (!textured)
                continue;
            EXPECT_EQ(map.rfind("tavara\\", 0), 0u) << map;
            EXPECT_EQ(map, [](std::string s) {
                std::transform(s.begin(), s.end(), s.begin(), ::tolower);
                return s;
            }(map));
            const Bytes bytes = readFile(BUILD + "/" + platform::dataPath(map.c_str()));
            int width = 0, height = 0, channels = 0;
            if (map.find(".bmp") != std::string::npos) {
                DibImage* dib = decodeDib(bytes.data(), bytes.size(), nullptr);
                ASSERT_NE(dib, nullptr) << map;
                width = dib->width, height = dib->height;
                freeDibImage(dib);
            } else {
                free(decodeJpeg(&width, &height, &channels, bytes.data(), int(bytes.size())));
                EXPECT_EQ(channels, 3) << map;
            }
            EXPECT_TRUE(powerOfTwo(width) && powerOfTwo(height)) << map;
        }
    }
    // The level layer scrolls vertices 0 to 120 of its first two meshes.
    const ModelPtr level = loadModelBytes(readFile(BUILD + "/tavara/level.3ds"));
    ASSERT_GE(level->meshCount, 2);
    EXPECT_EQ(level->meshes[0]->vertexCount * 1000 + level->meshes[1]->vertexCount, 121121);
}
