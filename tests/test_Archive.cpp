// The archive adapter: the command lines it composes, and how it finds,
// loads, calls and releases an archiver library, driven with stand-in
// libraries for every way a library can be missing, refuse or fail.
#include "archive/Archive.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/command_line.h"
#include "engine/errors.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const std::vector<std::string> kExampleFiles = {"/work/src/a.txt", "/work/src/sub/b.txt"};

// The message an error carries, or "<none>" when nothing was raised.
template <typename F>
std::string ErrorOf(F&& call) {
    try {
        call();
    } catch (const TessarineError& e) {
        return e.what();
    }
    return "<none>";
}

// Sets an environment variable for the stand-in library for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) { ::setenv(name, value.c_str(), 1); }
    ~ScopedEnv() { ::unsetenv(name_); }

private:
    const char* name_;
};

}  // namespace

TEST(ArchiveCommandLine, ComposedExactlyForEveryMode) {
    TFileArchive archive;
    const std::string out = "/out/src20071014120000";
    EXPECT_EQ(archive.CommandLine("/work/src/", kExampleFiles, out + ".zip", JobMode::kZip),
              "a -tzip -r \"/out/src20071014120000.zip\" \"/work/src/\" \"a.txt\" \"sub/b.txt\" ");
    EXPECT_EQ(archive.CommandLine("/work/src/", kExampleFiles, out + ".zip", JobMode::kZipPassword),
              "a -tzip -ptovk -r \"/out/src20071014120000.zip\" \"/work/src/\" \"a.txt\" \"sub/b.txt\" ");
    EXPECT_EQ(archive.CommandLine("/work/src/", kExampleFiles, out + ".lzh", JobMode::kLha),
              "a -a1 -r2 -x1 -l1 -jp1 -o2 -ji0 \"/out/src20071014120000.lzh\" \"/work/src/\" \"a.txt\" \"sub/b.txt\" ");
    EXPECT_EQ(archive.CommandLine("/work/src/", kExampleFiles, out + ".7z", JobMode::kSevenZip),
              "a -t7z -r \"/out/src20071014120000.7z\" \"/work/src/\" \"a.txt\" \"sub/b.txt\" ");
    archive.SetPassword("secret");
    EXPECT_EQ(archive.CommandLine("/work/src/", kExampleFiles, out + ".7z", JobMode::kSevenZipPassword),
              "a -t7z -psecret -r \"/out/src20071014120000.7z\" \"/work/src/\" \"a.txt\" \"sub/b.txt\" ");
    EXPECT_THROW(archive.CommandLine("/work/src/", kExampleFiles, out, JobMode::kCopy), std::invalid_argument);
    EXPECT_THROW(archive.CompressSevenZip("/work/src/", kExampleFiles, out, JobMode::kLha), std::invalid_argument);
}

TEST(ArchiveCommandLine, RelativeNamesCutByteForByte) {
    TFileArchive archive;
    // Without a closing separator every relative name begins with one.
    EXPECT_EQ(archive.CommandLine("/work/src", kExampleFiles, "/o.zip", JobMode::kZip),
              "a -tzip -r \"/o.zip\" \"/work/src\" \"/a.txt\" \"/sub/b.txt\" ");
    // A path that does not begin with the base folder's bytes goes in whole;
    // letter case counts.
    EXPECT_EQ(archive.CommandLine("/work/src/", {"/Work/src/c.txt", "/elsewhere/d.txt"}, "/o.zip", JobMode::kZip),
              "a -tzip -r \"/o.zip\" \"/work/src/\" \"/Work/src/c.txt\" \"/elsewhere/d.txt\" ");
}

TEST(ArchiveCommandLine, PasswordsAndNamesSurviveBlanksQuotesAndBackslashes) {
    TFileArchive archive;
    archive.SetPassword("two words \"quoted\" back\\slash");
    const std::vector<std::string> files = {"/s/a \"b\" c", "/s/d\\e", "/s/-x", "/s/@a", "/s/*"};
    const std::string line = archive.CommandLine("/s/", files, "/o/q\"\\.7z", JobMode::kSevenZipPassword);
    EXPECT_EQ(line,
              "a -t7z -p\"two words \\\"quoted\\\" back\\\\slash\" -r \"/o/q\\\"\\\\.7z\" \"/s/\" "
              "\"a \\\"b\\\" c\" \"d\\\\e\" \"-x\" \"@a\" \"*\" ");
    EXPECT_EQ(SplitCommandLine(line),
              (std::vector<std::string>{"a", "-t7z", "-ptwo words \"quoted\" back\\slash", "-r", "/o/q\"\\.7z", "/s/",
                                        "a \"b\" c", "d\\e", "-x", "@a", "*"}));
    // A password that would not split stays as typed.
    archive.SetPassword("a\\b");
    EXPECT_EQ(archive.CommandLine("/s/", {"/s/f"}, "/o.zip", JobMode::kZipPassword),
              "a -tzip -pa\\b -r \"/o.zip\" \"/s/\" \"f\" ");
}

class ArchiveWithLibraries : public ::testing::Test {
protected:
    void SetUp() override {
        programFolder = dir.folder() + "program/";
        systemFolder1 = dir.folder() + "lib1/";
        systemFolder2 = dir.folder() + "lib2";  // without a closing separator
        MakeDir(programFolder);
        MakeDir(systemFolder1);
        MakeDir(systemFolder2);
        archive.SetLibraryFolders(programFolder, {systemFolder1, systemFolder2});
    }

    // Puts a copy of a stand-in library into a folder under its real name.
    static std::string Install(const std::string& folder, const std::string& variant, const std::string& file) {
        const std::string target = folder + file;
        std::filesystem::copy_file(std::string(TESSARINE_FAKES_DIR) + "/" + variant + "/" + file, target,
                                   std::filesystem::copy_options::overwrite_existing);
        return target;
    }

    static bool StillLoaded(const std::string& path) {
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle) ::dlclose(handle);
        return handle != nullptr;
    }

    void Zip() { archive.CompressSevenZip("/work/src/", kExampleFiles, "/out/a.zip", JobMode::kZip); }
    void Lha() { archive.CompressLha("/work/src/", kExampleFiles, "/out/a.lzh"); }

    TempDir dir;
    std::string programFolder, systemFolder1, systemFolder2;
    std::vector<std::pair<std::string, std::string>> boxes;
    TFileArchive archive{
        [this](const std::string& caption, const std::string& text) { boxes.emplace_back(caption, text); }};
    const std::string recordFile = dir.folder() + "record.txt";
    ScopedEnv record{"FAKE_ARCHIVER_RECORD", recordFile};
};

TEST_F(ArchiveWithLibraries, AvailableWhenAFileOfTheNameExistsInOneOfTheFolders) {
    EXPECT_FALSE(archive.SevenZipAvailable());
    EXPECT_FALSE(archive.LhaAvailable());
    // A folder of that name is not the library.
    MakeDir(programFolder + "lib7-zip32.so");
    EXPECT_FALSE(archive.SevenZipAvailable());
    // Only existence counts: the last system folder, and a file that is no
    // library at all.
    WriteFile(systemFolder2 + "/libunlha32.so", "not a library");
    EXPECT_TRUE(archive.LhaAvailable());
    EXPECT_FALSE(archive.SevenZipAvailable());
    WriteFile(systemFolder1 + "lib7-zip32.so", "");
    EXPECT_TRUE(archive.SevenZipAvailable());
}

TEST_F(ArchiveWithLibraries, MissingSevenZipLibraryEndsTheJobSilently) {
    EXPECT_EQ(ErrorOf([&] { Zip(); }), "<none>");
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(ReadFile(recordFile), "<missing>");
}

TEST_F(ArchiveWithLibraries, LibrariesThatCannotBeLoadedRaiseTheLoadError) {
    // The message first, then the loader's reason, which tells a missing
    // library from a broken one.
    const std::string lhaMissing = "libunlha32.soが見つかりませんでした。インストールしてください。\n";
    const std::string sevenZipMissing = "lib7-zip32.soが見つかりませんでした。インストールしてください。\n";
    auto reasonOf = [](const std::string& error, const std::string& message) {
        return error.rfind(message, 0) == 0 ? error.substr(message.size()) : "<no message> " + error;
    };
    // The LHA job has no availability check: a missing library is a load error.
    EXPECT_NE(reasonOf(ErrorOf([&] { Lha(); }), lhaMissing).find("No such file"), std::string::npos);
    WriteFile(programFolder + "libunlha32.so", "not a library");
    EXPECT_NE(reasonOf(ErrorOf([&] { Lha(); }), lhaMissing).find("too short"), std::string::npos);
    WriteFile(programFolder + "lib7-zip32.so", "not a library");
    EXPECT_TRUE(archive.SevenZipAvailable());
    EXPECT_NE(reasonOf(ErrorOf([&] { Zip(); }), sevenZipMissing).find("too short"), std::string::npos);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ArchiveWithLibraries, HandsOverTheCommandLineNoOwnerAnd1023) {
    Install(programFolder, "working", "lib7-zip32.so");
    Install(systemFolder1, "working", "libunlha32.so");
    archive.SetPassword("pass word");
    ScopedEnv result("FAKE_ARCHIVER_RESULT", "-1");  // a failing result is not looked at
    archive.CompressSevenZip("/work/src/", kExampleFiles, "/out/a.zip", JobMode::kZipPassword);
    Lha();
    EXPECT_EQ(ReadFile(recordFile),
              "owner=(nil) size=1023 line=[" +
                  archive.CommandLine("/work/src/", kExampleFiles, "/out/a.zip", JobMode::kZipPassword) +
                  "]\nowner=(nil) size=1023 line=[" +
                  archive.CommandLine("/work/src/", kExampleFiles, "/out/a.lzh", JobMode::kLha) + "]\n");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ArchiveWithLibraries, ReportMentioningErrorInAnyCaseIsShownWithTheLibraryAsCaption) {
    Install(programFolder, "working", "lib7-zip32.so");
    Install(programFolder, "working", "libunlha32.so");
    for (const std::string report : {"ERROR: disk full", "An Error occurred", "xyzerrorxyz", "エラー eRRoR"}) {
        ScopedEnv text("FAKE_ARCHIVER_REPORT", report);
        EXPECT_EQ(ErrorOf([&] { Zip(); }), "<none>");
        EXPECT_EQ(ErrorOf([&] { Lha(); }), "<none>");
    }
    ASSERT_EQ(boxes.size(), 8u);
    EXPECT_EQ(boxes[0], std::make_pair(std::string("lib7-zip32.so"), std::string("ERROR: disk full")));
    EXPECT_EQ(boxes[1], std::make_pair(std::string("libunlha32.so"), std::string("ERROR: disk full")));
    EXPECT_EQ(boxes[7], std::make_pair(std::string("libunlha32.so"), std::string("エラー eRRoR")));
    boxes.clear();
    for (const std::string report : {"Everything is Ok", "err or", "", "エラー"}) {
        ScopedEnv text("FAKE_ARCHIVER_REPORT", report);
        Zip();
        Lha();
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ArchiveWithLibraries, ReportIsCutAtTheSizeGivenEvenWithoutALibraryNul) {
    Install(programFolder, "working", "lib7-zip32.so");
    ScopedEnv fill("FAKE_ARCHIVER_FILL", "1");
    ScopedEnv text("FAKE_ARCHIVER_REPORT", "");
    // The stand-in writes 1023 'x' and no NUL: the adapter's last byte ends it.
    ::setenv("FAKE_ARCHIVER_THROW", "1", 1);
    const std::string error = ErrorOf([&] { Zip(); });
    ::unsetenv("FAKE_ARCHIVER_THROW");
    EXPECT_EQ(error, "lib7-zip32.so ERROR " + std::string(1023, 'x'));
}

TEST_F(ArchiveWithLibraries, FailedCallsRaiseThePrefixAndTheReportSoFar) {
    const std::string sevenZip = Install(programFolder, "no_entry", "lib7-zip32.so");
    const std::string lha = Install(programFolder, "no_entry", "libunlha32.so");
    EXPECT_EQ(ErrorOf([&] { Zip(); }), "lib7-zip32.so ERROR ");
    EXPECT_EQ(ErrorOf([&] { Lha(); }), "libunlha32.so Error ");
    EXPECT_FALSE(StillLoaded(sevenZip));
    EXPECT_FALSE(StillLoaded(lha));

    Install(programFolder, "working", "lib7-zip32.so");
    Install(programFolder, "working", "libunlha32.so");
    ScopedEnv fault("FAKE_ARCHIVER_THROW", "1");
    ScopedEnv text("FAKE_ARCHIVER_REPORT", "half done");
    EXPECT_EQ(ErrorOf([&] { Zip(); }), "lib7-zip32.so ERROR half done");
    EXPECT_EQ(ErrorOf([&] { Lha(); }), "libunlha32.so Error half done");
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(StillLoaded(sevenZip));
    EXPECT_FALSE(StillLoaded(lha));
}

TEST_F(ArchiveWithLibraries, LibraryReleasedAfterEveryRun) {
    const std::string sevenZip = Install(programFolder, "working", "lib7-zip32.so");
    Zip();
    EXPECT_FALSE(StillLoaded(sevenZip));
    ScopedEnv text("FAKE_ARCHIVER_REPORT", "error");
    Zip();
    EXPECT_EQ(boxes.size(), 1u);
    EXPECT_FALSE(StillLoaded(sevenZip));
    // A box that fails is a failed call too, and still releases the library.
    TFileArchive throwingBox([](const std::string&, const std::string&) { throw std::runtime_error("no display"); });
    throwingBox.SetLibraryFolders(programFolder, {});
    EXPECT_EQ(ErrorOf([&] { throwingBox.CompressSevenZip("/w/", {"/w/a"}, "/o.zip", JobMode::kSevenZip); }),
              "lib7-zip32.so ERROR error");
    EXPECT_FALSE(StillLoaded(sevenZip));
}

// Thousands of left-out entries overflow any report buffer; the adapter gets
// every one of them through the library's own list, whatever the report says.
TEST_F(ArchiveWithLibraries, LeftOutEntriesArriveWholeBesideAShortReport) {
    Install(programFolder, "working", "lib7-zip32.so");
    Install(programFolder, "working", "libunlha32.so");
    std::string list;
    const auto id = [](MessageId id) { return std::to_string(static_cast<unsigned>(id)); };
    for (int i = 0; i < 4760; ++i)
        list += "gone/file" + std::to_string(i) + ".txt|" + id(MessageId::kSystemError) + "|2\n";
    list += "fifo|" + id(MessageId::kArchiverNamedPipe) + "|0";
    ScopedEnv leftOut("FAKE_ARCHIVER_LEFT_OUT", list);
    ScopedEnv text("FAKE_ARCHIVER_REPORT", "2 of 4763 files added to the archive\n4761 files left out\n");
    for (const bool lha : {false, true}) {
        lha ? Lha() : Zip();
        const auto& run = archive.LastRun();
        EXPECT_TRUE(run.ran);
        EXPECT_FALSE(run.reportIsError);
        ASSERT_EQ(run.leftOut.size(), 4761u);
        EXPECT_EQ(run.leftOut[4759].name, "gone/file4759.txt");
        EXPECT_EQ(run.leftOut[4760].name, "fifo");
        EXPECT_EQ(RenderMessage(run.leftOut[4759].reason), "No such file or directory");
        EXPECT_EQ(RenderMessage(run.leftOut[4760].reason), "名前付きパイプ");
    }
    EXPECT_TRUE(boxes.empty());
}
