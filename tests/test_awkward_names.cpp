// Every name a file system can hold must be collected, copied and listed
// exactly, and link cycles must not make a walk hang.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "engine/FileOperation.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::Sorted;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const std::vector<std::string> kAwkwardNames = {
    "with blanks  in it ",
    "double\"quote",
    "back\\slash",
    "-leading-dash",
    "@leading-at",
    "star*and?question",
    "line\nbreak",
    "日本語のファイル名",
    "accentué é ñ ü",
    "emoji 😀🎉",
    std::string("invalid \xff\xfe utf8"),
    std::string("half \xe3\x81 char"),
    "表ソ十",
    " leading blank",
    "trailing.dot.",
    "\"\",\"",
    "semi;colon,comma",
    "$dollar`back`tick'quote",
};

}  // namespace

TEST(AwkwardNames, CollectedCopiedAndListedExactlyWithLinkCycles) {
    TempDir dir;
    const std::string src = dir.folder() + "src/";
    MakeDir(src);
    std::vector<std::string> expectedFiles;
    std::vector<std::string> expectedFolders{src};
    for (const auto& name : kAwkwardNames) {
        WriteFile(src + name, "content of " + name);
        expectedFiles.push_back(src + name);
        const std::string folder = src + name + " folder/";
        MakeDir(folder);
        expectedFolders.push_back(folder);
        WriteFile(folder + name, name);
        expectedFiles.push_back(folder + name);
    }
    // Link cycles: a link to the folder itself and one to the source's parent.
    ::symlink(".", (src + "self-loop").c_str());
    ::symlink("../..", (src + kAwkwardNames[0] + " folder/up-loop").c_str());
    expectedFiles.push_back(src + "self-loop");
    expectedFiles.push_back(src + kAwkwardNames[0] + " folder/up-loop");

    TFileOperation op;
    std::vector<std::string> folders;
    op.CollectFolders(src, folders, true);
    folders.insert(folders.begin(), src);
    PathList collected;
    op.CollectFiles(folders, false, true, collected);
    const std::vector<std::string> files(collected.begin(), collected.end());
    EXPECT_EQ(Sorted(folders), Sorted(expectedFolders));
    EXPECT_EQ(Sorted(files), Sorted(expectedFiles));

    // Copy the tree the way a copy job does.
    const std::string out = dir.folder() + "out";
    for (const auto& folder : folders) {
        const std::string rel = TFileOperation::StripRoot(folder, src);
        op.MakeFolder(rel.empty() ? out : out + "/" + rel);
    }
    for (const auto& file : files) op.CopyOneFile(file, out + "/" + TFileOperation::StripRoot(file, src));
    EXPECT_TRUE(op.Problems.empty()) << op.Problems.front().path << ": " << RenderMessage(op.Problems.front().reason);
    for (const auto& file : files) {
        const std::string rel = TFileOperation::StripRoot(file, src);
        struct stat st {};
        ASSERT_EQ(::lstat((out + "/" + rel).c_str(), &st), 0) << rel;
        if (S_ISLNK(st.st_mode)) continue;
        EXPECT_EQ(ReadFile(out + "/" + rel), ReadFile(file)) << rel;
    }
    char link[32] = {};
    ASSERT_GT(::readlink((out + "/self-loop").c_str(), link, sizeof link), 0);
    EXPECT_STREQ(link, ".");

    // The lists hold the names byte for byte, one per CR LF line; a name with
    // a line break is the one written escaped, on a line of its own that
    // begins with a backslash.
    SaveListFile(dir.folder() + "files.txt", collected);
    std::string expectedText;
    for (std::string f : files) {
        if (f.find('\n') != std::string::npos) {
            for (size_t at = f.find('\n'); at != std::string::npos; at = f.find('\n', at)) f.replace(at, 1, "\\n");
            f.insert(0, "\\");
        }
        expectedText += f + "\r\n";
    }
    EXPECT_EQ(ReadFile(dir.folder() + "files.txt"), expectedText);
}
