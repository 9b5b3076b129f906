#include "engine/datafile.h"

#include <gtest/gtest.h>
#include <functional>
#include <sys/stat.h>

#include "engine/errors.h"
#include "engine/temp_file.h"
#include "filters/filterfile.h"
#include "folders/folderlist.h"
#include "settings/ini_rw.h"
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
// byte-order mark.
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

// Stored texts in both encodings, read and saved again by each file's own
// reader and writer. A line valid as UTF-8 is UTF-8 even when code page 932
// would read it too; only other lines are converted; a line that is neither
// goes back byte for byte.
namespace {

struct StoredFile {
    const char* name;
    // Writes the values as the program stores them (no writer re-encodes).
    std::function<void(const std::string&, const std::vector<std::string>&)> write;
    // The values as the reader gives them, and the reader-then-writer save.
    std::function<std::vector<std::string>(const std::string&)> read;
    std::function<void(const std::string&)> save;
    // Which of a case's values the file holds.
    std::function<std::vector<std::string>(const std::vector<std::string>&)> held;
};

const std::vector<StoredFile>& StoredFiles() {
    static const std::vector<StoredFile> files = {
        {"folderlist.dat",
         [](const std::string& path, const std::vector<std::string>& values) {
             std::vector<RegisteredFolder> rows;
             for (const auto& v : values) rows.push_back({true, v, v, "", v});
             WriteFolderList(path, rows);
         },
         [](const std::string& path) {
             std::vector<std::string> paths;
             for (const auto& row : ReadFolderList(path)) paths.push_back(row.FolderPath);
             return paths;
         },
         [](const std::string& path) { WriteFolderList(path, ReadFolderList(path)); },
         [](const std::vector<std::string>& values) { return values; }},
        {"set.ini",
         [](const std::string& path, const std::vector<std::string>& values) {
             TSetData data;
             data.SelectFileName = values.front();
             data.SelectSaveFolderName = values.back();
             SaveSettings(path, data);
         },
         [](const std::string& path) {
             TSetData data;
             LoadSettings(path, data);
             return std::vector<std::string>{data.SelectFileName, data.SelectSaveFolderName};
         },
         [](const std::string& path) {
             TSetData data;
             LoadSettings(path, data);
             SaveSettings(path, data);
         },
         [](const std::vector<std::string>& values) {
             return std::vector<std::string>{values.front(), values.back()};
         }},
        {"filter file",
         [](const std::string& path, const std::vector<std::string>& values) {
             std::vector<ExtensionRow> rows;
             for (const auto& v : values) rows.push_back({true, v, "txt"});
             WriteFilterRows(path, rows);
         },
         [](const std::string& path) {
             std::vector<std::string> names;
             for (const auto& row : ReadFilterRows(path)) names.push_back(row.SettingName);
             return names;
         },
         [](const std::string& path) { WriteFilterRows(path, ReadFilterRows(path)); },
         [](const std::vector<std::string>& values) { return values; }},
    };
    return files;
}

}  // namespace

TEST(StoredTexts, ReadAndSavedAgainInTheirOwnEncoding) {
    const std::string cp932Kanji = "/d/\x95\x5C\x8C\x76\x8E\x5A";  // 表計算, 0x5C second byte in 表
    const std::string latin1 = "/home/j\xFCrgen";                  // neither encoding
    const struct {
        const char* what;
        std::vector<std::string> stored;
        std::vector<std::string> held;  // as the program holds and saves it
    } cases[] = {
        // Valid in code page 932 too ("ü" reads there as "ﾃｼ").
        {"UTF-8 Latin", {"/home/jürgen"}, {"/home/jürgen"}},
        {"UTF-8 Greek", {"/home/Ωμέγα"}, {"/home/Ωμέγα"}},
        {"UTF-8 Cyrillic", {"/home/Юрий"}, {"/home/Юрий"}},
        {"UTF-8 kanji", {"/d/表計算"}, {"/d/表計算"}},
        {"code page 932 kanji", {cp932Kanji}, {"/d/表計算"}},
        // Half-width katakana as the Windows version writes them, one byte
        // each: "ﾃｽﾄ" is not UTF-8; "ﾃｽﾄｱ" (C3 BD C4 B1) is, reads as "ýı",
        // and goes back unchanged.
        {"code page 932 katakana", {"/k/\xC3\xBD\xC4"}, {"/k/ﾃｽﾄ"}},
        {"code page 932 katakana that pass as UTF-8", {"/k/\xC3\xBD\xC4\xB1"}, {"/k/\xC3\xBD\xC4\xB1"}},
        {"neither encoding", {latin1}, {latin1}},
        // A UTF-8 file with a line of each other kind added by hand.
        {"mixed", {"/home/jürgen", latin1, cp932Kanji}, {"/home/jürgen", latin1, "/d/表計算"}},
    };
    for (const auto& file : StoredFiles()) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(file.name) + ": " + c.what);
            TempDir dir;
            const std::string path = dir.path() + "/stored", want = dir.path() + "/want";
            file.write(path, c.stored);
            file.write(want, c.held);
            EXPECT_EQ(file.read(path), file.held(c.held));
            file.save(path);
            EXPECT_EQ(testsupport::FirstDifference(ReadFile(path), ReadFile(want)), "");
        }
    }
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
