// The launch rules: names, questions, destination, output name, filter file,
// password, and the order in which a launch stops.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <optional>

#include "launch/LaunchRules.h"
#include "test_support.h"

using namespace tessarine;
using testsupport::MakeDir;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::tm Time(int y, int mo, int d, int h, int mi, int s) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return t;
}

// Answers the launch's questions from a script and records what was asked.
class ScriptedPrompts : public LaunchPrompts {
public:
    bool confirmAnswer = true;
    std::optional<std::string> destination;
    std::optional<std::string> password;
    std::vector<std::string> log;

    bool Confirm(const Message& question) override {
        log.push_back("confirm:" + RenderMessage(question));
        return confirmAnswer;
    }
    std::optional<std::string> AskDestination() override {
        log.push_back("destination");
        return destination;
    }
    std::optional<std::string> AskPassword() override {
        log.push_back("password");
        return password;
    }
    void ShowError(const Message& message) override { log.push_back("error:" + RenderMessage(message)); }
};

}  // namespace

TEST(LaunchRules, NamesOfTheSource) {
    EXPECT_EQ(DescribeSource("/data/Docs/").BaseName, "Docs");
    EXPECT_EQ(DescribeSource("/data/Docs/").DisplayPath, "/.../Docs");
    EXPECT_EQ(DescribeSource("/data/Docs").BaseName, "Docs");  // a stored path without "/"
    EXPECT_EQ(DescribeSource("/").BaseName, "disk_root");
    EXPECT_EQ(DescribeSource("/").DisplayPath, "/");
    EXPECT_EQ(DescribeSource("/home/ユーザー/写真/").BaseName, "写真");
}

TEST(LaunchRules, ItemsBecomeFolders) {
    TempDir dir;
    MakeDir(dir.path() + "/Docs");
    WriteFile(dir.path() + "/Docs/a.txt", "x");
    EXPECT_EQ(FolderOfItem(dir.path() + "/Docs"), dir.path() + "/Docs/");
    EXPECT_EQ(FolderOfItem(dir.path() + "/Docs/"), dir.path() + "/Docs/");
    EXPECT_EQ(FolderOfItem(dir.path() + "/Docs/a.txt"), dir.path() + "/Docs/");
    EXPECT_EQ(FolderOfItem("/"), "/");
    // A bare name is taken from the current folder, never as the root.
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path() + "/Docs");
    EXPECT_EQ(FolderOfItem("a.txt"), dir.path() + "/Docs/");
    EXPECT_EQ(FolderOfItem("."), dir.path() + "/Docs/");
    std::filesystem::current_path(cwd);
}

// Every byte of a dropped name comes through, whatever encoding the name
// is in; only the last URI of the list counts, and only when it names a
// local file.
TEST(LaunchRules, DroppedUrisGiveTheExactBytesOfTheLastItem) {
    std::string highEncoded, highBytes;
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", byte);
        highEncoded += hex;
        highBytes += static_cast<char>(byte);
    }
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    struct Case {
        const char* what;
        std::string uriList;
        std::optional<std::string> path;
    };
    const std::vector<Case> cases = {
        {"bytes 0x80-0xFF", "file:///d/" + highEncoded + "\r\n", "/d/" + highBytes},
        {"unencoded bytes", "file:///d/\xE5\x86\x99\xFF\r\n", "/d/\xE5\x86\x99\xFF"},
        {"lower-case hex", "file:///d/%e5%86%99\r\n", "/d/\xE5\x86\x99"},
        {"plus is a plus", "file:///d/a+b%20c\r\n", "/d/a+b c"},
        {"? and # are name bytes", "file:///d/a?b#c\r\n", "/d/a?b#c"},
        {"stray percent", "file:///d/100%/x%4\r\n", "/d/100%/x%4"},
        {"%2F is no name byte", "file:///d/a%2Fb\r\n", std::nullopt},
        {"%2f is no name byte", "file:///d/a%2fb\r\n", std::nullopt},
        {"%00 is no name byte", "file:///d/a%00b\r\n", std::nullopt},
        {"localhost", "file://localhost/d/x\r\n", "/d/x"},
        {"LOCALHOST, FILE:", "FILE://LOCALHOST/d/x\r\n", "/d/x"},
        {"own host name", "file://" + std::string(host) + "/d/x\r\n", "/d/x"},
        {"no authority", "file:/d/x\r\n", "/d/x"},
        {"other host", "file://elsewhere.example/d/x\r\n", std::nullopt},
        {"other scheme", "sftp://localhost/d/x\r\n", std::nullopt},
        {"relative", "file:d/x\r\n", std::nullopt},
        {"host only", "file://localhost\r\n", std::nullopt},
        {"the last item counts", "file:///d/first\r\nfile:///d/last\r\n", "/d/last"},
        {"a foreign last item", "file:///d/first\r\nhttps://example.org/x\r\n", std::nullopt},
        {"comments, LF, NUL", "# from a test\nfile:///d/x\n# end\n" + std::string(1, '\0'), "/d/x"},
        {"no final line end", "file:///d/x", "/d/x"},
        {"nothing", "", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LastDroppedPath(c.uriList), c.path) << c.what;
    }
}

TEST(LaunchRules, QuestionsOfPasswordModesMatchTheirPlainModes) {
    EXPECT_EQ(ConfirmationText("/.../D", JobMode::kZipPassword), ConfirmationText("/.../D", JobMode::kZip));
    EXPECT_EQ(RenderMessage(ConfirmationText("/.../D", JobMode::kSevenZipPassword)), "/.../D を7-ZIP圧縮しますか？");
    EXPECT_EQ(RenderMessage(ConfirmationText("/.../D", JobModeOfNumber(99))), "/.../D");
}

TEST(LaunchRules, DestinationAndOutputName) {
    TSetData s;
    s.SelectSaveFolderName = "/backup";
    s.SelectSaveMode = 0;
    EXPECT_EQ(DestinationBySaveMode(s, "/src/", "/prev/"), std::nullopt);
    s.SelectSaveMode = 1;
    EXPECT_EQ(DestinationBySaveMode(s, "/src/", "/prev/"), "/src/");
    s.SelectSaveMode = 2;
    EXPECT_EQ(DestinationBySaveMode(s, "/src/", "/prev/"), "/backup");
    s.SelectSaveMode = 7;
    EXPECT_EQ(DestinationBySaveMode(s, "/src/", "/prev/"), "/prev/");

    const std::tm t = Time(2007, 10, 14, 9, 30, 5);
    EXPECT_EQ(DateStamp(t, 0, 0), "20071014093005");
    EXPECT_EQ(DateStamp(t, 0, 1), "_20071014093005");
    EXPECT_EQ(DateStamp(t, 1, 0), "071014_0930_05");
    EXPECT_EQ(DateStamp(t, 2, 9), "_071014_0930_05");
    EXPECT_EQ(DateStamp(Time(2100, 1, 2, 23, 0, 59), 1, 0), "000102_2300_59");
    EXPECT_EQ(MakeOutputBase("/backup", "Docs", "_20071014093005"), "/backup/Docs_20071014093005");
    EXPECT_EQ(MakeOutputBase("/backup/", "Docs", "20071014093005"), "/backup/Docs20071014093005");
}

TEST(LaunchRules, FilterFileByOrigin) {
    const std::vector<std::string> lines = {
        R"("1","D","D","text","/d/",)",
        R"("1","E","E","","/e/",)",
        R"("0","D","D","images","/d/",)",
    };
    TSetData s;
    s.SelectFileName = "chosen";
    EXPECT_EQ(FindFilterFile(kOriginRegistered, s, lines, "/u/data", "/d/"), "/u/data/images.dat");
    EXPECT_EQ(FindFilterFile(kOriginRegistered, s, lines, "/u/data", "/e/"), "");  // its own empty filter
    EXPECT_EQ(FindFilterFile(kOriginDropped, s, lines, "/u/data", "/d/"), "/u/data/chosen.dat");
    s.AutoMode = 1;
    EXPECT_EQ(FindFilterFile(kOriginDropped, s, lines, "/u/data", "/d/"), "/u/data/images.dat");
    EXPECT_EQ(FindFilterFile(kOriginDropped, s, lines, "/u/data", "/e/"), "");
    EXPECT_EQ(FindFilterFile(kOriginDropped, s, lines, "/u/data", "/x/"), "/u/data/chosen.dat");
    s.SelectFileName.clear();
    s.AutoMode = 0;
    EXPECT_EQ(FindFilterFile(kOriginDropped, s, lines, "/u/data", "/d/"), "");
    EXPECT_EQ(TrimPassword(" \tpa ss\r\n"), "pa ss");
}

class PrepareJobTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string source, dest, data;
    TSetData settings;
    ScriptedPrompts prompts;
    std::string previous;
    JobRequest request;
    LaunchInput input;

    void SetUp() override {
        source = dir.path() + "/Docs/";
        dest = dir.path() + "/out";
        data = dir.path() + "/data";
        MakeDir(source);
        MakeDir(dest);
        MakeDir(data);
        settings.SelectSaveMode = 2;
        settings.SelectSaveFolderName = dest;
        input.SourcePath = source;
        input.Now = Time(2007, 10, 14, 9, 30, 5);
    }
    bool Run(const std::vector<std::string>& lines = {}) {
        return PrepareJob(input, settings, data, lines, prompts, previous, request);
    }
};

TEST_F(PrepareJobTest, FillsTheRequest) {
    settings.FNameSelect2 = 1;
    settings.HiddenFile = 1;
    settings.HiddenFolder = 2;  // only 1 means on
    settings.Mode = NumberOf(JobMode::kFileList);
    ASSERT_TRUE(Run());
    EXPECT_EQ(prompts.log, (std::vector<std::string>{"confirm:/.../Docs のファイルリストを作成しますか？"}));
    EXPECT_EQ(request.SourcePath, source);
    EXPECT_EQ(request.JobMode, JobMode::kFileList);
    EXPECT_EQ(request.OutputBase, dest + "/Docs_20071014093005");
    EXPECT_TRUE(request.IncludeHiddenFiles);
    EXPECT_FALSE(request.IncludeHiddenFolders);
    EXPECT_TRUE(request.OpenFolderWhenDone);
    EXPECT_EQ(request.FolderToOpen, dest + "/");
    EXPECT_EQ(request.FilterFile, "");
    EXPECT_EQ(previous, dest);
    EXPECT_FALSE(request.Verify);
}

TEST_F(PrepareJobTest, VerifyAfterJobAsksForAVerifiedProduct) {
    settings.VerifyAfterJob = 1;
    ASSERT_TRUE(Run());
    EXPECT_TRUE(request.Verify);
}

TEST_F(PrepareJobTest, AsksForTheDestinationAndPassword) {
    settings.SelectSaveMode = 0;
    settings.ActMode1 = 0;
    input.ModeOverride = JobMode::kSevenZipPassword;
    prompts.destination = dest;
    prompts.password = "  secret ";
    ASSERT_TRUE(Run());
    EXPECT_EQ(prompts.log, (std::vector<std::string>{"destination", "password"}));
    EXPECT_EQ(request.Password, "secret");
    EXPECT_EQ(request.JobMode, JobMode::kSevenZipPassword);
}

TEST_F(PrepareJobTest, StopsAtEachRefusal) {
    prompts.confirmAnswer = false;
    EXPECT_FALSE(Run());
    EXPECT_EQ(prompts.log.size(), 1u);

    prompts = ScriptedPrompts();
    settings.SelectSaveMode = 0;  // destination dialog cancelled, then empty
    EXPECT_FALSE(Run());
    prompts.destination = "";
    EXPECT_FALSE(Run());
    EXPECT_EQ(prompts.log.back(), "destination");

    prompts = ScriptedPrompts();
    settings.SelectSaveMode = 2;
    input.ModeOverride = JobMode::kZipPassword;
    prompts.password = " \t ";  // blanks only: no job, no message
    EXPECT_FALSE(Run());
    prompts.password.reset();
    EXPECT_FALSE(Run());
    EXPECT_EQ(prompts.log.back(), "password");
}

TEST_F(PrepareJobTest, MissingFoldersAndFilters) {
    settings.ActMode1 = 0;
    settings.SelectSaveFolderName = "";
    EXPECT_FALSE(Run());
    EXPECT_EQ(prompts.log.back(), "error:保存先フォルダが見つかりません");

    // Before any launch, "the previous destination" is empty.
    settings.SelectSaveMode = 9;
    EXPECT_FALSE(Run());
    EXPECT_EQ(prompts.log.back(), "error:保存先フォルダが見つかりません");
    settings.SelectSaveMode = 2;
    settings.SelectSaveFolderName = dest;

    input.Origin = kOriginRegistered;
    const std::vector<std::string> lines = {R"("1","Docs","Docs","gone","DOCS",)"};
    const std::vector<std::string> own = {"\"1\",\"Docs\",\"Docs\",\"gone\",\"" + source + "\","};
    EXPECT_TRUE(Run(lines));  // no line matches: no filter
    EXPECT_EQ(request.FilterFile, "");
    EXPECT_FALSE(Run(own));
    EXPECT_EQ(prompts.log.back(), "error:拡張子フィルタが見つかりません");
    WriteFile(data + "/gone.dat", "");
    EXPECT_TRUE(Run(own));
    EXPECT_EQ(request.FilterFile, data + "/gone.dat");
}

TEST_F(PrepareJobTest, RefusesASourceThatDoesNotExist) {
    input.SourcePath = dir.path() + "/deleted/";
    EXPECT_FALSE(Run());
    EXPECT_EQ(prompts.log, (std::vector<std::string>{"error:対象フォルダ " + input.SourcePath + " が見つかりません"}));
    input.SourcePath = "";  // a registered folder with an empty path
    prompts.log.clear();
    EXPECT_FALSE(Run());
    EXPECT_EQ(prompts.log, (std::vector<std::string>{"error:対象フォルダが指定されていません"}));
}

TEST_F(PrepareJobTest, OutputIntoTheSourceAndTheRoot) {
    settings.SelectSaveMode = 1;
    settings.FNameSelect1 = 1;
    settings.OpenFolder = 0;
    request.FolderToOpen = "kept";
    ASSERT_TRUE(Run());
    EXPECT_EQ(request.OutputBase, source + "Docs071014_0930_05");
    EXPECT_FALSE(request.OpenFolderWhenDone);
    EXPECT_EQ(request.FolderToOpen, "kept");  // only set when the folder is opened

    // A later launch with SelectSaveMode outside 0-2 reuses that destination.
    settings.SelectSaveMode = 5;
    input.SourcePath = "/";
    ASSERT_TRUE(Run());
    EXPECT_EQ(request.OutputBase, source + "disk_root071014_0930_05");
    EXPECT_EQ(prompts.log.back(), "confirm:/ をコピーしますか？");
}

// A destination that reaches into the source through a link would make the
// job write into the tree it reads; the same folder named as it is (save
// into the source) stays allowed.
TEST_F(PrepareJobTest, RefusesADestinationInsideTheSourceThroughALink) {
    MakeDir(source + "sub");
    settings.ActMode1 = 0;
    for (const std::string& target : {source, source + "sub"}) {
        const std::string link = dir.path() + "/link";
        ::unlink(link.c_str());
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        settings.SelectSaveFolderName = link;
        prompts.log.clear();
        EXPECT_FALSE(Run()) << target;
        EXPECT_EQ(
            prompts.log,
            (std::vector<std::string>{"error:" + RenderMessage(MakeMessage(MessageId::kDestinationInsideSource))}));
    }
    settings.SelectSaveFolderName = source + "sub";
    EXPECT_TRUE(Run());
    // A source reached through a link with the destination beside it is fine.
    input.SourcePath = dir.path() + "/link/";
    settings.SelectSaveFolderName = dest;
    EXPECT_TRUE(Run());
}

// A relative destination is resolved at launch: 7zz and the copy run in
// other folders and must all see the same one.
TEST_F(PrepareJobTest, RelativeDestinationBecomesAbsolute) {
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    settings.SelectSaveFolderName = "out";
    const bool ran = Run();
    std::filesystem::current_path(cwd);
    ASSERT_TRUE(ran);
    EXPECT_EQ(request.OutputBase, dest + "/Docs20071014093005");
}
