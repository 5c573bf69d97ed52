// tuhkala-inspect under an address-space limit, on a mesh file whose counts
// claim far more records than it holds: the reader must size its arrays by
// the bytes, not the counts, and so keep every mesh within a small limit.
//
// Test thread; runs the tool from the build folder. Sizes in bytes.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/builders.h"
#include "tests/support/kit.h"

using namespace kit;

namespace {

// Objects, each a mesh with a vertex chunk whose count says 32767 and 100
// face-group chunks whose counts say 32767, with no records behind any count:
// 1000 of them make 0.9 MB that asked for about 20 GB when counts sized the
// arrays.
Bytes countBomb(int objects) {
    Bytes mesh = chunk(0x4110, {u16(32767)});
    for (int g = 0; g < 100; g++) {
        mesh = cat({mesh, chunk(0x4130, {str(""), u16(32767)})});
    }
    Bytes object = chunk(0x4000, {str("o"), chunk(0x4100, {mesh})});
    Bytes editor; // appended in place: copying it whole for each object takes seconds
    for (int i = 0; i < objects; i++) {
        editor.insert(editor.end(), object.begin(), object.end());
    }
    return chunk(0x4D4D, {chunk(0x3D3D, {editor})});
}

} // namespace

// An address-space limit cannot work under AddressSanitizer (it reserves its
// shadow memory up front); the sanitizer stage leaves this test out by name.
TEST(AddressLimit, InspectKeepsEveryMeshOfACountBomb) {
    // The fuzz seed has its shape but few objects: each run of it stays fast.
    keepSeed("3ds", "count-bomb.3ds", countBomb(10));
    const std::string path = scratchDir("address-limit") + "/count-bomb.3ds";
    ASSERT_TRUE(writeFile(path, countBomb(1000)));
    const RunResult r =
        run("ulimit -v 262144 && exec " + quote(TUHKALA_BINARY_DIR "/tuhkala-inspect") + " " +
            quote(path) + " 2>&1");
    const std::string& text = r.out;
    EXPECT_EQ(r.status, 0) << text.substr(0, 2000);
    EXPECT_EQ(text.substr(0, text.find('\n')), path + ": 3ds, 1000 meshes, 0 materials");
    EXPECT_NE(text.find("  mesh 999 \"o\": 0 vertices, 0 faces, 100 groups\n"), std::string::npos);
}
