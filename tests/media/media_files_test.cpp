// The generated tavara/ of the build: every file the scenes load is there and
// reads through the show's own readers with the properties the scenes rely
// on; and the generator writes the same bytes on every run.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "effects/media_files.h"
#include "resources/dib.h"
#include "resources/jpeg.h"
#include "resources/model.h"

namespace {

const std::string BINARY_DIR = TUHKALA_BINARY_DIR;
const std::string TAVARA = BINARY_DIR + "/tavara/";
const double SCALE = 0.09; // the show's drawing scale

// The scenes' files with the given extension, as named inside tavara/.
std::vector<std::string> sceneFiles(const std::string& extension) {
    std::vector<std::string> names;
    for (const SceneFile& file : SCENE_FILES) {
        const std::string path = file.path;
        if (path.size() > extension.size() &&
            path.compare(path.size() - extension.size(), extension.size(), extension) == 0)
            names.push_back(path.substr(path.find('\\') + 1));
    }
    return names;
}
const std::vector<std::string> PICTURES = sceneFiles(".jpg");
const std::vector<std::string> MODELS = sceneFiles(".3ds");

// Whether the scene that reads this mesh draws it textured.
bool drawnTextured(const std::string& name) {
    for (const SceneFile& file : SCENE_FILES) {
        if ("tavara\\" + name == file.path)
            return file.textured;
    }
    return false;
}

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool powerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

struct Picture {
    int width = 0, height = 0, channels = 0;
    std::vector<unsigned char> pixels;
    double luma(size_t pixel) const {
        const unsigned char* p = &pixels[pixel * 3];
        return (0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]) / 255.0;
    }
};

// Decodes a JPEG through the show's reader; an empty picture when it fails.
Picture decodePicture(const std::string& path) {
    Picture out;
    const std::vector<unsigned char> bytes = readFile(path);
    unsigned char* pixels = bytes.empty()
                                ? nullptr
                                : decodeJpeg(&out.width, &out.height, &out.channels, bytes.data(),
                                             static_cast<int>(bytes.size()));
    if (pixels)
        out.pixels.assign(pixels, pixels + size_t(out.width) * out.height * out.channels);
    std::free(pixels);
    return out;
}

// A heap Model whose records are freed with it, so leak checks stay meaningful.
struct ModelRelease {
    void operator()(Model* model) const {
        freeModelRecords(model);
        delete model;
    }
};
using ModelPtr = std::unique_ptr<Model, ModelRelease>;

ModelPtr loadModel(const std::string& name) {
    const std::vector<unsigned char> bytes = readFile(TAVARA + name);
    if (bytes.empty())
        return nullptr;
    ModelPtr model(new Model);
    model->loadFromMemory(bytes.data(), bytes.size());
    return model;
}

// Map names as the show opens them: backslashes to slashes, relative to the
// working directory (the build folder).
std::string resolveMapName(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return BINARY_DIR + "/" + name;
}

// The extent of the model's vertices along each file axis, and their minimum.
struct Bounds {
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    double extent(int axis) const { return (hi[axis] - lo[axis]) * SCALE; }
};

// Bounds of the model, and the signed volume of its faces (divergence
// theorem): positive for closed surfaces whose faces are counter-clockwise
// seen from outside. meshes limits both to the first few meshes.
Bounds boundsOf(const Model& model, double* volume, int meshes = 1 << 30) {
    Bounds b;
    *volume = 0.0;
    for (int m = 0; m < std::min(model.meshCount, meshes); ++m) {
        const Mesh* mesh = model.meshes[m];
        for (int i = 0; i < mesh->vertexCount; ++i) {
            const Vec3& p = mesh->vertices[i].position;
            const float xyz[3] = {p.x, p.y, p.z};
            for (int k = 0; k < 3; ++k) {
                b.lo[k] = std::min(b.lo[k], xyz[k]);
                b.hi[k] = std::max(b.hi[k], xyz[k]);
            }
        }
        for (int f = 0; f < mesh->faceCount; ++f) {
            const Vec3& a = mesh->vertices[mesh->faces[f].a].position;
            const Vec3& u = mesh->vertices[mesh->faces[f].b].position;
            const Vec3& c = mesh->vertices[mesh->faces[f].c].position;
            *volume += (a.x * (u.y * c.z - u.z * c.y) - a.y * (u.x * c.z - u.z * c.x) +
                        a.z * (u.x * c.y - u.y * c.x)) /
                       6.0;
        }
    }
    return b;
}

} // namespace

TEST(GeneratedMedia, PicturesArePowerOfTwoRgbAndDarkWhereAddedOverOthers) {
    // These are added over other pictures; a bright one would wash the sum out.
    const std::set<std::string> added = {"tulimeri.jpg", "pimee.jpg",   "huuto.jpg",   "please.jpg",
                                         "letter1.jpg",  "letter2.jpg", "letter3.jpg", "c1.jpg",
                                         "c2.jpg",       "c3.jpg",      "c4.jpg",      "c5.jpg"};
    // Every file a scene reads is one of these pictures or meshes.
    ASSERT_EQ(PICTURES.size() + MODELS.size(), std::size(SCENE_FILES));
    for (const std::string& name : PICTURES) {
        SCOPED_TRACE(name);
        const Picture p = decodePicture(TAVARA + name);
        ASSERT_FALSE(p.pixels.empty());
        EXPECT_EQ(p.channels, 3);
        EXPECT_TRUE(powerOfTwo(p.width) && powerOfTwo(p.height)) << p.width << "x" << p.height;
        EXPECT_GE(p.width, 256);
        // A real picture, not a flat fill: its pixels vary.
        const auto [lo, hi] = std::minmax_element(p.pixels.begin(), p.pixels.end());
        EXPECT_GT(*hi - *lo, 100);
        double sum = 0.0, brightest = 0.0;
        for (size_t i = 0; i < p.pixels.size() / 3; ++i) {
            sum += p.luma(i);
            brightest = std::max(brightest, p.luma(i));
        }
        if (added.count(name)) {
            EXPECT_LT(sum / (p.pixels.size() / 3), 0.3);
        }
        // The letters are black around the glyph and bright inside it.
        if (name.rfind("letter", 0) == 0) {
            EXPECT_LT(p.luma(size_t(p.width) * 2 + 2), 0.03);
            EXPECT_LT(p.luma(p.pixels.size() / 3 - 2 * size_t(p.width) - 3), 0.03);
            EXPECT_GT(brightest, 0.7);
        }
    }
}

TEST(GeneratedMedia, ModelsHaveConsistentFacesGroupsAndTextureMaps) {
    for (const std::string& name : MODELS) {
        SCOPED_TRACE(name);
        ModelPtr model = loadModel(name);
        ASSERT_TRUE(model);
        ASSERT_GE(model->meshCount, 1);
        ASSERT_GE(model->materialCount, 1);
        for (int m = 0; m < model->meshCount; ++m) {
            const Mesh* mesh = model->meshes[m];
            ASSERT_GT(mesh->faceCount, 0);
            ASSERT_LE(mesh->vertexCount, 32767);
            for (int f = 0; f < mesh->faceCount; ++f) {
                const Face& face = mesh->faces[f];
                ASSERT_LT(std::max({face.a, face.b, face.c}), mesh->vertexCount);
            }
            int grouped = 0;
            for (int g = 0; g < mesh->groupCount; ++g) {
                EXPECT_GE(mesh->groups[g]->materialIndex, 0);
                EXPECT_LT(mesh->groups[g]->materialIndex, model->materialCount);
                grouped += mesh->groups[g]->faceCount;
            }
            // Every face belongs to exactly one group, so Model::draw draws it once.
            EXPECT_EQ(grouped, mesh->faceCount) << mesh->name;
        }
        for (int i = 0; i < model->materialCount; ++i) {
            const Material* m = model->materials[i];
            // A mesh drawn textured names in every material a picture in
            // tavara/, lower case, that the show's readers decode; one drawn
            // plain names none.
            const bool textured = drawnTextured(name);
            ASSERT_EQ(m->flags & MATERIAL_HAS_TEXTURE, textured ? MATERIAL_HAS_TEXTURE : 0u)
                << m->name;
            if (!textured)
                continue;
            const std::string map = m->mapName, path = resolveMapName(map);
            EXPECT_EQ(map.rfind("tavara\\", 0), 0u) << map;
            EXPECT_EQ(map.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << map;
            int width = 0, height = 0;
            if (map.find(".bmp") != std::string::npos) {
                const std::vector<unsigned char> bytes = readFile(path);
                DibImage* dib = decodeDib(bytes.data(), bytes.size(), nullptr);
                ASSERT_NE(dib, nullptr) << path;
                width = dib->width, height = dib->height;
                freeDibImage(dib);
            } else {
                const Picture p = decodePicture(path);
                EXPECT_EQ(p.channels, 3) << path;
                width = p.width, height = p.height;
            }
            EXPECT_TRUE(powerOfTwo(width) && powerOfTwo(height)) << path;
        }
    }
}

TEST(GeneratedMedia, LevelHasTwoScrollingGridsOverTwoKindsOfBitmap) {
    ModelPtr level = loadModel("level.3ds");
    ASSERT_TRUE(level);
    ASSERT_GE(level->meshCount, 2);
    std::multiset<int> bitCounts;
    for (int m = 0; m < 2; ++m) {
        const Mesh* mesh = level->meshes[m];
        // The layer scrolls exactly vertices 0..120 of each: the grid is 11 × 11.
        EXPECT_EQ(mesh->vertexCount, 121) << m;
        float lo[2] = {1e9f, 1e9f}, hi[2] = {-1e9f, -1e9f};
        for (int i = 0; i < mesh->vertexCount; ++i) {
            const float uv[2] = {mesh->vertices[i].u, mesh->vertices[i].v};
            for (int k = 0; k < 2; ++k)
                lo[k] = std::min(lo[k], uv[k]), hi[k] = std::max(hi[k], uv[k]);
        }
        EXPECT_EQ((std::vector<float>{lo[0], lo[1], hi[0], hi[1]}),
                  (std::vector<float>{0, 0, 1, 1}));
        ASSERT_EQ(mesh->groupCount, 1);
        const Material* mat = level->materials[mesh->groups[0]->materialIndex];
        const std::vector<unsigned char> bmp = readFile(resolveMapName(mat->mapName));
        ASSERT_GT(bmp.size(), 54u) << mat->mapName;
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[14], 40); // info header size
        bitCounts.insert(bmp[28]);
    }
    EXPECT_EQ(bitCounts, (std::multiset<int>{8, 24}));
    // Floor below the eye and roof above it (file z is the show's vertical).
    EXPECT_LT(level->meshes[0]->vertices[0].position.z * SCALE, -1.0);
    EXPECT_GT(level->meshes[1]->vertices[0].position.z * SCALE, 1.0);
}

TEST(GeneratedMedia, ModelsAreShapedAndSizedForTheirCameras) {
    double volume = 0.0;
    ModelPtr nainen = loadModel("nainen.3ds");
    ModelPtr ball = loadModel("pallo.3ds");
    ModelPtr pagoda = loadModel("kiina.3ds");
    ModelPtr temple = loadModel("fps2.3ds");
    ModelPtr interior = loadModel("fps.3ds");
    ASSERT_TRUE(nainen && ball && pagoda && temple && interior);

    // A standing figure about 7 world units tall on z = 0, with a translucent
    // first material.
    Bounds b = boundsOf(*nainen, &volume);
    EXPECT_GT(nainen->materials[0]->opacity, 0.0f);
    EXPECT_LT(nainen->materials[0]->opacity, 1.0f);
    EXPECT_NEAR(b.extent(2), 7.0, 0.5);
    EXPECT_NEAR(b.lo[2], 0.0f, 1.0f);
    EXPECT_LT(b.extent(0), b.extent(2) * 0.6); // taller than wide
    EXPECT_GT(volume, 0.0);

    b = boundsOf(*ball, &volume);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(b.extent(k) * 0.5, 2.0, 0.4) << k; // radius about 2 at distance 12
    EXPECT_GT(volume, 0.0);

    EXPECT_EQ(pagoda->meshCount, 1);
    b = boundsOf(*pagoda, &volume);
    EXPECT_GE(b.extent(2), 30.0); // fills the view at distance 80
    EXPECT_LE(b.extent(2), 40.0);
    EXPECT_NEAR((b.lo[2] + b.hi[2]) * 0.5f, 0.0f, 20.0f); // centred on its spin
    EXPECT_GT(volume, 0.0);

    b = boundsOf(*temple, &volume);
    EXPECT_GE(std::max(b.extent(0), b.extent(1)), 15.0);
    EXPECT_LE(std::max(b.extent(0), b.extent(1)), 20.0);
    EXPECT_GT(volume, 0.0);

    // The pan camera turns in place near world (6, 3.5, 6), file (67, -67,
    // 39): inside the interior's bounds, below its roofs.
    EXPECT_GE(interior->materialCount, 4);
    b = boundsOf(*interior, &volume);
    EXPECT_LT(b.lo[0] * SCALE, 1.0);
    EXPECT_GT(b.hi[0] * SCALE, 11.0);
    EXPECT_LT(b.lo[1] * SCALE, -11.0);
    EXPECT_GT(b.hi[1] * SCALE, -1.0);
    EXPECT_GT(b.hi[2] * SCALE, 3.5);
    EXPECT_NEAR(b.lo[2], 0.0f, 1e-3f);
    // The hall (first mesh) is a room seen from inside: its faces enclose a
    // negative volume, doors and pillars notwithstanding.
    boundsOf(*interior, &volume, 1);
    EXPECT_LT(volume, 0.0);
}

TEST(GeneratedMedia, GeneratorWritesTheSameBytesEveryRunAsInTheBuild) {
    const std::string base = testing::TempDir() + "tuhkala-media-det-" + std::to_string(getpid());
    for (const char* run : {"-a", "-b"})
        ASSERT_EQ(std::system(("mkdir -p '" + base + run + "' && '" + BINARY_DIR +
                               "/tuhkala-media' '" + base + run + "' pictures meshes")
                                  .c_str()),
                  0);
    std::vector<std::string> names(std::begin(PICTURES), std::end(PICTURES));
    names.insert(names.end(), std::begin(MODELS), std::end(MODELS));
    names.insert(names.end(), {"pallo.jpg", "nainen.jpg", "ritila.bmp", "savu.bmp"});
    for (const std::string& name : names) {
        const std::vector<unsigned char> a = readFile(base + "-a/" + name);
        ASSERT_FALSE(a.empty()) << name;
        EXPECT_EQ(a, readFile(base + "-b/" + name)) << name;
        EXPECT_EQ(a, readFile(TAVARA + name)) << name;
    }
    std::system(("rm -rf '" + base + "-a' '" + base + "-b'").c_str());
}
