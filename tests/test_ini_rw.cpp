// set.ini: defaults, value conversion, in-place rewriting and write failures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "engine/errors.h"
#include "settings/ini_rw.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

TSetData Load(const std::string& path) {
    TSetData data;
    // Start from values that differ from every default, so that a field the
    // loader forgets shows up.
    data.PosX = data.PosY = data.Mode = 77;
    data.AutoMode = data.HiddenFolder = data.HiddenFile = data.OpenFolder = 77;
    data.SelectSaveMode = data.ActMode1 = data.NoFileMsg = data.FNameSelect1 = data.FNameSelect2 = 77;
    data.SelectFileName = data.SelectSaveFolderName = "stale";
    LoadSettings(path, data);
    return data;
}

TSetData LoadText(const TempDir& dir, const std::string& text) {
    WriteFile(dir.path() + "/set.ini", text);
    return Load(dir.path() + "/set.ini");
}

void ExpectDefaults(const TSetData& d) {
    EXPECT_EQ(d.PosX, 0);
    EXPECT_EQ(d.PosY, 0);
    EXPECT_EQ(d.SelectFileName, "");
    EXPECT_EQ(d.Mode, 0);
    EXPECT_EQ(d.AutoMode, 0);
    EXPECT_EQ(d.HiddenFolder, 0);
    EXPECT_EQ(d.HiddenFile, 0);
    EXPECT_EQ(d.OpenFolder, 1);
    EXPECT_EQ(d.SelectSaveFolderName, "");
    EXPECT_EQ(d.SelectSaveMode, 0);
    EXPECT_EQ(d.ActMode1, 1);
    EXPECT_EQ(d.NoFileMsg, 0);
    EXPECT_EQ(d.FNameSelect1, 0);
    EXPECT_EQ(d.FNameSelect2, 0);
    EXPECT_EQ(d.VerifyAfterJob, 0);
}

const char* const kAllKeys =
    "[set]\r\nPosX=0\r\nPosY=0\r\nSelectFileName=\r\nMode=0\r\nAutoMode=0\r\nHiddenFolder=0\r\nHiddenFile=0\r\n"
    "OpenFolder=1\r\nSelectSaveFolderName=\r\nSelectSaveMode=0\r\nActMode1=1\r\nNoFileMsg=0\r\n"
    "FNameSelect1=0\r\nFNameSelect2=0\r\nVerifyAfterJob=0\r\n";

}  // namespace

TEST(LoadSettings, MissingFileSectionOrKeysGiveDefaults) {
    TempDir dir;
    ExpectDefaults(Load(dir.path() + "/set.ini"));
    ExpectDefaults(LoadText(dir, ""));
    ExpectDefaults(LoadText(dir, "[other]\r\nPosX=5\r\nMode=3\r\n"));
    ExpectDefaults(LoadText(dir, "PosX=5\r\n[set]\r\n"));  // a key before any section is not read
}

TEST(LoadSettings, IntegerConversion) {
    TempDir dir;
    TSetData d = LoadText(dir, "[set]\nMode=abc\nPosX=0x20\nPosY=-8\nSelectSaveMode=$20\n");
    EXPECT_EQ(d.Mode, 0);
    EXPECT_EQ(d.PosX, 32);
    EXPECT_EQ(d.PosY, -8);
    EXPECT_EQ(d.SelectSaveMode, 32);

    d = LoadText(dir, "[set]\nPosX=$20\nPosY=0X1f\nMode=12abc\nOpenFolder=\nActMode1=0x\n");
    EXPECT_EQ(d.PosX, 32);
    EXPECT_EQ(d.PosY, 31);
    EXPECT_EQ(d.Mode, 0);        // trailing garbage: the default
    EXPECT_EQ(d.OpenFolder, 1);  // empty value: the default
    EXPECT_EQ(d.ActMode1, 1);    // "0x" alone does not convert

    // Out of the 32-bit range: the default; hexadecimal wraps like the
    // two's-complement bit pattern.
    d = LoadText(dir, "[set]\nPosX=2147483648\nPosY=-2147483648\nMode=$FFFFFFFF\n");
    EXPECT_EQ(d.PosX, 0);
    EXPECT_EQ(d.PosY, INT32_MIN);
    EXPECT_EQ(d.Mode, -1);
}

TEST(LoadSettings, FlagsKeepTheirLowEightBits) {
    TempDir dir;
    const TSetData d = LoadText(dir, "[set]\nHiddenFolder=257\nHiddenFile=2\nNoFileMsg=-1\nFNameSelect1=256\n");
    EXPECT_EQ(d.HiddenFolder, 1);
    EXPECT_EQ(d.HiddenFile, 2);
    EXPECT_EQ(d.NoFileMsg, 255);
    EXPECT_EQ(d.FNameSelect1, 0);
}

TEST(LoadSettings, NamesIgnoreCaseAndValuesAreTrimmed) {
    TempDir dir;
    const TSetData d = LoadText(dir,
                                "  [ SET ]  \r\n"
                                "  posx  =  12  \r\n"
                                "SELECTSAVEFOLDERNAME=  \t/srv/backup dir/ \t\r\n"
                                "selectfilename=画像\r\n"
                                "mode=4\r\n"
                                "Mode=5\r\n");  // the first of two keys counts
    EXPECT_EQ(d.PosX, 12);
    EXPECT_EQ(d.SelectSaveFolderName, "/srv/backup dir/");
    EXPECT_EQ(d.SelectFileName, "画像");
    EXPECT_EQ(d.Mode, 4);
}

TEST(LoadSettings, ShiftJisFileIsConverted) {
    TempDir dir;
    // SelectFileName=ドキュメント in code page 932.
    EXPECT_EQ(LoadText(dir, "\xEF\xBB\xBF[set]\r\nMode=4\r\n").Mode, 4);  // saved by an editor with a BOM
    const TSetData d = LoadText(dir, "[set]\r\nSelectFileName=\x83\x68\x83\x4C\x83\x85\x83\x81\x83\x93\x83\x67\r\n");
    EXPECT_EQ(d.SelectFileName, "ドキュメント");
}

TEST(SaveSettings, AfterAMissingFileWritesAllKeysInOrder) {
    TempDir dir;
    const std::string path = dir.path() + "/set.ini";
    SaveSettings(path, Load(path));
    EXPECT_EQ(ReadFile(path), kAllKeys);
}

TEST(SaveSettings, RoundTripKeepsEveryValue) {
    TempDir dir;
    TSetData in;
    in.PosX = -1200;
    in.PosY = 3000;
    in.SelectFileName = "a.b";
    in.Mode = 12;
    in.AutoMode = in.HiddenFolder = in.NoFileMsg = in.FNameSelect1 = 1;
    in.HiddenFile = 2;
    in.OpenFolder = in.ActMode1 = 0;
    in.SelectSaveFolderName = "/home/user/バックアップ/";
    in.SelectSaveMode = 2;
    in.FNameSelect2 = 255;
    in.VerifyAfterJob = 1;
    // What is loaded back and saved again is the same file: no key is lost,
    // renamed or converted on the way.
    SaveSettings(dir.path() + "/a.ini", in);
    SaveSettings(dir.path() + "/b.ini", Load(dir.path() + "/a.ini"));
    EXPECT_EQ(ReadFile(dir.path() + "/b.ini"), ReadFile(dir.path() + "/a.ini"));
    EXPECT_NE(ReadFile(dir.path() + "/a.ini").find("PosX=-1200\r\n"), std::string::npos);
    EXPECT_NE(ReadFile(dir.path() + "/a.ini").find("VerifyAfterJob=1\r\n"), std::string::npos);
    EXPECT_EQ(Load(dir.path() + "/a.ini").SelectSaveFolderName, in.SelectSaveFolderName);
}

TEST(SaveSettings, ReplacesInPlaceAndKeepsOtherLines) {
    TempDir dir;
    const std::string path = dir.path() + "/set.ini";
    WriteFile(path,
              "; written by hand\r\n"
              "[window]\r\nPosX=999\r\n"
              "[SET]\r\nmode = 3\r\nUnknown=keep me\r\n\r\n"
              "[later]\r\nx=1\r\n");
    TSetData d = Load(path);
    d.Mode = 11;
    SaveSettings(path, d);
    EXPECT_EQ(ReadFile(path),
              "; written by hand\r\n"
              "[window]\r\nPosX=999\r\n"
              "[SET]\r\nMode=11\r\nUnknown=keep me\r\n"
              "PosX=0\r\nPosY=0\r\nSelectFileName=\r\nAutoMode=0\r\nHiddenFolder=0\r\nHiddenFile=0\r\n"
              "OpenFolder=1\r\nSelectSaveFolderName=\r\nSelectSaveMode=0\r\nActMode1=1\r\nNoFileMsg=0\r\n"
              "FNameSelect1=0\r\nFNameSelect2=0\r\nVerifyAfterJob=0\r\n"
              "\r\n[later]\r\nx=1\r\n");
    // Saving again changes nothing.
    const std::string once = ReadFile(path);
    SaveSettings(path, Load(path));
    EXPECT_EQ(ReadFile(path), once);
}

TEST(SaveSettings, LineBreaksInTextsCannotAddKeys) {
    TempDir dir;
    const std::string path = dir.path() + "/set.ini";
    TSetData d;
    d.SelectSaveFolderName = "/tmp/x\r\nMode=12";
    SaveSettings(path, d);
    const TSetData back = Load(path);
    EXPECT_EQ(back.Mode, 0);
    EXPECT_EQ(back.SelectSaveFolderName, "/tmp/xMode=12");
}

TEST(SaveSettings, UnwritableFolderRaisesWithThePath) {
    TempDir dir;
    const std::string folder = dir.path() + "/ro";
    testsupport::MakeDir(folder);
    const std::string path = folder + "/set.ini";
    WriteFile(path, "[set]\r\nMode=3\r\n");
    ::chmod(folder.c_str(), 0555);
    const int status = testsupport::RunUnprivileged([&] {
        try {
            SaveSettings(path, TSetData{});
        } catch (const TessarineError& e) {
            return std::string(e.what()) == path + " に書き込めません" ? 0 : 2;
        }
        return 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(path), "[set]\r\nMode=3\r\n");  // the old file is untouched
}

TEST(SaveSettings, UnreadableFileIsNotOverwritten) {
    TempDir dir;
    const std::string path = dir.path() + "/set.ini";
    WriteFile(path, "[set]\r\nMode=3\r\n[mine]\r\nkeep=1\r\n");
    ::chmod(path.c_str(), 0222);
    ::chmod(dir.path().c_str(), 0777);
    const int status = testsupport::RunUnprivileged([&] {
        try {
            SaveSettings(path, TSetData{});
        } catch (const TessarineError&) {
            return 0;
        }
        return 1;
    });
    ::chmod(path.c_str(), 0644);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ReadFile(path), "[set]\r\nMode=3\r\n[mine]\r\nkeep=1\r\n");
}

TEST(ProfileValue, WritesIntoTheRightSection) {
    std::vector<std::string> lines = {"[a]", "k=1", "", "[b]", "j=2"};
    WriteProfileValue(lines, "A", "new", "x");
    WriteProfileValue(lines, "c", "k", "3");
    EXPECT_EQ(lines, (std::vector<std::string>{"[a]", "k=1", "new=x", "", "[b]", "j=2", "[c]", "k=3"}));
    EXPECT_EQ(ReadProfileValue(lines, "b", "k"), std::nullopt);
    EXPECT_EQ(ReadProfileValue(lines, "c", "K"), "3");
}

// set.ini as something else left it: junk bytes and a FIFO.
TEST(SaveSettings, NulByteKeepsTheRestOfTheFileByteForByte) {
    TempDir dir;
    const std::string path = dir.path() + "/set.ini";
    const std::string junk = std::string("Junk=a\0b\r\n", 10);
    WriteFile(path, "[set]\r\nMode=3\r\n" + junk + "[other]\r\nKey=v\r\n");
    TSetData d = Load(path);
    EXPECT_EQ(d.Mode, 3);
    SaveSettings(path, d);
    const std::string saved = ReadFile(path);
    EXPECT_NE(saved.find(junk), std::string::npos);
    EXPECT_NE(saved.find("VerifyAfterJob=0\r\n[other]\r\nKey=v\r\n"), std::string::npos);
}

TEST(LoadSettings, FifoReadsAsNoFileWithoutWaiting) {
    TempDir dir;
    const std::string path = dir.path() + "/set.ini";
    const int writer = testsupport::MakeOpenFifo(path);
    const int status = testsupport::RunInChildWithin(20, [&] {
        TSetData d;
        LoadSettings(path, d);
        return d.OpenFolder == 1 && d.ActMode1 == 1 && d.Mode == 0 ? 0 : 1;
    });
    ::close(writer);
    EXPECT_EQ(status, 0);
}
