// Data files named the way the show names them, with backslashes, read from
// the working directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"

namespace {

TEST(DataPath, BackslashesBecomeSlashes) {
    EXPECT_EQ(platform::dataPath("tavara\\sub\\x.3ds"), "tavara/sub/x.3ds");
    EXPECT_EQ(platform::dataPath("tavara/already.jpg"), "tavara/already.jpg");
    EXPECT_EQ(platform::dataPath(""), "");
    EXPECT_EQ(platform::dataPath(nullptr), "");
}

TEST(DataFiles, ReadWholeEmptyAndMissingFiles) {
    char dir[] = "/tmp/tuhkala-data-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    ASSERT_EQ(chdir(dir), 0);
    std::filesystem::create_directory("tavara");
    // Larger than one read chunk, with every byte value.
    std::vector<unsigned char> bytes(200003);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + i / 256) & 0xFF);
    FILE* f = std::fopen("tavara/blob.bin", "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::fclose(std::fopen("tavara/empty.bin", "wb"));

    std::vector<unsigned char> got = {1, 2, 3};
    ASSERT_TRUE(platform::readDataFile("tavara\\blob.bin", got));
    EXPECT_TRUE(got == bytes);
    f = platform::openDataFile("tavara\\blob.bin", "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fgetc(f), bytes[0]);
    std::fclose(f);

    got = {9};
    ASSERT_TRUE(platform::readDataFile("tavara\\empty.bin", got));
    EXPECT_TRUE(got.empty());
    // Missing files and folders fail with nothing read.
    for (const char* path : {"tavara\\missing.jpg", "tavara"}) {
        got = {9, 9};
        EXPECT_FALSE(platform::readDataFile(path, got)) << path;
        EXPECT_TRUE(got.empty()) << path;
    }
    EXPECT_EQ(platform::openDataFile("tavara\\missing.jpg", "rb"), nullptr);
    EXPECT_EQ(platform::openDataFile(nullptr, "rb"), nullptr);
    std::filesystem::remove_all(dir);
}

} // namespace
