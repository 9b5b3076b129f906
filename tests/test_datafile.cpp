#include "engine/datafile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/errors.h"
#include "engine/temp_file.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(SplitLines, EveryLineEndAndUnterminatedLastLine) {
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
    EXPECT_EQ(SplitLines("\n\n"), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(SplitLines("").empty());
    // CR CR LF: an empty line between.
    EXPECT_EQ(SplitLines("a\r\r\nb"), (std::vector<std::string>{"a", "", "b"}));
}

TEST(SplitLines, NulEndsTheText) {
    EXPECT_EQ(SplitLines(std::string("a\r\nb\0c\r\nd", 9)), (std::vector<std::string>{"a", "b"}));
}

TEST(Utf8, Validation) {
    EXPECT_TRUE(IsValidUtf8("plain ascii"));
    EXPECT_TRUE(IsValidUtf8("日本語 é 😀"));
    EXPECT_FALSE(IsValidUtf8("\xff"));
    EXPECT_FALSE(IsValidUtf8("\xe3\x81"));          // cut short
    EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\x82\xa0\x82\xa2"));  // Shift-JIS あい
}

TEST(DataText, ShiftJisIsConvertedUtf8KeptOtherBytesKept) {
    // "日付フィルタ" in code page 932, with a 0x5C second byte in "表".
    const std::string sjis = "\x93\xfa\x95\x74\x83\x74\x83\x42\x83\x8b\x83\x5e\x95\x5c";
    EXPECT_EQ(DecodeDataText(sjis), "日付フィルタ表");
    EXPECT_EQ(DecodeDataText("日付"), "日付");
    const std::string junk = "\x81\x20\xff";  // neither UTF-8 nor code page 932
    EXPECT_EQ(DecodeDataText(junk), junk);
}

TEST(DataFile, ReadsShiftJisFileLines) {
    TempDir dir;
    const std::string path = dir.path() + "/f.dat";
    WriteFile(path, "\"1\",\"1\",\"\x83\x65\x83\x4c\x83\x58\x83\x67\",\"txt\",\r\n\"2\",\"0\"");
    const auto lines = ReadDataLines(path);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "\"1\",\"1\",\"テキスト\",\"txt\",");
}

TEST(DataFile, MissingFileRaisesTheOpenError) {
    TempDir dir;
    const std::string path = dir.path() + "/none.dat";
    try {
        ReadDataLines(path);
        FAIL() << "no error";
    } catch (const TessarineError& e) {
        EXPECT_EQ(std::string(e.what()), "ファイル " + path + " は開けません");
    }
}

TEST(DataFile, AtomicWriteUsesCrLfKeepsModeAndLeavesNoTemporaries) {
    TempDir dir;
    const std::string path = dir.path() + "/list.txt";
    WriteFile(path, "old content that is longer than the new one");
    ::chmod(path.c_str(), 0640);
    WriteLinesAtomically(path, {"a", "", "日本"});
    EXPECT_EQ(ReadFile(path), "a\r\n\r\n日本\r\n");
    struct stat st {};
    ::stat(path.c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    WriteLinesAtomically(path, {});
    EXPECT_EQ(ReadFile(path), "");
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"list.txt"});
}

TEST(DataFile, UnwritableFolderRaisesTheCreateErrorAndKeepsTheOldFile) {
    TempDir dir;
    const std::string folder = dir.path() + "/ro";
    testsupport::MakeDir(folder);
    const std::string path = folder + "/set.ini";
    WriteFile(path, "old");
    ::chmod(folder.c_str(), 0555);
    const int status = testsupport::RunUnprivileged([&] {
        try {
            WriteLinesAtomically(path, {"new"});
        } catch (const TessarineError& e) {
            return std::string(e.what()) == "ファイル " + path + " を作成できません" ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(path), "old");
}

// Data files that other programs left: a FIFO in place of the file, a
// byte-order mark, and short code page 932 files that pass as UTF-8.
TEST(DataFile, FifoIsUnreadableWithoutWaiting) {
    TempDir dir;
    const std::string path = dir.path() + "/folderlist.dat";
    const int writer = testsupport::MakeOpenFifo(path);
    const int status = testsupport::RunInChildWithin(20, [&] {
        std::string bytes;
        if (ReadWholeFile(path, bytes)) return 1;
        try {
            ReadDataLines(path);
        } catch (const TessarineError& e) {
            return std::string(e.what()) == "ファイル " + path + " は開けません" ? 0 : 2;
        }
        return 3;
    });
    ::close(writer);
    EXPECT_EQ(status, 0);
}

TEST(DataFile, ByteOrderMarkIsNotPartOfTheFirstRow) {
    TempDir dir;
    const std::string path = dir.path() + "/f.dat";
    WriteFile(path, "\xEF\xBB\xBF\"1\",\"1\",\"Text\",\"txt\",\r\n");
    EXPECT_EQ(ReadDataLines(path), (std::vector<std::string>{"\"1\",\"1\",\"Text\",\"txt\","}));
}

TEST(DataText, HalfWidthKatakanaOnlyIsShiftJisEvenWhenItPassesAsUtf8) {
    // "ﾃｽ" in code page 932 is C3 BD, which is also UTF-8 for "ý".
    EXPECT_EQ(DecodeDataText("\"1\",\"\xC3\xBD\",\"/a/\","), "\"1\",\"ﾃｽ\",\"/a/\",");
    // UTF-8 Japanese text stays UTF-8, also next to Latin letters.
    EXPECT_EQ(DecodeDataText("テスト café"), "テスト café");
    EXPECT_EQ(DecodeDataText("ﾃｽﾄ"), "ﾃｽﾄ");  // half-width katakana written as UTF-8 (EF BE ..)
}

// A write that stops part way must leave the old file whole and no
// temporary file behind; a finished one replaces the file.
TEST(TempFileBeside, LeavesNothingUnlessRenamedAndThenReplacesTheTargetWhole) {
    TempDir dir;
    const std::string target = dir.folder() + "list.txt";
    WriteFile(target, "old");
    const auto entries = [&] {
        size_t n = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) n += entry.exists() ? 1 : 0;
        return n;
    };
    {
        TempFileBeside abandoned(target);
        ASSERT_TRUE(abandoned.Valid());
        ASSERT_EQ(::write(abandoned.Get(), "ne", 2), 2);
        EXPECT_EQ(entries(), 2u);
    }
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(entries(), 1u);
    {
        TempFileBeside finished(target);
        ASSERT_EQ(::write(finished.Get(), "new", 3), 3);
        ASSERT_TRUE(finished.Close());
        ASSERT_TRUE(finished.RenameIntoPlace());
    }
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(entries(), 1u);
}
