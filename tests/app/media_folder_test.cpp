// The media lookup: which folder wins when several hold tavara/, and what a
// failed lookup says.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/media_folder.h"

namespace {
namespace fs = std::filesystem;

struct Tree {
    fs::path root;
    fs::path work; // the working directory
    fs::path bin;  // the program's folder
    fs::path share;
};

Tree makeTree() {
    char dir[] = "/tmp/tuhkala-media-XXXXXX";
    EXPECT_NE(mkdtemp(dir), nullptr);
    Tree t{dir, fs::path(dir) / "work", fs::path(dir) / "usr" / "bin",
           fs::path(dir) / "usr" / "share" / "tuhkalademo"};
    for (const fs::path& p : {t.work, t.bin, t.share})
        fs::create_directories(p);
    return t;
}

TEST(MediaFolder, FirstFolderHoldingTavaraWins) {
    const Tree t = makeTree();
    const fs::path before = fs::current_path();
    ASSERT_EQ(chdir(t.work.c_str()), 0);
    const std::vector<std::string> all = {t.work, t.bin, t.share};
    struct Case {
        std::vector<int> holders; // indices into all that get a tavara/ folder
        int expected;             // index of the winner, -1 for none
    };
    const Case cases[] = {{{0, 1, 2}, 0}, {{1, 2}, 1}, {{2}, 2}, {{}, -1}};
    for (const Case& c : cases) {
        for (const std::string& folder : all)
            fs::remove_all(fs::path(folder) / "tavara");
        for (int i : c.holders)
            fs::create_directory(fs::path(all[i]) / "tavara");
        // The program folder as a path with "..", as a launcher may give it.
        const platform::MediaSearch search =
            platform::findMediaFolder((t.bin / ".." / "bin").string());
        EXPECT_EQ(search.folder, c.expected < 0 ? "" : all[c.expected]) << c.holders.size();
        EXPECT_EQ(search.looked, all);
    }
    // A file named tavara is no media folder; without a program folder only the
    // working directory is tried, and a program started from its own folder
    // tries that folder once.
    std::fclose(std::fopen((t.work / "tavara").c_str(), "w"));
    const platform::MediaSearch alone = platform::findMediaFolder("");
    EXPECT_EQ(alone.folder, "");
    EXPECT_EQ(alone.looked, std::vector<std::string>{t.work.string()});
    const std::vector<std::string> once = {t.work, (t.root / "share" / "tuhkalademo").string()};
    EXPECT_EQ(platform::findMediaFolder(t.work.string()).looked, once);
    ASSERT_EQ(chdir(before.c_str()), 0);
    fs::remove_all(t.root);
}

TEST(MediaFolder, ShowSaysOnceWhereItLookedAndStaysPut) {
    const Tree t = makeTree();
    const fs::path before = fs::current_path();
    ASSERT_EQ(chdir(t.work.c_str()), 0);
    // This test program lives in the build's tests/ folder, which holds no
    // tavara/, and neither does the share folder beside it.
    testing::internal::CaptureStderr();
    EXPECT_FALSE(platform::enterMediaFolder("show"));
    const std::string tests = fs::path(TUHKALA_BINARY_DIR "/tests").lexically_normal().string();
    const std::string share =
        fs::path(TUHKALA_BINARY_DIR "/share/tuhkalademo").lexically_normal().string();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "show: no tavara/ folder in " +
                                                          t.work.string() + ", " + tests + " or " +
                                                          share + "\n");
    EXPECT_EQ(fs::current_path(), t.work);
    ASSERT_EQ(chdir(before.c_str()), 0);
    fs::remove_all(t.root);
}

} // namespace
