// Every file of the shared corpus of real-world pictures and meshes through
// our readers: no crash (run under ASan in CI), the invariants hold, known
// counts match, and the good BMPs match ImageMagick's decoding.
//
// Test thread; no GL. Skips cleanly when the corpus is absent.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "model_checks.h"
#include "resources/dib.h"
#include "resources/jpeg.h"
#include "resources/model.h"
#include "test_files.h"

using namespace testfiles;

namespace {

const std::string CORPUS = TUHKALA_CORPUS_DIR;

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void listFiles(const std::string& dir, std::vector<std::string>& out) {
    DIR* d = opendir(dir.c_str());
    if (!d) {
        return;
    }
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        std::string path = dir + "/" + name;
        if (isDirectory(path)) {
            listFiles(path, out);
        } else {
            out.push_back(path);
        }
    }
    closedir(d);
}

bool endsWith(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    for (size_t i = 0; i < suffix.size(); i++) {
        if (tolower(text[text.size() - suffix.size() + i]) != suffix[i]) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> corpusFiles(const std::string& sub, const std::string& suffix) {
    std::vector<std::string> files;
    listFiles(CORPUS + "/" + sub, files);
    std::vector<std::string> picked;
    for (const std::string& f : files) {
        if (suffix.empty() || endsWith(f, suffix)) {
            picked.push_back(f);
        }
    }
    return picked;
}

// ImageMagick's 8-bit RGB decoding of a file, top row first; empty on failure.
Bytes imageMagickRgb(const std::string& path) {
    std::string command = "convert '" + path + "' -depth 8 rgb:- 2>/dev/null";
    Bytes out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return out;
    }
    unsigned char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
        out.insert(out.end(), buffer, buffer + got);
    }
    pclose(pipe);
    return out;
}

bool haveImageMagick() {
    return system("convert -version >/dev/null 2>&1") == 0;
}

ModelPtr loadCorpusModel(const std::string& relative) {
    Bytes bytes = readFile(CORPUS + "/3ds/" + relative);
    ModelPtr model(new Model);
    model->loadFromMemory(bytes.data(), bytes.size());
    return model;
}

int totalVertices(const Model& m) {
    int n = 0;
    for (int i = 0; i < m.meshCount; i++) {
        n += m.meshes[i]->vertexCount;
    }
    return n;
}

int totalFaces(const Model& m) {
    int n = 0;
    for (int i = 0; i < m.meshCount; i++) {
        n += m.meshes[i]->faceCount;
    }
    return n;
}

} // namespace

class Corpus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!isDirectory(CORPUS)) {
            GTEST_SKIP() << "no corpus at " << CORPUS;
        }
    }
};

TEST_F(Corpus, EveryMeshFileStaysInBounds) {
    std::vector<std::string> files = corpusFiles("3ds", "");
    ASSERT_GT(files.size(), 30u);
    for (const std::string& path : files) {
        Bytes bytes = readFile(path);
        Model model;
        EXPECT_EQ(model.loadFromMemory(bytes.data(), bytes.size()), 1) << path;
        expectInBounds(model);
        for (int i = 0; i < model.meshCount; i++) {
            computeNormals(model.meshes[i]);
            const Mesh* mesh = model.meshes[i];
            for (int v = 0; v < mesh->vertexCount; v++) {
                const Vec3& n = mesh->vertices[v].normal;
                ASSERT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) << path;
            }
        }
        freeModelRecords(&model);
    }
}

TEST_F(Corpus, MeshFilesHaveTheirKnownCounts) {
    auto alpha = loadCorpusModel("assimp/cubes_with_alpha.3DS");
    EXPECT_EQ(alpha->meshCount, 5);
    EXPECT_EQ(totalVertices(*alpha), 130);
    EXPECT_EQ(totalFaces(*alpha), 60);
    ASSERT_EQ(alpha->materialCount, 5);
    bool sawTransparent = false;
    for (int i = 0; i < alpha->materialCount; i++) {
        if (std::string(alpha->materials[i]->name) == "Transparent") {
            sawTransparent = true;
            EXPECT_EQ(alpha->materials[i]->opacity, 1.0f - static_cast<float>(17 * 0.01f));
        }
    }
    EXPECT_TRUE(sawTransparent);

    auto jeep = loadCorpusModel("assimp-nonbsd/jeep1.3ds");
    EXPECT_EQ(jeep->meshCount, 7);
    EXPECT_EQ(totalVertices(*jeep), 1948);
    EXPECT_EQ(totalFaces(*jeep), 2032);
    ASSERT_EQ(jeep->materialCount, 1);
    EXPECT_STREQ(jeep->materials[0]->mapName, "jeep1.jpg");

    auto wheel = loadCorpusModel("assimp-nonbsd/cart_wheel.3DS");
    EXPECT_EQ(wheel->meshCount, 13);
    EXPECT_EQ(totalVertices(*wheel), 720);
    EXPECT_EQ(totalFaces(*wheel), 1400);

    auto cube = loadCorpusModel("online3dviewer/cube_with_materials.3ds");
    ASSERT_EQ(cube->meshCount, 1);
    EXPECT_STREQ(cube->meshes[0]->name, "cube");
    EXPECT_EQ(cube->meshes[0]->vertexCount, 8);
    EXPECT_EQ(cube->meshes[0]->faceCount, 12);
    EXPECT_EQ(cube->meshes[0]->groupCount, 5);
    ASSERT_EQ(cube->materialCount, 5);
    const char* names[] = {"tex", "red", "green", "blue", "white"};
    for (int i = 0; i < 5; i++) {
        EXPECT_STREQ(cube->materials[i]->name, names[i]);
    }

    auto detect = loadCorpusModel("assimp/testFormatDetection");
    EXPECT_EQ(detect->meshCount, 1);
    EXPECT_EQ(totalVertices(*detect), 762);
    EXPECT_EQ(totalFaces(*detect), 1368);
    EXPECT_EQ(detect->materialCount, 4);
    EXPECT_EQ(detect->meshes[0]->groupCount, 4);

    EXPECT_EQ(loadCorpusModel("assimp/empty.3ds")->meshCount, 0);
    EXPECT_EQ(loadCorpusModel("online3dviewer/wrong.3ds")->meshCount, 0);
}

TEST_F(Corpus, EveryBmpDecodesOrFailsCleanly) {
    std::vector<std::string> files = corpusFiles("bmp", ".bmp");
    files.push_back(CORPUS + "/3ds/assimp-nonbsd/m_rifl.bmp");
    ASSERT_GT(files.size(), 100u);
    int decoded = 0;
    for (const std::string& path : files) {
        Bytes bytes = readFile(path);
        const char* message = nullptr;
        DibImage* image = decodeDib(bytes.data(), bytes.size(), &message);
        if (image) {
            decoded++;
            EXPECT_GT(image->width, 0) << path;
            EXPECT_GT(image->height, 0) << path;
            // Touch every byte: ASan catches a short buffer.
            size_t size = static_cast<size_t>(image->width) * image->height * 3;
            unsigned sum = 0;
            for (size_t i = 0; i < size; i++) {
                sum += image->pixels[i];
            }
            EXPECT_GE(sum, 0u);
        } else {
            ASSERT_NE(message, nullptr) << path;
        }
        freeDibImage(image);
    }
    EXPECT_GT(decoded, 60);
}

TEST_F(Corpus, GoodBmpsMatchImageMagick) {
    if (!haveImageMagick()) {
        GTEST_SKIP() << "ImageMagick's convert is not installed";
    }
    std::vector<std::string> files = corpusFiles("bmp/good", ".bmp");
    files.push_back(CORPUS + "/3ds/assimp-nonbsd/m_rifl.bmp");
    ASSERT_GT(files.size(), 20u);
    int compared = 0;
    for (const std::string& path : files) {
        Bytes bytes = readFile(path);
        uint32_t headerSize = bytes.size() >= 18 ? bytes[14] | (bytes[15] << 8) : 0;
        const char* message = nullptr;
        DibImage* image = decodeDib(bytes.data(), bytes.size(), &message);
        if (headerSize != 12 && headerSize != 40) {
            // The later header versions (108, 124 bytes) are not ours to read.
            EXPECT_EQ(image, nullptr) << path;
            EXPECT_STREQ(message, "Unknown DIB file format.") << path;
            freeDibImage(image);
            continue;
        }
        ASSERT_NE(image, nullptr) << path << ": " << message;
        Bytes reference = imageMagickRgb(path);
        size_t rowBytes = static_cast<size_t>(image->width) * 3;
        ASSERT_EQ(reference.size(), rowBytes * image->height) << path;
        // Ours is bottom row first; ImageMagick's is top row first.
        int mismatches = 0;
        for (int y = 0; y < image->height && mismatches < 5; y++) {
            const unsigned char* ours = image->pixels + rowBytes * (image->height - 1 - y);
            const unsigned char* theirs = reference.data() + rowBytes * y;
            for (size_t i = 0; i < rowBytes; i++) {
                if (ours[i] != theirs[i]) {
                    ADD_FAILURE() << path << " row " << y << " byte " << i << ": " << int(ours[i])
                                  << " vs " << int(theirs[i]);
                    mismatches++;
                    break;
                }
            }
        }
        compared++;
        freeDibImage(image);
    }
    EXPECT_GE(compared, 20);
}

TEST_F(Corpus, EveryJpegDecodesOrFailsCleanly) {
    std::vector<std::string> files = corpusFiles("jpeg", ".jpg");
    files.push_back(CORPUS + "/3ds/assimp-nonbsd/jeep1.jpg");
    ASSERT_GT(files.size(), 40u);
    bool magick = haveImageMagick();
    int decoded = 0;
    for (const std::string& path : files) {
        Bytes bytes = readFile(path);
        int width = 0;
        int height = 0;
        int channels = 0;
        unsigned char* pixels =
            decodeJpeg(&width, &height, &channels, bytes.data(), static_cast<int>(bytes.size()));
        if (!pixels) {
            continue;
        }
        decoded++;
        ASSERT_TRUE(channels == 1 || channels == 3) << path;
        if (magick && channels == 3) {
            // Same picture as ImageMagick's decoder, within IDCT rounding.
            Bytes reference = imageMagickRgb(path);
            size_t size = static_cast<size_t>(width) * height * 3;
            ASSERT_EQ(reference.size(), size) << path;
            double total = 0;
            for (size_t i = 0; i < size; i++) {
                total += std::abs(int(pixels[i]) - int(reference[i]));
            }
            EXPECT_LT(total / size, 2.0) << path;
        }
        free(pixels);
    }
    EXPECT_GT(decoded, 20);
}
