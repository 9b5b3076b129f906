#include "engine/FileOperation.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "engine/errors.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::Sorted;
using testsupport::SortedPaths;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// src/ with a/c/, b/, an empty folder, hidden items and files of several kinds.
struct SourceTree {
    TempDir dir;
    std::string src;
    SourceTree() : src(dir.folder() + "src/") {
        MakeDir(src);
        for (const char* d : {"a", "a/c", "b", "empty", ".hid", ".hid/inner"}) MakeDir(src + d);
        WriteFile(src + "top.txt", "top");
        WriteFile(src + "top.jpg", "jpg");
        WriteFile(src + ".dot.txt", "dot");
        WriteFile(src + "a/one.TXT", "one");
        WriteFile(src + "a/c/deep.md", "deep");
        WriteFile(src + "b/two.jpg", "two");
        WriteFile(src + ".hid/h.txt", "h");
        WriteFile(src + ".hid/inner/.hh.txt", "hh");
    }
    std::vector<std::string> Folders(TFileOperation& op, bool hidden) const {
        std::vector<std::string> list;
        op.CollectFolders(src, list, hidden);
        list.insert(list.begin(), src);
        return list;
    }
    std::string FilterFile(const std::string& text) const {
        const std::string path = dir.folder() + "filter.dat";
        WriteFile(path, text);
        return path;
    }
};

}  // namespace

TEST(CollectFolders, PreOrderWalkWithHiddenRule) {
    SourceTree t;
    TFileOperation op;
    const auto folders = t.Folders(op, false);
    EXPECT_EQ(Sorted(folders), Sorted({t.src, t.src + "a/", t.src + "a/c/", t.src + "b/", t.src + "empty/"}));
    // Pre-order: a parent comes right before its subtree.
    const auto a = std::find(folders.begin(), folders.end(), t.src + "a/");
    ASSERT_NE(a, folders.end());
    EXPECT_EQ(*(a + 1), t.src + "a/c/");

    TFileOperation op2;
    const auto withHidden = t.Folders(op2, true);
    EXPECT_EQ(withHidden.size(), 7u);
    EXPECT_TRUE(op.Problems.empty());
}

TEST(CollectFolders, HiddenSourceFolderIsWalkedAndListIsNotCleared) {
    SourceTree t;
    TFileOperation op;
    std::vector<std::string> list{"keep"};
    op.CollectFolders(t.src + ".hid/", list, false);
    EXPECT_EQ(list, (std::vector<std::string>{"keep", t.src + ".hid/inner/"}));
}

TEST(CollectFiles, HiddenFilesNeedTheirFlagAndHiddenFoldersBoth) {
    SourceTree t;
    TFileOperation op;
    auto folders = t.Folders(op, false);
    PathList files;
    op.CollectFiles(folders, false, false, files);
    EXPECT_EQ(SortedPaths(files), Sorted({t.src + "top.txt", t.src + "top.jpg", t.src + "a/one.TXT",
                                          t.src + "a/c/deep.md", t.src + "b/two.jpg"}));
    TFileOperation op2;
    folders = t.Folders(op2, false);
    op2.CollectFiles(folders, false, true, files);
    EXPECT_EQ(files.size(), 6u);  // + .dot.txt, nothing of .hid
    TFileOperation op3;
    folders = t.Folders(op3, true);
    op3.CollectFiles(folders, false, false, files);
    EXPECT_EQ(files.size(), 6u);  // + .hid/h.txt, not .hh.txt
    TFileOperation op4;
    folders = t.Folders(op4, true);
    op4.CollectFiles(folders, false, true, files);
    EXPECT_EQ(files.size(), 8u);
}

TEST(CollectFiles, FilterGroupsByRowOrderListsDoublesAndIgnoresOtherRows) {
    SourceTree t;
    TFileOperation op;
    op.LoadFilter(
        t.FilterFile("\"2\",\"1\",\"日付フィルタ\",\"0\",\"0\"\r\n"
                     "\"1\",\"1\",\"画像\",\"jpg\",\r\n"
                     "\"1\",\"0\",\"無効\",\"md\",\r\n"
                     "\"1\",\"1\",\"テキスト\",\"  txt \",\r\n"
                     "\"1\",\"1\",\"空\",\"\",\r\n"
                     "\"1\",\"1\",\"また画像\",\"JPG\""));
    EXPECT_EQ(op.ExtensionList, (std::vector<std::string>{"jpg", "  txt ", "", "JPG"}));
    const auto folders = t.Folders(op, false);
    PathList files{"stale"};
    op.CollectFiles(folders, true, false, files);
    // Within the source folder: jpg, then txt, then jpg again.
    std::vector<std::string> top;
    for (const auto& f : files)
        if (f.find('/', t.src.size()) == std::string::npos) top.emplace_back(f);
    EXPECT_EQ(top, (std::vector<std::string>{t.src + "top.jpg", t.src + "top.txt", t.src + "top.jpg"}));
    EXPECT_EQ(std::count(files.begin(), files.end(), t.src + "b/two.jpg"), 2);
    EXPECT_EQ(std::count(files.begin(), files.end(), t.src + "a/one.TXT"), 1);
    EXPECT_EQ(std::count(files.begin(), files.end(), t.src + "a/c/deep.md"), 0);
}

TEST(CollectFiles, FilterWithoutEnabledRowsCollectsNothing) {
    SourceTree t;
    TFileOperation op;
    op.LoadFilter(t.FilterFile("\"2\",\"0\",\"日付フィルタ\",\"0\",\"0\"\r\n\"1\",\"0\",\"x\",\"txt\","));
    EXPECT_TRUE(op.ExtensionList.empty());
    PathList files;
    op.CollectFiles(t.Folders(op, true), true, true, files);
    EXPECT_TRUE(files.empty());
}

TEST(CollectFiles, WorksOnFoldersThatWereNotWalked) {
    SourceTree t;
    TFileOperation op;
    PathList files;
    op.CollectFiles({t.src + "a/", t.src + "b/"}, false, false, files);
    EXPECT_EQ(SortedPaths(files), Sorted({t.src + "a/one.TXT", t.src + "b/two.jpg"}));
}

TEST(LoadFilter, MissingFileRaisesAndClearsTheOldFilter) {
    TFileOperation op;
    op.ExtensionList = {"old"};
    EXPECT_THROW(op.LoadFilter("/nonexistent/filter.dat"), TessarineError);
    EXPECT_TRUE(op.ExtensionList.empty());
}

TEST(Collection, UnreadableFolderIsSkippedAndRecorded) {
    SourceTree t;
    ::chmod((t.src + "a").c_str(), 0);
    const int status = testsupport::RunUnprivileged([&] {
        TFileOperation op;
        std::vector<std::string> folders;
        op.CollectFolders(t.src, folders, false);
        folders.insert(folders.begin(), t.src);
        PathList files;
        op.CollectFiles(folders, false, false, files);
        // a/ is listed (it exists) but not entered; its file is missing.
        if (std::find(folders.begin(), folders.end(), t.src + "a/") == folders.end()) return 1;
        if (std::find(folders.begin(), folders.end(), t.src + "a/c/") != folders.end()) return 2;
        if (files.size() != 3) return 3;
        if (op.Problems.size() != 1 || op.Problems[0].path != t.src + "a/") return 4;
        return 0;
    });
    EXPECT_EQ(status, 0);
}

TEST(StripRoot, ByteForByte) {
    EXPECT_EQ(TFileOperation::StripRoot("/w/src/a/f.txt", "/w/src/"), "a/f.txt");
    EXPECT_EQ(TFileOperation::StripRoot("/w/src/", "/w/src/"), "");
    EXPECT_EQ(TFileOperation::StripRoot("/w/SRC/a", "/w/src/"), "/w/SRC/a");
    EXPECT_EQ(TFileOperation::StripRoot("/w/s", "/w/src/"), "/w/s");
    EXPECT_EQ(TFileOperation::StripRoot("/w/a", ""), "/w/a");
    EXPECT_EQ(TFileOperation::StripRoot("/w/src/a", "/w/src"), "/a");
}

TEST(MakeFolder, CreatesMissingParentsAndAcceptsTrailingSeparator) {
    TempDir dir;
    TFileOperation op;
    op.MakeFolder(dir.folder() + "x/y/z/");
    EXPECT_TRUE(FolderExists(dir.folder() + "x/y/z"));
    op.MakeFolder(dir.folder() + "x/y/z");   // exists: nothing to do
    op.MakeFolder(dir.folder() + "表/ソ/");  // multi-byte names
    EXPECT_TRUE(FolderExists(dir.folder() + "表/ソ"));
    EXPECT_TRUE(op.Problems.empty());
    WriteFile(dir.folder() + "file", "");
    op.MakeFolder(dir.folder() + "file/sub/");
    ASSERT_EQ(op.Problems.size(), 1u);
}

TEST(CopyOneFile, ContentModeTimeAndReplacement) {
    TempDir dir;
    TFileOperation op;
    const std::string src = dir.folder() + "src.bin";
    std::string content(300000, '\0');
    for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    WriteFile(src, content);
    ::chmod(src.c_str(), 0444);
    const timespec times[2] = {{1000000000, 0}, {1234567890, 123456789}};
    ::utimensat(AT_FDCWD, src.c_str(), times, 0);

    const std::string dst = dir.folder() + "dst.bin";
    WriteFile(dst, "an older, longer target that must be replaced entirely ........");
    ::chmod(dst.c_str(), 0444);
    op.CopyOneFile(src, dst);
    EXPECT_TRUE(op.Problems.empty());
    EXPECT_EQ(ReadFile(dst), content);
    struct stat st {};
    ::stat(dst.c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1234567890);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);

    // Empty file.
    WriteFile(dir.folder() + "empty", "");
    op.CopyOneFile(dir.folder() + "empty", dir.folder() + "empty.copy");
    EXPECT_EQ(ReadFile(dir.folder() + "empty.copy"), "");
}

TEST(CopyOneFile, LinkStaysLinkAndTargetLinkIsNotWrittenThrough) {
    TempDir dir;
    TFileOperation op;
    WriteFile(dir.folder() + "victim", "keep me");
    ::symlink("../somewhere/else", (dir.folder() + "link").c_str());
    op.CopyOneFile(dir.folder() + "link", dir.folder() + "link.copy");
    char buf[64] = {};
    ASSERT_GT(::readlink((dir.folder() + "link.copy").c_str(), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "../somewhere/else");

    // A target that is a link to another file is replaced, not followed.
    ::symlink("victim", (dir.folder() + "t").c_str());
    WriteFile(dir.folder() + "s", "new");
    op.CopyOneFile(dir.folder() + "s", dir.folder() + "t");
    EXPECT_EQ(ReadFile(dir.folder() + "victim"), "keep me");
    EXPECT_EQ(ReadFile(dir.folder() + "t"), "new");
    EXPECT_TRUE(op.Problems.empty());
}

TEST(CopyOneFile, NamedPipeIsRecreatedWithoutBlocking) {
    TempDir dir;
    TFileOperation op;
    ASSERT_EQ(::mkfifo((dir.folder() + "pipe").c_str(), 0600), 0);
    op.CopyOneFile(dir.folder() + "pipe", dir.folder() + "pipe.copy");
    struct stat st {};
    ASSERT_EQ(::lstat((dir.folder() + "pipe.copy").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(CopyOneFile, FailuresAreRecorded) {
    TempDir dir;
    TFileOperation op;
    op.CopyOneFile(dir.folder() + "missing", dir.folder() + "out");
    op.CopyOneFile(dir.folder() + "missing", dir.folder() + "nofolder/out");
    WriteFile(dir.folder() + "present", "x");
    op.CopyOneFile(dir.folder() + "present", dir.folder() + "nofolder/out");
    ASSERT_EQ(op.Problems.size(), 3u);
    EXPECT_EQ(op.Problems[2].path, dir.folder() + "nofolder/out");
    EXPECT_TRUE(op.Problems[2].reason);
}

TEST(ListFile, CrLfAfterEveryLineEmptyListIsEmptyFile) {
    TempDir dir;
    const std::string path = dir.folder() + "list.txt";
    SaveListFile(path, {"/src/", "/src/a/"});
    EXPECT_EQ(ReadFile(path), "/src/\r\n/src/a/\r\n");
    SaveListFile(path, {});
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_THROW(SaveListFile(dir.folder() + "missing/list.txt", {"x"}), TessarineError);
}
