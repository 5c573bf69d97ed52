// Tests of tuhkala-inspect, run as a program on files written here and on the
// shared corpus: its JSON, its pixel dumps and its exit status.
//
// Test thread; runs the tool from the build folder. Sizes in pixels.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../resources/test_files.h"
#include "resources/dib.h"
#include "resources/jpeg.h"

using namespace testfiles;

namespace {

struct ToolRun {
    int status = -1; // exit status; -1 when the tool did not exit normally
    std::string out;
};

std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

ToolRun inspect(const std::vector<std::string>& args) {
    std::string command = quote(std::string(TUHKALA_BINARY_DIR) + "/tuhkala-inspect");
    for (const std::string& arg : args) {
        command += " " + quote(arg);
    }
    ToolRun run;
    Bytes out = readPipe(command + " 2>/dev/null", &run.status);
    run.out.assign(out.begin(), out.end());
    return run;
}

int lineCount(const std::string& text) {
    int n = 0;
    for (char c : text) {
        n += c == '\n';
    }
    return n;
}

// 2x2, 24 bits: bottom row red, green; top row blue, white.
Bytes smallBmp() {
    return bmpFile(infoHeader(2, 2, 24),
                   Bytes{0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0});
}

} // namespace

TEST(Inspect, MeshJsonWithAwkwardNames) {
    std::string dir = scratchDir("inspect");
    std::string name = "q\"b\\c\x01\xe9";
    Bytes file =
        file3ds({material(name, {chunk(0xA050, {intPercent(50)})}),
                 object("Box", {triMesh({vertexChunk({0, 0, 0, 1, 0, 0, 0, 1, 0}),
                                         faceChunk({0, 1, 2}, {groupChunk("zz", {0})})})})});
    ASSERT_TRUE(writeFile(dir + "/odd.3ds", file));
    ToolRun run = inspect({"--json", dir + "/odd.3ds"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(
        run.out,
        "{\"file\":\"" + dir +
            "/odd.3ds\",\"kind\":\"3ds\",\"loaded\":1,\"meshes\":[{\"name\":"
            "\"Box\",\"vertexCount\":3,\"faceCount\":1,\"groupCount\":1,\"groups\":[{"
            "\"materialIndex\":1,\"faceCount\":1}]}],\"materials\":[{\"name\":"
            "\"q\\\"b\\\\c\\u0001\\u00e9\",\"flags\":0,\"ambient\":[0,0,0],\"diffuse\":[0,0,0],"
            "\"specular\":[0,0,0],\"opacity\":0.5,\"additive\":0,\"mapName\":\"\"}]}\n");

    ToolRun text = inspect({dir + "/odd.3ds"});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("mesh 0 \"Box\": 3 vertices, 1 faces, 1 groups"), std::string::npos);
    EXPECT_NE(text.out.find("group 0: material 1 (none), 1 faces"), std::string::npos);
}

TEST(Inspect, PicturesAndTheirPixelDumps) {
    std::string dir = scratchDir("inspect");
    ASSERT_TRUE(writeFile(dir + "/small.bmp", smallBmp()));
    ToolRun run = inspect({"--json", "--dump-pixels", dir + "/small.rgb", dir + "/small.bmp"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "{\"file\":\"" + dir +
                  "/small.bmp\",\"kind\":\"bmp\",\"width\":2,\"height\":2,\"channels\":3}\n");
    EXPECT_EQ(readFile(dir + "/small.rgb"),
              (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}));

    const std::string corpusJpeg = std::string(TUHKALA_CORPUS_DIR) + "/3ds/assimp-nonbsd/jeep1.jpg";
    Bytes jpeg = readFile(corpusJpeg);
    if (jpeg.empty()) {
        GTEST_SKIP() << "no corpus";
    }
    ToolRun j = inspect({"--json", "--dump-pixels", dir + "/jeep.rgb", corpusJpeg});
    EXPECT_EQ(j.status, 0);
    EXPECT_EQ(j.out, "{\"file\":\"" + corpusJpeg +
                         "\",\"kind\":\"jpeg\",\"width\":512,\"height\":512,\"channels\":3}\n");
    int w = 0, h = 0, c = 0;
    unsigned char* pixels = decodeJpeg(&w, &h, &c, jpeg.data(), static_cast<int>(jpeg.size()));
    ASSERT_NE(pixels, nullptr);
    EXPECT_EQ(readFile(dir + "/jeep.rgb"), Bytes(pixels, pixels + 512 * 512 * 3));
    free(pixels);
}

TEST(Inspect, ExitStatus) {
    std::string dir = scratchDir("inspect");
    ASSERT_TRUE(writeFile(dir + "/small.bmp", smallBmp()));
    ASSERT_TRUE(
        writeFile(dir + "/v5.bmp", cat({Bytes{'B', 'M'}, u32(0), u32(0), u32(0), u32(124)})));
    ASSERT_TRUE(writeFile(dir + "/notes.txt", Bytes{'h', 'i'}));

    EXPECT_EQ(inspect({dir + "/small.bmp"}).status, 0);
    ToolRun rejected = inspect({"--json", dir + "/v5.bmp"});
    EXPECT_EQ(rejected.status, 1);
    EXPECT_EQ(rejected.out,
              "{\"file\":\"" + dir +
                  "/v5.bmp\",\"kind\":\"bmp\",\"error\":\"Unknown DIB file format.\"}\n");
    EXPECT_EQ(inspect({dir + "/missing.jpg"}).status, 1);
    EXPECT_EQ(inspect({dir + "/notes.txt"}).status, 1);
    ToolRun missing3ds = inspect({"--json", dir + "/missing.3ds"});
    EXPECT_EQ(missing3ds.status, 1);
    EXPECT_NE(missing3ds.out.find("\"loaded\":0"), std::string::npos);
    // One bad file among good ones: every file is still reported, status 1.
    ToolRun mixed = inspect({"--json", dir + "/small.bmp", dir + "/v5.bmp", dir + "/small.bmp"});
    EXPECT_EQ(mixed.status, 1);
    EXPECT_EQ(lineCount(mixed.out), 3);
    EXPECT_EQ(inspect({}).status, 2);
    EXPECT_EQ(inspect({"--bogus", dir + "/small.bmp"}).status, 2);
    EXPECT_EQ(inspect({"--dump-pixels", dir + "/x", dir + "/small.bmp", dir + "/small.bmp"}).status,
              2);
}

TEST(Inspect, EveryCorpusFileWithoutACrash) {
    std::string corpus = TUHKALA_CORPUS_DIR;
    if (!std::filesystem::is_directory(corpus)) {
        GTEST_SKIP() << "no corpus at " << corpus;
    }
    for (const char* sub : {"3ds", "bmp", "jpeg"}) {
        std::vector<std::string> files;
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(corpus + "/" + sub)) {
            if (entry.is_regular_file() && entry.path().filename() != "SOURCES.md") {
                files.push_back(entry.path().string());
            }
        }
        std::vector<std::string> args = {"--json"};
        args.insert(args.end(), files.begin(), files.end());
        ToolRun run = inspect(args);
        // 0 or 1, never a signal; one JSON line for every file.
        EXPECT_TRUE(run.status == 0 || run.status == 1) << sub << " status " << run.status;
        EXPECT_EQ(lineCount(run.out), static_cast<int>(files.size())) << sub;
    }
}
