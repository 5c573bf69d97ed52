// The generated tavara/ of the build: every file the scenes load is there and
// reads through the show's own readers with the properties the scenes rely
// on; and the generator writes the same bytes on every run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "resources/dib.h"
#include "resources/jpeg.h"
#include "resources/model.h"

namespace {

const std::string BINARY_DIR = TUHKALA_BINARY_DIR;
const std::string TAVARA = BINARY_DIR + "/tavara/";

const char* const PICTURES[] = {
    "image8.jpg",  "gay.jpg",     "vtdemo.jpg",  "tulimeri.jpg", "pimee.jpg",  "neito.jpg",
    "c1.jpg",      "c2.jpg",      "c3.jpg",      "c4.jpg",       "c5.jpg",     "c6.jpg",
    "letter1.jpg", "letter2.jpg", "letter3.jpg", "huuto.jpg",    "please.jpg", "alttari.jpg"};
const char* const MODELS[] = {"pallo.3ds",  "level.3ds", "kiina.3ds",
                              "nainen.3ds", "fps.3ds",   "fps2.3ds"};

std::vector<unsigned char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Picture {
    int width = 0, height = 0, channels = 0;
    std::vector<unsigned char> pixels;
    double meanLuma() const {
        double sum = 0.0;
        for (size_t i = 0; i + 2 < pixels.size(); i += 3)
            sum += 0.299 * pixels[i] + 0.587 * pixels[i + 1] + 0.114 * pixels[i + 2];
        return sum / (255.0 * static_cast<double>(width) * height);
    }
    double luma(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * width + x) * 3;
        return (0.299 * pixels[i] + 0.587 * pixels[i + 1] + 0.114 * pixels[i + 2]) / 255.0;
    }
};

bool decodePicture(const std::string& path, Picture* out) {
    const std::vector<unsigned char> bytes = readFile(path);
    if (bytes.empty())
        return false;
    unsigned char* pixels = decodeJpeg(&out->width, &out->height, &out->channels, bytes.data(),
                                       static_cast<int>(bytes.size()));
    if (!pixels)
        return false;
    out->pixels.assign(pixels,
                       pixels + static_cast<size_t>(out->width) * out->height * out->channels);
    std::free(pixels);
    return true;
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
    ModelPtr model(new Model);
    const std::vector<unsigned char> bytes = readFile(TAVARA + name);
    if (bytes.empty())
        return nullptr;
    model->loadFromMemory(bytes.data(), bytes.size());
    return model;
}

bool powerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

// Map names as the show opens them: backslashes to slashes, lower case,
// relative to the working directory (the build folder).
std::string resolveMapName(const char* mapName) {
    std::string path = mapName;
    for (char& c : path) {
        if (c == '\\')
            c = '/';
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return BINARY_DIR + "/" + path;
}

struct Bounds {
    float lo[3] = {1e30f, 1e30f, 1e30f};
    float hi[3] = {-1e30f, -1e30f, -1e30f};
    float extent(int axis) const { return hi[axis] - lo[axis]; }
};

Bounds boundsOf(const Model& model) {
    Bounds b;
    for (int m = 0; m < model.meshCount; ++m) {
        const Mesh* mesh = model.meshes[m];
        for (int i = 0; i < mesh->vertexCount; ++i) {
            const float p[3] = {mesh->vertices[i].position.x, mesh->vertices[i].position.y,
                                mesh->vertices[i].position.z};
            for (int k = 0; k < 3; ++k) {
                b.lo[k] = std::min(b.lo[k], p[k]);
                b.hi[k] = std::max(b.hi[k], p[k]);
            }
        }
    }
    return b;
}

// Signed volume of all faces of the model (divergence theorem): positive for
// closed surfaces whose faces are counter-clockwise seen from outside.
double signedVolume(const Model& model) {
    double volume = 0.0;
    for (int m = 0; m < model.meshCount; ++m) {
        const Mesh* mesh = model.meshes[m];
        for (int f = 0; f < mesh->faceCount; ++f) {
            const Vec3& a = mesh->vertices[mesh->faces[f].a].position;
            const Vec3& b = mesh->vertices[mesh->faces[f].b].position;
            const Vec3& c = mesh->vertices[mesh->faces[f].c].position;
            volume += (a.x * (b.y * c.z - b.z * c.y) - a.y * (b.x * c.z - b.z * c.x) +
                       a.z * (b.x * c.y - b.y * c.x)) /
                      6.0;
        }
    }
    return volume;
}

const double SCALE = 0.09; // the show's drawing scale

} // namespace

TEST(GeneratedMedia, EveryPictureIsAPowerOfTwoRgbJpeg) {
    for (const char* name : PICTURES) {
        Picture p;
        ASSERT_TRUE(decodePicture(TAVARA + name, &p)) << name;
        EXPECT_EQ(p.channels, 3) << name;
        EXPECT_TRUE(powerOfTwo(p.width)) << name << " width " << p.width;
        EXPECT_TRUE(powerOfTwo(p.height)) << name << " height " << p.height;
        EXPECT_GE(p.width, 256) << name;
        // A real picture, not a flat fill: its pixels vary.
        const auto [lo, hi] = std::minmax_element(p.pixels.begin(), p.pixels.end());
        EXPECT_GT(*hi - *lo, 100) << name;
    }
}

TEST(GeneratedMedia, PicturesAddedOverTheFrameAreMostlyDark) {
    // These are added over other pictures; a bright one would wash the sum out.
    for (const char* name :
         {"tulimeri.jpg", "pimee.jpg", "huuto.jpg", "please.jpg", "letter1.jpg", "letter2.jpg",
          "letter3.jpg", "c1.jpg", "c2.jpg", "c3.jpg", "c4.jpg", "c5.jpg"}) {
        Picture p;
        ASSERT_TRUE(decodePicture(TAVARA + name, &p)) << name;
        EXPECT_LT(p.meanLuma(), 0.3) << name;
    }
    // The letters are black around the glyph and bright inside it.
    for (const char* name : {"letter1.jpg", "letter2.jpg", "letter3.jpg"}) {
        Picture p;
        ASSERT_TRUE(decodePicture(TAVARA + name, &p)) << name;
        EXPECT_LT(p.luma(2, 2), 0.03) << name;
        EXPECT_LT(p.luma(p.width - 3, p.height - 3), 0.03) << name;
        double brightest = 0.0;
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                brightest = std::max(brightest, p.luma(x, y));
        EXPECT_GT(brightest, 0.7) << name;
    }
}

TEST(GeneratedMedia, EveryModelReadsWithConsistentFacesAndGroups) {
    for (const char* name : MODELS) {
        ModelPtr model = loadModel(name);
        ASSERT_TRUE(model) << name;
        ASSERT_GE(model->meshCount, 1) << name;
        ASSERT_GE(model->materialCount, 1) << name;
        for (int m = 0; m < model->meshCount; ++m) {
            const Mesh* mesh = model->meshes[m];
            ASSERT_GT(mesh->faceCount, 0) << name;
            ASSERT_LE(mesh->vertexCount, 32767) << name;
            int grouped = 0;
            for (int f = 0; f < mesh->faceCount; ++f) {
                const Face& face = mesh->faces[f];
                ASSERT_LT(face.a, mesh->vertexCount) << name;
                ASSERT_LT(face.b, mesh->vertexCount) << name;
                ASSERT_LT(face.c, mesh->vertexCount) << name;
            }
            for (int g = 0; g < mesh->groupCount; ++g) {
                EXPECT_GE(mesh->groups[g]->materialIndex, 0) << name;
                EXPECT_LT(mesh->groups[g]->materialIndex, model->materialCount) << name;
                grouped += mesh->groups[g]->faceCount;
            }
            // Every face belongs to exactly one group, so Model::draw draws it once.
            EXPECT_EQ(grouped, mesh->faceCount) << name << " mesh " << mesh->name;
        }
    }
}

TEST(GeneratedMedia, EveryTextureMapResolvesToAReadablePicture) {
    for (const char* name : MODELS) {
        ModelPtr model = loadModel(name);
        ASSERT_TRUE(model) << name;
        for (int i = 0; i < model->materialCount; ++i) {
            const Material* m = model->materials[i];
            if (std::string(name) == "kiina.3ds") {
                EXPECT_EQ(m->flags & MATERIAL_HAS_TEXTURE, 0u); // drawn untextured
                continue;
            }
            ASSERT_EQ(m->flags & MATERIAL_HAS_TEXTURE, MATERIAL_HAS_TEXTURE)
                << name << " " << m->name;
            const std::string map = m->mapName;
            EXPECT_EQ(map.rfind("tavara\\", 0), 0u) << map;
            EXPECT_EQ(map.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << map;
            const std::string path = resolveMapName(m->mapName);
            if (map.find(".bmp") != std::string::npos) {
                const std::vector<unsigned char> bytes = readFile(path);
                DibImage* dib = decodeDib(bytes.data(), bytes.size(), nullptr);
                ASSERT_NE(dib, nullptr) << path;
                EXPECT_TRUE(powerOfTwo(dib->width) && powerOfTwo(dib->height)) << path;
                freeDibImage(dib);
            } else {
                Picture p;
                ASSERT_TRUE(decodePicture(path, &p)) << path;
                EXPECT_EQ(p.channels, 3) << path;
                EXPECT_TRUE(powerOfTwo(p.width) && powerOfTwo(p.height)) << path;
            }
        }
    }
}

TEST(GeneratedMedia, LevelHasTwoScrollingGridsOverTwoKindsOfBitmap) {
    ModelPtr level = loadModel("level.3ds");
    ASSERT_TRUE(level);
    ASSERT_GE(level->meshCount, 2);
    std::vector<int> bitCounts;
    for (int m = 0; m < 2; ++m) {
        const Mesh* mesh = level->meshes[m];
        // The layer scrolls exactly vertices 0..120 of each: the grid is 11 × 11.
        EXPECT_EQ(mesh->vertexCount, 121) << m;
        float uMin = 1e9f, uMax = -1e9f, vMin = 1e9f, vMax = -1e9f;
        for (int i = 0; i < mesh->vertexCount; ++i) {
            uMin = std::min(uMin, mesh->vertices[i].u);
            uMax = std::max(uMax, mesh->vertices[i].u);
            vMin = std::min(vMin, mesh->vertices[i].v);
            vMax = std::max(vMax, mesh->vertices[i].v);
        }
        EXPECT_FLOAT_EQ(uMin, 0.0f);
        EXPECT_FLOAT_EQ(uMax, 1.0f);
        EXPECT_FLOAT_EQ(vMin, 0.0f);
        EXPECT_FLOAT_EQ(vMax, 1.0f);
        ASSERT_EQ(mesh->groupCount, 1);
        const Material* mat = level->materials[mesh->groups[0]->materialIndex];
        const std::vector<unsigned char> bmp = readFile(resolveMapName(mat->mapName));
        ASSERT_GT(bmp.size(), 54u) << mat->mapName;
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[14], 40); // info header size
        bitCounts.push_back(bmp[28]);
    }
    std::sort(bitCounts.begin(), bitCounts.end());
    EXPECT_EQ(bitCounts, (std::vector<int>{8, 24}));
    // Floor below the eye and roof above it (file z is the show's vertical).
    const Mesh* floor = level->meshes[0];
    const Mesh* roof = level->meshes[1];
    EXPECT_LT(floor->vertices[0].position.z * SCALE, -1.0);
    EXPECT_GT(roof->vertices[0].position.z * SCALE, 1.0);
}

TEST(GeneratedMedia, NainenIsAStandingFigureWithATranslucentFirstMaterial) {
    ModelPtr model = loadModel("nainen.3ds");
    ASSERT_TRUE(model);
    EXPECT_LT(model->materials[0]->opacity, 1.0f);
    EXPECT_GT(model->materials[0]->opacity, 0.0f);
    const Bounds b = boundsOf(*model);
    EXPECT_NEAR(b.extent(2) * SCALE, 7.0, 0.5); // about 7 world units tall
    EXPECT_NEAR(b.lo[2], 0.0f, 1.0f);           // standing on z = 0
    EXPECT_LT(b.extent(0), b.extent(2) * 0.6f); // taller than wide
    EXPECT_GT(signedVolume(*model), 0.0);
}

TEST(GeneratedMedia, ModelsAreSizedForTheirCameras) {
    ModelPtr ball = loadModel("pallo.3ds");
    ASSERT_TRUE(ball);
    const Bounds pb = boundsOf(*ball);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(pb.extent(k) * SCALE * 0.5, 2.0, 0.4) << k; // radius about 2 at distance 12
    EXPECT_GT(signedVolume(*ball), 0.0);

    ModelPtr pagoda = loadModel("kiina.3ds");
    ASSERT_TRUE(pagoda);
    EXPECT_EQ(pagoda->meshCount, 1);
    const Bounds kb = boundsOf(*pagoda);
    EXPECT_GE(kb.extent(2) * SCALE, 30.0); // fills the view at distance 80
    EXPECT_LE(kb.extent(2) * SCALE, 40.0);
    EXPECT_NEAR((kb.lo[2] + kb.hi[2]) * 0.5f, 0.0f, 20.0f); // centred on its spin
    EXPECT_GT(signedVolume(*pagoda), 0.0);

    ModelPtr temple = loadModel("fps2.3ds");
    ASSERT_TRUE(temple);
    const Bounds tb = boundsOf(*temple);
    EXPECT_GE(std::max(tb.extent(0), tb.extent(1)) * SCALE, 15.0);
    EXPECT_LE(std::max(tb.extent(0), tb.extent(1)) * SCALE, 20.0);
    EXPECT_GT(signedVolume(*temple), 0.0);
}

TEST(GeneratedMedia, InteriorSurroundsThePanCameraWithInwardWalls) {
    ModelPtr model = loadModel("fps.3ds");
    ASSERT_TRUE(model);
    EXPECT_GE(model->materialCount, 4);
    const Bounds b = boundsOf(*model);
    // The pan camera turns in place near world (6, 3.5, 6), file (67, -67, 39):
    // inside the model's bounds, below its roofs.
    EXPECT_LT(b.lo[0] * SCALE, 1.0);
    EXPECT_GT(b.hi[0] * SCALE, 11.0);
    EXPECT_LT(b.lo[1] * SCALE, -11.0);
    EXPECT_GT(b.hi[1] * SCALE, -1.0);
    EXPECT_GT(b.hi[2] * SCALE, 3.5);
    EXPECT_NEAR(b.lo[2], 0.0f, 1e-3f);
    // The hall (first mesh) is a room seen from inside: its faces enclose a
    // negative volume, doors and pillars notwithstanding.
    Model hall;
    hall.meshCount = 1;
    hall.meshes[0] = model->meshes[0];
    EXPECT_LT(signedVolume(hall), 0.0);
    hall.meshes[0] = nullptr;
    hall.meshCount = 0;
}

TEST(GeneratedMedia, GeneratorWritesTheSameBytesEveryRun) {
    const std::string generator = BINARY_DIR + "/tuhkala-media";
    const std::string base = testing::TempDir() + "tuhkala-media-det-" + std::to_string(::getpid());
    const std::string dirA = base + "-a", dirB = base + "-b";
    ASSERT_EQ(std::system(("mkdir -p '" + dirA + "' '" + dirB + "'").c_str()), 0);
    ASSERT_EQ(std::system(("'" + generator + "' '" + dirA + "' pictures meshes").c_str()), 0);
    ASSERT_EQ(std::system(("'" + generator + "' '" + dirB + "' pictures meshes").c_str()), 0);
    std::vector<std::string> names(std::begin(PICTURES), std::end(PICTURES));
    names.insert(names.end(), std::begin(MODELS), std::end(MODELS));
    for (const char* extra : {"pallo.jpg", "nainen.jpg", "ritila.bmp", "savu.bmp"})
        names.push_back(extra);
    for (const std::string& name : names) {
        const std::vector<unsigned char> a = readFile(dirA + "/" + name);
        const std::vector<unsigned char> b = readFile(dirB + "/" + name);
        ASSERT_FALSE(a.empty()) << name;
        EXPECT_EQ(a, b) << name;
        // And the same bytes as the build's own tavara/.
        EXPECT_EQ(a, readFile(TAVARA + name)) << name;
    }
    std::system(("rm -rf '" + dirA + "' '" + dirB + "'").c_str());
}
