// Data files named the way the show names them, with backslashes, read from
// the working directory.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/platform.h"

namespace {

class DataFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tuhkala-data-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        ASSERT_EQ(mkdir((dir + "/tavara").c_str(), 0755), 0);
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override {
        if (!dir.empty())
            std::system(("rm -rf '" + dir + "'").c_str());
    }
    static void write(const std::string& path, const std::vector<unsigned char>& bytes) {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        if (!bytes.empty()) {
            ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        }
        std::fclose(f);
    }
    std::string dir;
};

TEST(DataPath, BackslashesBecomeSlashes) {
    EXPECT_EQ(platform::dataPath("tavara\\gay.jpg"), "tavara/gay.jpg");
    EXPECT_EQ(platform::dataPath("tavara\\sub\\x.3ds"), "tavara/sub/x.3ds");
    EXPECT_EQ(platform::dataPath("tavara/already.jpg"), "tavara/already.jpg");
    EXPECT_EQ(platform::dataPath("plain"), "plain");
    EXPECT_EQ(platform::dataPath(""), "");
    EXPECT_EQ(platform::dataPath(nullptr), "");
}

TEST_F(DataFiles, ReadsAWholeFileNamedWithBackslashes) {
    // Larger than one read chunk, with every byte value.
    std::vector<unsigned char> bytes(200003);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>((i * 7 + i / 256) & 0xFF);
    write("tavara/blob.bin", bytes);

    std::vector<unsigned char> got = {1, 2, 3};
    ASSERT_TRUE(platform::readDataFile("tavara\\blob.bin", got));
    EXPECT_EQ(got.size(), bytes.size());
    EXPECT_TRUE(got == bytes);

    FILE* f = platform::openDataFile("tavara\\blob.bin", "rb");
    ASSERT_NE(f, nullptr);
    unsigned char first[2] = {0, 0};
    ASSERT_EQ(std::fread(first, 1, 2, f), 2u);
    std::fclose(f);
    EXPECT_EQ(first[0], bytes[0]);
    EXPECT_EQ(first[1], bytes[1]);
}

TEST_F(DataFiles, EmptyFileReadsAsNoBytes) {
    write("tavara/empty.bin", {});
    std::vector<unsigned char> got = {9};
    ASSERT_TRUE(platform::readDataFile("tavara\\empty.bin", got));
    EXPECT_TRUE(got.empty());
}

TEST_F(DataFiles, MissingFilesAndFoldersFailWithNothingRead) {
    std::vector<unsigned char> got = {9, 9};
    EXPECT_FALSE(platform::readDataFile("tavara\\missing.jpg", got));
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(platform::openDataFile("tavara\\missing.jpg", "rb"), nullptr);

    got = {9};
    EXPECT_FALSE(platform::readDataFile("tavara", got));
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(platform::openDataFile(nullptr, "rb"), nullptr);
}

} // namespace
