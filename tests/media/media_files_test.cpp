// The generated tavara/ of the build is the same on every run, byte for byte,
// so the reference frames (which pin how the pictures and meshes look, and
// the capture's check that every texture map a mesh names exists) hold on
// any machine.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "tests/support/kit.h"

using namespace kit;

const std::string BUILD = TUHKALA_BINARY_DIR;

// A second run of the generator, here, against the build's own run.
TEST(GeneratedMedia, GeneratorWritesTheSameBytesEveryRunAsInTheBuild) {
    const std::string base = scratchDir("media-") + std::to_string(getpid());
    ASSERT_EQ(run("mkdir -p " + quote(base) + " && " + quote(BUILD + "/tuhkala-media") + " " +
                  quote(base) + " pictures meshes")
                  .status,
              0);
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(base)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(readFile(base + "/" + name), readFile(BUILD + "/tavara/" + name)) << name;
        ++files;
    }
    EXPECT_GE(files, 28); // 18 pictures, 6 meshes, their texture maps
    run("rm -rf " + quote(base));
}
