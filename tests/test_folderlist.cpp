// folderlist.dat: reading back what users and older versions left, writing
// the canonical form, and the filter lookup of a source folder.
#include <gtest/gtest.h>

#include "engine/datafile.h"
#include "engine/errors.h"
#include "folders/folderlist.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {
std::vector<RegisteredFolder> ReadText(const TempDir& dir, const std::string& text) {
    const std::string path = dir.path() + "/folderlist.dat";
    WriteFile(path, text);
    return ReadFolderList(path);
}
}  // namespace

TEST(FolderList, ReadsLinesInEveryAcceptedForm) {
    TempDir dir;
    const auto rows = ReadText(dir,
                               "\"1\",\"Docs\",\"Docs\",\"\",\"/home/u/Docs/\",\r\n"
                               "\r\n"                                                 // blank line: an empty row
                               "\" 1\",\"Pics\",\"P\",\"画像\",\"/home/u/Pics/\",\n"  // " 1" is not ticked
                               "  \"1\",\"  spaced \",\"s\",\"\",\"/a/\"  \r"         // blanks outside quotes ignored
                               "\"1\",\"NoComma\",\"N\",\"f\",\"/n/\"");              // no final comma, no line end
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_TRUE(rows[0].Enabled);
    EXPECT_EQ(rows[0].Name, "Docs");
    EXPECT_EQ(rows[0].FolderPath, "/home/u/Docs/");
    EXPECT_FALSE(rows[1].Enabled);
    EXPECT_EQ(rows[1].Name + rows[1].SaveFileName + rows[1].FilterName + rows[1].FolderPath, "");
    EXPECT_FALSE(rows[2].Enabled);
    EXPECT_EQ(rows[2].FilterName, "画像");
    EXPECT_EQ(rows[3].Name, "  spaced ");
    EXPECT_EQ(rows[3].FolderPath, "/a/");
    EXPECT_TRUE(rows[4].Enabled);
    EXPECT_EQ(rows[4].FilterName, "f");
    EXPECT_EQ(rows[4].FolderPath, "/n/");
}

TEST(FolderList, ExtraAndMissingFields) {
    // A value holding a quote and a comma shifts the fields; the sixth is
    // ignored. Missing fields read as empty.
    const RegisteredFolder shifted = ParseRegisteredFolder(R"("1","a","b",c","f","/p/",)");
    EXPECT_EQ(shifted.Name, "a");
    EXPECT_EQ(shifted.SaveFileName, "b");
    EXPECT_EQ(shifted.FilterName, "c");
    EXPECT_EQ(shifted.FolderPath, "f");
    const RegisteredFolder shortLine = ParseRegisteredFolder(R"("1","only name",)");
    EXPECT_TRUE(shortLine.Enabled);
    EXPECT_EQ(shortLine.Name, "only name");
    EXPECT_EQ(shortLine.FolderPath, "");
    // A typed double quote is stored and reads back without it.
    RegisteredFolder quoted;
    quoted.Name = "say \"hi\"";
    EXPECT_EQ(ParseRegisteredFolder(FormatRegisteredFolder(quoted)).Name, "say hi");
}

TEST(FolderList, ShiftJisFileFromTheWindowsVersion) {
    TempDir dir;
    // "1","表","表","ドキュメント","C:\表\", in code page 932: the second byte
    // of 表 is 0x5C, the byte of "\".
    const auto rows = ReadText(dir,
                               "\"1\",\"\x95\x5C\",\"\x95\x5C\",\"\x83\x68\x83\x4C\x83\x85\x83\x81\x83\x93\x83\x67\","
                               "\"C:\\\x95\x5C\\\",\r\n");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Name, "表");
    EXPECT_EQ(rows[0].FilterName, "ドキュメント");
    EXPECT_EQ(rows[0].FolderPath, "C:\\表\\");
}

TEST(FolderList, RewriteGivesTheWritersForm) {
    TempDir dir;
    const std::string path = dir.path() + "/folderlist.dat";
    WriteFile(path, "\"1\",\"A\",\"A\",\"\",\"/a/\"\n\n\"yes\",\"B\",\"B\",\"f\",\"/b/\",\"extra\",\n");
    WriteFolderList(path, ReadFolderList(path));
    EXPECT_EQ(ReadFile(path),
              "\"1\",\"A\",\"A\",\"\",\"/a/\",\r\n"
              "\"0\",\"\",\"\",\"\",\"\",\r\n"
              "\"0\",\"B\",\"B\",\"f\",\"/b/\",\r\n");
    WriteFolderList(path, {});
    EXPECT_EQ(ReadFile(path), "");
}

TEST(FolderList, MissingOrUnwritableFileRaises) {
    TempDir dir;
    const std::string missing = dir.path() + "/folderlist.dat";
    try {
        ReadFolderList(missing);
        FAIL() << "no error";
    } catch (const TessarineError& e) {
        EXPECT_EQ(std::string(e.what()), "ファイル " + missing + " は開けません");
    }
    const std::string noFolder = dir.path() + "/gone/folderlist.dat";
    try {
        WriteFolderList(noFolder, {RegisteredFolder{}});
        FAIL() << "no error";
    } catch (const TessarineError& e) {
        EXPECT_EQ(std::string(e.what()), "ファイル " + noFolder + " を作成できません");
    }
}

TEST(FolderList, EnabledFoldersAreTheTickedLines) {
    const std::vector<std::string> lines = {R"("0","A","A","","/a/",)", "", R"("1","B","B","","/b/",)",
                                            R"( "1","C","C","","/c/")"};
    const auto shown = EnabledFolders(lines);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].Name, "B");
    EXPECT_EQ(shown[1].FolderPath, "/c/");
    EXPECT_TRUE(EnabledFolders({R"("0","A","A","","/a/",)"}).empty());
}

TEST(FolderList, FilterLookupTakesTheLastExactMatch) {
    const std::vector<std::string> lines = {
        R"("1","A","A","text","/data/docs/",)", R"("1","B","B","","/data/other/",)",
        R"("0","A2","A2","images","/data/docs/",)",  // unticked, later: decides
    };
    EXPECT_EQ(RegisteredFilterName(lines, "/data/docs/"), "images");
    EXPECT_EQ(RegisteredFilterName(lines, "/data/other/"), "");
    EXPECT_EQ(RegisteredFilterName(lines, "/data/Docs/"), std::nullopt);  // letter case counts
    EXPECT_EQ(RegisteredFilterName(lines, "/data/docs"), std::nullopt);   // so does the trailing "/"
}

// Lists brought over or edited by hand: a byte-order mark, a short code page
// 932 list that also passes as UTF-8, and a FIFO in place of the file.
TEST(FolderList, ByteOrderMarkKeepsTheFirstRow) {
    TempDir dir;
    const auto rows = ReadText(dir, "\xEF\xBB\xBF\"1\",\"Docs\",\"Docs\",\"\",\"/d/\",\r\n");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0].Enabled);
    EXPECT_EQ(rows[0].Name, "Docs");
}

TEST(FolderList, FifoRaisesTheOpenErrorWithoutWaiting) {
    TempDir dir;
    const std::string path = dir.path() + "/folderlist.dat";
    const int writer = testsupport::MakeOpenFifo(path);
    const int status = testsupport::RunInChildWithin(20, [&] {
        try {
            ReadFolderList(path);
        } catch (const TessarineError&) {
            return 0;
        }
        return 1;
    });
    ::close(writer);
    EXPECT_EQ(status, 0);
}
