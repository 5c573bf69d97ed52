// Every file of the shared corpus of real-world pictures and meshes through
// our readers: no crash (run under ASan in CI), the invariants hold, known
// counts match, and the good pictures match ImageMagick's decoding.
//
// Test thread; no GL. Skips cleanly when the corpus is absent.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <strings.h>
#include <vector>

#include "resources/dib.h"
#include "resources/jpeg.h"
#include "resources/model.h"
#include "test_files.h"

using namespace testfiles;
namespace fs = std::filesystem;

namespace {

const std::string CORPUS = TUHKALA_CORPUS_DIR;

// Every file under a corpus folder whose name ends in suffix (any case), and
// the extra files given.
std::vector<std::string> corpusFiles(const std::string& sub, const std::string& suffix,
                                     std::initializer_list<std::string> extra = {}) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(CORPUS + "/" + sub)) {
        std::string path = entry.path().string();
        if (entry.is_regular_file() && path.size() >= suffix.size() &&
            strcasecmp(path.c_str() + path.size() - suffix.size(), suffix.c_str()) == 0) {
            files.push_back(path);
        }
    }
    for (const std::string& e : extra) {
        files.push_back(CORPUS + "/" + e);
    }
    return files;
}

// ImageMagick's 8-bit RGB decoding of a file, top row first; empty on failure.
Bytes imageMagickRgb(const std::string& path) {
    return readPipe("convert '" + path + "' -depth 8 rgb:- 2>/dev/null");
}

bool haveImageMagick() {
    return system("convert -version >/dev/null 2>&1") == 0;
}

} // namespace

class Corpus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::is_directory(CORPUS)) {
            GTEST_SKIP() << "no corpus at " << CORPUS;
        }
    }
};

TEST_F(Corpus, EveryMeshFileStaysInBounds) {
    std::vector<std::string> files = corpusFiles("3ds", "");
    ASSERT_GT(files.size(), 30u);
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        Bytes bytes = readFile(path);
        ModelPtr model(new Model);
        EXPECT_EQ(model->loadFromMemory(bytes.data(), bytes.size()), 1);
        expectInBounds(*model);
        for (int i = 0; i < model->meshCount; i++) {
            const Mesh* mesh = model->meshes[i];
            computeNormals(model->meshes[i]);
            for (int v = 0; v < mesh->vertexCount; v++) {
                const Vec3& n = mesh->vertices[v].normal;
                ASSERT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z));
            }
        }
    }
}

TEST_F(Corpus, MeshFilesHaveTheirKnownCounts) {
    struct Known {
        const char* file;
        int meshes, vertices, faces, materials;
    };
    const Known known[] = {
        {"assimp/cubes_with_alpha.3DS", 5, 130, 60, 5},
        {"assimp-nonbsd/jeep1.3ds", 7, 1948, 2032, 1},
        {"assimp-nonbsd/cart_wheel.3DS", 13, 720, 1400, -1},
        {"online3dviewer/cube_with_materials.3ds", 1, 8, 12, 5},
        {"assimp/testFormatDetection", 1, 762, 1368, 4},
        {"assimp/empty.3ds", 0, 0, 0, -1},
        {"online3dviewer/wrong.3ds", 0, 0, 0, -1},
    };
    std::vector<ModelPtr> models;
    for (const Known& k : known) {
        Bytes bytes = readFile(CORPUS + "/3ds/" + k.file);
        models.emplace_back(new Model);
        Model& m = *models.back();
        m.loadFromMemory(bytes.data(), bytes.size());
        int vertices = 0, faces = 0;
        for (int i = 0; i < m.meshCount; i++) {
            vertices += m.meshes[i]->vertexCount;
            faces += m.meshes[i]->faceCount;
        }
        EXPECT_EQ(m.meshCount, k.meshes) << k.file;
        EXPECT_EQ(vertices, k.vertices) << k.file;
        EXPECT_EQ(faces, k.faces) << k.file;
        if (k.materials >= 0) {
            EXPECT_EQ(m.materialCount, k.materials) << k.file;
        }
    }
    const Model& alpha = *models[0];
    ASSERT_EQ(alpha.materialCount, 5);
    int transparent = 0;
    for (int i = 0; i < alpha.materialCount; i++) {
        if (std::string(alpha.materials[i]->name) == "Transparent") {
            transparent++;
            EXPECT_EQ(alpha.materials[i]->opacity, 1.0f - static_cast<float>(17 * 0.01f));
        }
    }
    EXPECT_EQ(transparent, 1);
    ASSERT_EQ(models[1]->materialCount, 1);
    EXPECT_STREQ(models[1]->materials[0]->mapName, "jeep1.jpg");
    const Model& cube = *models[3];
    ASSERT_EQ(cube.meshCount, 1);
    EXPECT_STREQ(cube.meshes[0]->name, "cube");
    EXPECT_EQ(cube.meshes[0]->groupCount, 5);
    ASSERT_EQ(cube.materialCount, 5);
    const char* names[] = {"tex", "red", "green", "blue", "white"};
    for (int i = 0; i < 5; i++) {
        EXPECT_STREQ(cube.materials[i]->name, names[i]);
    }
    ASSERT_EQ(models[4]->meshCount, 1);
    EXPECT_EQ(models[4]->meshes[0]->groupCount, 4);
}

TEST_F(Corpus, EveryBmpDecodesOrFailsCleanlyAndGoodOnesMatchImageMagick) {
    bool magick = haveImageMagick();
    std::vector<std::string> files = corpusFiles("bmp", ".bmp", {"3ds/assimp-nonbsd/m_rifl.bmp"});
    ASSERT_GT(files.size(), 100u);
    int decoded = 0, compared = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        Bytes bytes = readFile(path);
        const char* message = nullptr;
        std::unique_ptr<DibImage, void (*)(DibImage*)> image(
            decodeDib(bytes.data(), bytes.size(), &message), freeDibImage);
        uint32_t headerSize = bytes.size() >= 18 ? bytes[14] | (bytes[15] << 8) : 0;
        bool good = path.find("/bmp/good/") != std::string::npos ||
                    path.find("m_rifl") != std::string::npos;
        if (!image) {
            ASSERT_NE(message, nullptr);
            // Of the good files, only the later header versions (108, 124 bytes) are refused.
            if (good) {
                EXPECT_TRUE(headerSize != 12 && headerSize != 40) << message;
                EXPECT_STREQ(message, "Unknown DIB file format.");
            }
            continue;
        }
        decoded++;
        ASSERT_GT(image->width, 0);
        ASSERT_GT(image->height, 0);
        // Copying every byte lets ASan catch a buffer shorter than the size.
        size_t rowBytes = static_cast<size_t>(image->width) * 3;
        Bytes ours(image->pixels, image->pixels + rowBytes * image->height);
        if (good) {
            EXPECT_TRUE(headerSize == 12 || headerSize == 40) << headerSize;
        }
        if (!good || !magick) {
            continue;
        }
        Bytes theirs = imageMagickRgb(path);
        ASSERT_EQ(theirs.size(), ours.size());
        // Ours is bottom row first; ImageMagick's is top row first.
        for (int y = 0; y < image->height; y++) {
            size_t at = rowBytes * (image->height - 1 - y);
            ASSERT_TRUE(std::equal(ours.begin() + long(at), ours.begin() + long(at + rowBytes),
                                   theirs.begin() + long(rowBytes * y)))
                << "row " << y;
        }
        compared++;
    }
    EXPECT_GT(decoded, 60);
    EXPECT_GE(compared, magick ? 20 : 0);
}

TEST_F(Corpus, EveryJpegDecodesOrFailsCleanly) {
    std::vector<std::string> files = corpusFiles("jpeg", ".jpg", {"3ds/assimp-nonbsd/jeep1.jpg"});
    ASSERT_GT(files.size(), 40u);
    bool magick = haveImageMagick();
    int decoded = 0;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        Bytes bytes = readFile(path);
        int width = 0, height = 0, channels = 0;
        std::unique_ptr<unsigned char, void (*)(void*)> pixels(
            decodeJpeg(&width, &height, &channels, bytes.data(), static_cast<int>(bytes.size())),
            free);
        if (!pixels) {
            continue;
        }
        decoded++;
        ASSERT_TRUE(channels == 1 || channels == 3);
        if (magick && channels == 3) {
            // Same picture as ImageMagick's decoder, within IDCT rounding.
            Bytes reference = imageMagickRgb(path);
            size_t size = static_cast<size_t>(width) * height * 3;
            ASSERT_EQ(reference.size(), size);
            double total = 0;
            for (size_t i = 0; i < size; i++) {
                total += std::abs(int(pixels.get()[i]) - int(reference[i]));
            }
            EXPECT_LT(total / size, 2.0);
        }
    }
    EXPECT_GT(decoded, 20);
}
