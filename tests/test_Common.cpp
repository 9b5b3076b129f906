#include "engine/Common.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "test_support.h"

using namespace tessarine;
using testsupport::MakeDir;
using testsupport::Sorted;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// A folder with a visible and a hidden file and subfolder, and a link to a folder.
struct SampleFolder {
    TempDir dir;
    SampleFolder() {
        WriteFile(dir.path() + "/a.txt", "a");
        WriteFile(dir.path() + "/B.TXT", "b");
        WriteFile(dir.path() + "/.hidden.txt", "h");
        WriteFile(dir.path() + "/noext", "n");
        MakeDir(dir.path() + "/sub");
        MakeDir(dir.path() + "/.hsub");
        ::symlink("sub", (dir.path() + "/linkdir").c_str());
    }
};
}  // namespace

TEST(TCommon, ListFilesAppliesPatternAndHiddenRuleAndTakesLinksAsFiles) {
    SampleFolder s;
    TCommon common;
    std::vector<std::string> list{"stale"};
    const std::string f = s.dir.folder();
    EXPECT_TRUE(common.ListFiles(f, "*.*", false, list));
    EXPECT_EQ(Sorted(list), Sorted({f + "a.txt", f + "B.TXT", f + "noext", f + "linkdir"}));
    common.ListFiles(f, "*.*", true, list);
    EXPECT_EQ(list.size(), 5u);
    common.ListFiles(f, "*.txt", false, list);
    EXPECT_EQ(Sorted(list), Sorted({f + "a.txt", f + "B.TXT"}));
}

TEST(TCommon, ListSubfoldersNeverTakesLinksOrDots) {
    SampleFolder s;
    TCommon common;
    std::vector<std::string> list;
    const std::string f = s.dir.folder();
    common.ListSubfolders(f, false, list);
    EXPECT_EQ(list, std::vector<std::string>{f + "sub/"});
    common.ListSubfolders(f, true, list);
    EXPECT_EQ(Sorted(list), Sorted({f + ".hsub/", f + "sub/"}));
}

TEST(TCommon, ListNamesDropsNothing) {
    SampleFolder s;
    TCommon common;
    std::vector<std::string> list;
    common.ListNames(s.dir.path(), "*.*", list);
    EXPECT_EQ(Sorted(list), Sorted({".", "..", "a.txt", "B.TXT", ".hidden.txt", "noext", "sub", ".hsub", "linkdir"}));
    common.ListNames(s.dir.path(), "*.txt", list);
    EXPECT_EQ(Sorted(list), Sorted({"a.txt", "B.TXT", ".hidden.txt"}));
}

TEST(TCommon, UnreadableFolderGivesNothingAndSaysSo) {
    TCommon common;
    std::vector<std::string> list{"stale"};
    int error = 0;
    EXPECT_FALSE(common.ListFiles("/nonexistent-folder/", "*.*", true, list));
    EXPECT_TRUE(list.empty());
    EXPECT_FALSE(ReadFolder(
        "/nonexistent-folder/", [](const FolderEntry&) {}, &error));
    EXPECT_EQ(error, ENOENT);
}

TEST(TCommon, EnsureFolderAndUserFolder) {
    TempDir dir;
    TCommon common;
    const std::string folder = dir.path() + "/user";
    EXPECT_EQ(common.EnsureFolder(folder), 1);
    EXPECT_TRUE(FolderExists(folder));
    EXPECT_EQ(common.EnsureFolder(folder), 0);
    // The parent must exist: nothing is created and the attempt still says 1.
    EXPECT_EQ(common.EnsureFolder(dir.path() + "/x/y"), 1);
    EXPECT_FALSE(FolderExists(dir.path() + "/x"));

    std::string userFolder;
    EXPECT_TRUE(common.EnsureUserFolder(folder + "/", userFolder));
    EXPECT_FALSE(common.UserName.empty());
    EXPECT_EQ(userFolder, folder + "/" + common.UserName);
    EXPECT_TRUE(FolderExists(userFolder));
    EXPECT_FALSE(common.EnsureUserFolder(folder + "/", userFolder));
}
