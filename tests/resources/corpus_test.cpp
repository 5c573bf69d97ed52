// Real files made by other programs, from the shared corpus: meshes read to
// their known counts and names, and BMP pictures decoded as ImageMagick
// decodes them. (That every corpus file loads within the contract is the fuzz
// targets' work, seeded with the corpus.)
//
// Test thread; no GL. Skips when the corpus is absent.
#include <gtest/gtest.h>

#include <strings.h>

#include <filesystem>

#include "resources/dib.h"
#include "tests/support/kit.h"

using namespace kit;
namespace fs = std::filesystem;

namespace {

const std::string CORPUS = TUHKALA_CORPUS_DIR;

class Corpus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::is_directory(CORPUS))
            GTEST_SKIP() << "no corpus at " << CORPUS;
    }
};

} // namespace

TEST_F(Corpus, MeshFilesHaveTheirKnownCountsAndNames) {
    const struct {
        const char* file;
        int meshes, vertices, faces, materials;
        const char* names; // the materials' names and maps, or the first mesh's groups
    } known[] = {
        {"assimp/cubes_with_alpha.3DS", 5, 130, 60, 5, nullptr},
        {"assimp-nonbsd/jeep1.3ds", 7, 1948, 2032, 1, " Material01=jeep1.jpg"},
        {"assimp-nonbsd/cart_wheel.3DS", 13, 720, 1400, -1, nullptr},
        {"online3dviewer/cube_with_materials.3ds", 1, 8, 12, 5,
         " tex=texture.png red green blue white"},
        {"assimp/testFormatDetection", 1, 762, 1368, 4, nullptr},
        {"assimp/empty.3ds", 0, 0, 0, -1, nullptr},
        {"online3dviewer/wrong.3ds", 0, 0, 0, -1, nullptr},
    };
    for (const auto& k : known) {
        const ModelPtr m = loadModelBytes(readFile(CORPUS + "/3ds/" + k.file));
        int vertices = 0, faces = 0;
        for (int i = 0; i < m->meshCount; ++i) {
            vertices += m->meshes[i]->vertexCount;
            faces += m->meshes[i]->faceCount;
        }
        EXPECT_EQ(m->meshCount * 1000000 + vertices * 1000 + faces,
                  k.meshes * 1000000 + k.vertices * 1000 + k.faces)
            << k.file;
        if (k.materials >= 0) {
            EXPECT_EQ(m->materialCount, k.materials) << k.file;
        }
        if (!k.names)
            continue;
        std::string names;
        for (int i = 0; i < m->materialCount; ++i)
            names +=
                std::string(" ") + m->materials[i]->name +
                (m->materials[i]->mapName[0] ? std::string("=") + m->materials[i]->mapName : "");
        EXPECT_EQ(names, k.names) << k.file;
    }
    // One translucent material of the five: 17 % transparency.
    const ModelPtr alpha = loadModelBytes(readFile(CORPUS + "/3ds/assimp/cubes_with_alpha.3DS"));
    int translucent = 0;
    for (int i = 0; i < alpha->materialCount; ++i) {
        if (alpha->materials[i]->opacity != 1.0f) {
            EXPECT_STREQ(alpha->materials[i]->name, "Transparent");
            EXPECT_EQ(alpha->materials[i]->opacity, 1.0f - static_cast<float>(17 * 0.01f));
            ++translucent;
        }
    }
    EXPECT_EQ(translucent, 1);
}

TEST_F(Corpus, BmpFilesDecodeAsImageMagickDoesOrAreRefusedWithAReason) {
    if (!haveProgram("convert"))
        GTEST_SKIP() << "ImageMagick is not installed";
    int compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(CORPUS + "/bmp/good")) {
        const std::string path = entry.path().string();
        if (!entry.is_regular_file() || strcasecmp(entry.path().extension().c_str(), ".bmp") != 0)
            continue;
        const Bytes bytes = readFile(path);
        const char* message = nullptr;
        std::unique_ptr<DibImage, void (*)(DibImage*)> image(
            decodeDib(bytes.data(), bytes.size(), &message), freeDibImage);
        const uint32_t headerSize = bytes.size() >= 18 ? bytes[14] | (bytes[15] << 8) : 0;
        // Only the later header versions (108, 124 bytes) are refused.
        EXPECT_EQ(image == nullptr, headerSize != 12 && headerSize != 40) << path;
        if (!image) {
            EXPECT_STREQ(message, "Unknown DIB file format.") << path;
            continue;
        }
        const std::string rgb = run("convert " + quote(path) + " -depth 8 rgb:- 2>/dev/null").out;
        const Bytes theirs(rgb.begin(), rgb.end());
        const size_t rowBytes = static_cast<size_t>(image->width) * 3;
        ASSERT_EQ(theirs.size(), rowBytes * image->height) << path;
        for (int y = 0; y < image->height; ++y) { // ours is bottom row first
            ASSERT_TRUE(std::equal(theirs.begin() + long(rowBytes * y),
                                   theirs.begin() + long(rowBytes * (y + 1)),
                                   image->pixels + rowBytes * (image->height - 1 - y)))
                << path << " row " << y;
        }
        ++compared;
    }
    EXPECT_GE(compared, 20);
}
