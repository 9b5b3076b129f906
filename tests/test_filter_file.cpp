// Filter files: names, listing, reading back and writing.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/Common.h"
#include "engine/FileOperation.h"
#include "engine/errors.h"
#include "filters/filterfile.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(FilterFile, NameIsTheFileNameWithoutItsLastDot) {
    EXPECT_EQ(FilterNameOf("画像.dat"), "画像");
    EXPECT_EQ(FilterNameOf("a.b.dat"), "a.b");
    EXPECT_EQ(FilterNameOf(".dat"), "");
    EXPECT_EQ(FilterNameOf("x.DAT"), "x");
    EXPECT_EQ(FilterFilePath("/u/data", "a.b"), "/u/data/a.b.dat");
}

TEST(FilterFile, ListsEveryDatEntry) {
    TempDir dir;
    TCommon common;
    std::vector<std::string> names = {"stale"};
    ASSERT_TRUE(ListFilterNames(common, dir.path(), names));
    EXPECT_TRUE(names.empty());

    WriteFile(dir.path() + "/a.b.dat", "");
    WriteFile(dir.path() + "/Text.DAT", "garbage\n");
    WriteFile(dir.path() + "/notes.txt", "");
    WriteFile(dir.path() + "/dat", "");
    ASSERT_TRUE(ListFilterNames(common, dir.path(), names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Text", "a.b"}));
    EXPECT_FALSE(ListFilterNames(common, dir.path() + "/missing", names));
}

TEST(FilterFile, ReadsOnlyExtensionRows) {
    TempDir dir;
    const std::string path = dir.path() + "/f.dat";
    WriteFile(path,
              "\"2\",\"0\",\"日付フィルタ\",\"0\",\"0\"\r\n"
              "\"1\",\"1\",\"Text\",\"txt\",\r\n"
              "\r\n"
              "  \"1\",\"0\",\"Word\",\"doc\"  \n"  // trimmed, no final comma
              "\"1 \",\"1\",\"Bad\",\"bad\",\r\n"   // kind not exactly "1"
              "\"1\",\" 1\",\"Odd\",\"odd\",\r\n"   // not ticked
              "\"1\",\"1\",\"NoExt\",\r\n"
              "\"1\",\"1\",\"Dup\",\"txt\",");
    const auto rows = ReadFilterRows(path);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_TRUE(rows[0].Enabled);
    EXPECT_EQ(rows[0].SettingName, "Text");
    EXPECT_EQ(rows[0].Extension, "txt");
    EXPECT_FALSE(rows[1].Enabled);
    EXPECT_EQ(rows[1].Extension, "doc");
    EXPECT_FALSE(rows[2].Enabled);
    EXPECT_EQ(rows[3].Extension, "");
    EXPECT_EQ(rows[4].Extension, "txt");

    // The job's reader sees the same rows: the enabled extensions in order.
    TFileOperation op;
    op.LoadFilter(path);
    EXPECT_EQ(op.ExtensionList, (std::vector<std::string>{"txt", "", "txt"}));
}

TEST(FilterFile, ShiftJisFileFromTheWindowsVersion) {
    TempDir dir;
    const std::string path = dir.path() + "/sjis.dat";
    // "1","1","表","txt", in code page 932 (表 ends in the byte 0x5C).
    WriteFile(path, "\"2\",\"0\",\"\x93\xFA\x95\x74\",\"0\",\"0\"\r\n\"1\",\"1\",\"\x95\x5C\",\"txt\",\r\n");
    const auto rows = ReadFilterRows(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].SettingName, "表");
    EXPECT_EQ(rows[0].Extension, "txt");
}

TEST(FilterFile, WritesTheDateRowFirst) {
    TempDir dir;
    const std::string path = dir.path() + "/f.dat";
    WriteFilterRows(path, {});
    EXPECT_EQ(ReadFile(path), "\"2\",\"0\",\"日付フィルタ\",\"0\",\"0\"\r\n");
    WriteFilterRows(path, {{true, "Text", "txt"}, {false, "Word", "doc"}});
    EXPECT_EQ(ReadFile(path),
              "\"2\",\"0\",\"日付フィルタ\",\"0\",\"0\"\r\n"
              "\"1\",\"1\",\"Text\",\"txt\",\r\n"
              "\"1\",\"0\",\"Word\",\"doc\",\r\n");
    const auto back = ReadFilterRows(path);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_FALSE(back[1].Enabled);
    EXPECT_EQ(back[1].SettingName, "Word");
}

TEST(FilterFile, CreatingRefusesExistingFilesAndBadNames) {
    TempDir dir;
    const std::string path = dir.path() + "/new.dat";
    EXPECT_TRUE(CreateFilterFile(path));
    EXPECT_EQ(ReadFile(path), "");
    EXPECT_TRUE(ReadFilterRows(path).empty());
    WriteFilterRows(path, {{true, "Text", "txt"}});
    EXPECT_FALSE(CreateFilterFile(path));  // the existing filter stays as it was
    EXPECT_EQ(ReadFilterRows(path).size(), 1u);
    EXPECT_THROW(CreateFilterFile(dir.path() + "/gone/x.dat"), TessarineError);

    EXPECT_TRUE(CheckNewFilterName(""));
    EXPECT_TRUE(CheckNewFilterName("  "));
    EXPECT_TRUE(CheckNewFilterName("../x"));
    EXPECT_FALSE(CheckNewFilterName("a.b"));
}

TEST(FilterFile, SeedFilesOfTheProgramFolderRead) {
    const char* bin = std::getenv("TESSARINE_BIN_DIR");
    if (!bin) GTEST_SKIP() << "TESSARINE_BIN_DIR not set";
    const std::string seeds = std::string(bin) + "/data";
    TCommon common;
    std::vector<std::string> names;
    ASSERT_TRUE(ListFilterNames(common, seeds, names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"ソースコード", "ドキュメント", "画像"}));
    for (const auto& name : names) {
        const std::string path = FilterFilePath(seeds, name);
        const std::string text = ReadFile(path);
        EXPECT_EQ(text.rfind(std::string(kDateFilterRow) + "\r\n", 0), 0u) << path;
        const auto rows = ReadFilterRows(path);
        EXPECT_GE(rows.size(), 5u) << path;
        for (const auto& row : rows) EXPECT_TRUE(row.Enabled && !row.Extension.empty()) << path;
    }
    EXPECT_TRUE(FileExists(seeds + "/folderlist"));
}

// Filter files made by hand: a byte-order mark, a FIFO, and names whose
// ".dat" differs in letter case.
TEST(FilterFile, ByteOrderMarkKeepsTheFirstRow) {
    TempDir dir;
    const std::string path = dir.path() + "/bom.dat";
    WriteFile(path, "\xEF\xBB\xBF\"1\",\"1\",\"Text\",\"txt\",\r\n");
    const auto rows = ReadFilterRows(path);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Extension, "txt");
}

TEST(FilterFile, FifoRaisesTheOpenErrorWithoutWaiting) {
    TempDir dir;
    const std::string path = dir.path() + "/pipe.dat";
    const int writer = testsupport::MakeOpenFifo(path);
    const int status = testsupport::RunInChildWithin(20, [&] {
        try {
            ReadFilterRows(path);
        } catch (const TessarineError&) {
            return 0;
        }
        return 1;
    });
    ::close(writer);
    EXPECT_EQ(status, 0);
}

TEST(FilterFile, NameLeadsBackToTheFileItWasListedFrom) {
    TempDir dir;
    WriteFile(dir.path() + "/Foo.DAT", "");
    WriteFile(dir.path() + "/memo.dat", "");
    WriteFile(dir.path() + "/MEMO.dat", "");
    std::vector<std::string> names;
    ASSERT_TRUE(ListFilterNames(TCommon(), dir.path(), names));
    for (const std::string& name : names) {
        const std::string path = FilterFilePath(dir.path(), name);
        EXPECT_TRUE(FileExists(path)) << name;
        EXPECT_EQ(FilterNameOf(path.substr(dir.path().size() + 1)), name);
    }
    EXPECT_EQ(FilterFilePath(dir.path(), "Foo"), dir.path() + "/Foo.DAT");
    EXPECT_EQ(FilterFilePath(dir.path(), "MEMO"), dir.path() + "/MEMO.dat");
    EXPECT_EQ(FilterFilePath(dir.path(), "memo"), dir.path() + "/memo.dat");
    // A name without a file gets the usual ".dat", for creating it.
    EXPECT_EQ(FilterFilePath(dir.path(), "new"), dir.path() + "/new.dat");
}
