// tuhkala-inspect run as a program on files written here: its JSON and text
// reports, its pixel dumps and its exit status.
//
// Test thread; runs the tool from the build folder. Sizes in pixels.
#include <gtest/gtest.h>

#include "tests/support/builders.h"
#include "tests/support/kit.h"

using namespace kit;

namespace {

RunResult inspect(const std::vector<std::string>& args) {
    std::string command = quote(TUHKALA_BINARY_DIR "/tuhkala-inspect");
    for (const std::string& arg : args)
        command += " " + quote(arg);
    return run(command + " 2>&1");
}

// 2x2, 24 bits: bottom row red, green; top row blue, white.
Bytes smallBmp() {
    return bmpFile(infoHeader(2, 2, 24),
                   Bytes{0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0});
}

} // namespace

TEST(Inspect, MeshReportsWithAwkwardNames) {
    const std::string dir = scratchDir("inspect");
    const Bytes file =
        file3ds({material("q\"b\\ ~\x1f\x7f\xe9",
                          {chunk(0xA010, {color24(51, 102, 153)}),
                           chunk(0xA020, {color24(255, 0, 51)}), chunk(0xA050, {intPercent(50)})}),
                 object("Box", {triMesh({vertexChunk({0, 0, 0, 1, 0, 0, 0, 1, 0}),
                                         faceChunk({0, 1, 2}, {groupChunk("zz", {0})})})})});
    ASSERT_TRUE(writeFile(dir + "/odd.3ds", file));
    const RunResult json = inspect({"--json", dir + "/odd.3ds"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out,
              "{\"file\":\"" + dir +
                  "/odd.3ds\",\"kind\":\"3ds\",\"loaded\":1,\"meshes\":[{\"name\":\"Box\","
                  "\"vertexCount\":3,\"faceCount\":1,\"groupCount\":1,\"groups\":[{"
                  "\"materialIndex\":1,\"faceCount\":1}]}],\"materials\":[{\"name\":"
                  "\"q\\\"b\\\\ "
                  "~\\u001f\\u007f\\u00e9\",\"flags\":0,\"ambient\":[0.200000018,0.400000036,"
                  "0.600000024],\"diffuse\":[1,0,0.200000018],\"specular\":[0,0,0],\"opacity\":0.5,"
                  "\"additive\":0,\"mapName\":\"\"}]}\n");
    const RunResult text = inspect({dir + "/odd.3ds"});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("mesh 0 \"Box\": 3 vertices, 1 faces, 1 groups"), std::string::npos);
    EXPECT_NE(text.out.find("group 0: material 1 (none), 1 faces"), std::string::npos);
    EXPECT_NE(text.out.find("material 0 \"q\"b\\x5c ~\\x1f\\x7f\\xe9\": flags 0, ambient "
                            "(0.200000018, 0.400000036, 0.600000024), diffuse (1, 0, 0.200000018)"),
              std::string::npos)
        << text.out;
    // A name chunk that claims 12 bytes more than its material holds ends
    // with the material: the name does not run on into the next material.
    ASSERT_TRUE(
        writeFile(dir + "/overrun.3ds",
                  file3ds({chunk(0xAFFF, {chunk(0xA000, {Bytes{'a', 'b'}}, 20)}), material("x")})));
    const std::string overrun = inspect({dir + "/overrun.3ds"}).out;
    EXPECT_NE(overrun.find("material 0 \"ab\": "), std::string::npos) << overrun;
    EXPECT_NE(overrun.find("material 1 \"x\": "), std::string::npos) << overrun;
}

TEST(Inspect, PicturesTheirDumpsAndTheExitStatus) {
    const std::string dir = scratchDir("inspect");
    const std::string bmp = dir + "/small.bmp", jpeg = dir + "/grey.jpg";
    ASSERT_TRUE(writeFile(bmp, smallBmp()));
    ASSERT_TRUE(writeFile(jpeg, encodeJpeg(8, 8, 1, Bytes(64, 200))));
    ASSERT_TRUE(
        writeFile(dir + "/v5.bmp", cat({Bytes{'B', 'M'}, u32(0), u32(0), u32(0), u32(124)})));
    // Not JPEG bytes: only the name's rarest JPEG ending, in capitals, says
    // what it should be.
    ASSERT_TRUE(writeFile(dir + "/junk.JPE", Bytes{'h', 'i'}));
    ASSERT_TRUE(writeFile(dir + "/notes.txt", Bytes{'h', 'i'}));
    // No ending: the first two bytes say what a file should be.
    ASSERT_TRUE(writeFile(dir + "/bm", Bytes{'B', 'M'}) &&
                writeFile(dir + "/mm", Bytes{'M', 'M'}) &&
                writeFile(dir + "/ff", Bytes{0xFF, 0xD8}));
    ASSERT_TRUE(writeFile(dir + "/sample.3ds", sampleModel()));
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out; // the whole output (messages first), or what it begins with
    } cases[] = {
        {{"--json", "--dump-pixels", dir + "/small.rgb", bmp},
         0,
         "{\"file\":\"" + bmp + "\",\"kind\":\"bmp\",\"width\":2,\"height\":2,\"channels\":3}\n"},
        {{"--json", "--dump-pixels", dir + "/grey.raw", jpeg},
         0,
         "{\"file\":\"" + jpeg + "\",\"kind\":\"jpeg\",\"width\":8,\"height\":8,\"channels\":1}\n"},
        {{"--json", dir + "/v5.bmp"},
         1,
         "tuhkala-inspect: " + dir + "/v5.bmp: Unknown DIB file format.\n{\"file\":\"" + dir +
             "/v5.bmp\",\"kind\":\"bmp\",\"error\":\"Unknown DIB file format.\"}\n"},
        {{"--json", dir + "/junk.JPE"},
         1,
         "tuhkala-inspect: " + dir +
             "/junk.JPE: not a JPEG picture the decoder accepts\n{\"file\":\"" + dir +
             "/junk.JPE\",\"kind\":\"jpeg\",\"error\":"},
        {{"--json", dir + "/missing.3ds"},
         1,
         "tuhkala-inspect: " + dir + "/missing.3ds: cannot be opened\n{\"file\":\"" + dir +
             "/missing.3ds\",\"kind\":\"3ds\",\"loaded\":0"},
        {{dir + "/notes.txt"},
         1,
         "tuhkala-inspect: " + dir + "/notes.txt: neither a .3ds, .bmp nor .jpg file\n"},
        {{dir + "/bm"}, 1, "tuhkala-inspect: " + dir + "/bm: Unknown DIB file format.\n"},
        {{dir + "/mm"}, 1, "tuhkala-inspect: " + dir + "/mm: not a 3D Studio file"},
        {{dir + "/ff"}, 1, "tuhkala-inspect: " + dir + "/ff: not a JPEG picture"},
        {{"--dump-pixels", dir + "/no/such/folder.rgb", bmp},
         1,
         "tuhkala-inspect: cannot write " + dir + "/no/such/folder.rgb\n"},
        {{"--dump-pixels", dir + "/mesh.rgb", dir + "/sample.3ds"},
         1,
         "tuhkala-inspect: " + dir +
             "/sample.3ds: --dump-pixels needs a picture, not a mesh file\n"},
        {{}, 2, ""},
        {{"--bogus", bmp}, 2, ""},
        {{"--dump-pixels", dir + "/x", bmp, bmp}, 2, ""},
    };
    for (const auto& c : cases) {
        const RunResult r = inspect(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back();
        EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << c.args.back();
    }
    EXPECT_EQ(readFile(dir + "/small.rgb"),
              (Bytes{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}));
    const Bytes grey = readFile(dir + "/grey.raw");
    ASSERT_EQ(grey.size(), 64u);
    EXPECT_NEAR(grey[63], 200, 2);
    // One bad file among good ones: every file is still reported, status 1.
    const RunResult mixed = inspect({"--json", bmp, dir + "/v5.bmp", dir + "/junk.JPE", bmp});
    EXPECT_EQ(mixed.status, 1);
    EXPECT_EQ(std::count(mixed.out.begin(), mixed.out.end(), '\n'), 4 + 2); // and two messages
    // A name shorter than any ending has none: its bytes decide, as above.
    const RunResult shortName = run("cd " + quote(dir) + " && " +
                                    quote(TUHKALA_BINARY_DIR "/tuhkala-inspect") + " bm 2>&1");
    EXPECT_EQ(shortName.status, 1);
    EXPECT_EQ(shortName.out, "tuhkala-inspect: bm: Unknown DIB file format.\n");
}
