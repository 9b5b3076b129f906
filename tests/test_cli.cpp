// The command-line program, run as a user would run it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "engine/Common.h"
#include "process_runner.h"
#include "test_support.h"

using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

struct CliFixture {
    TempDir dir;
    std::string user, src, out;
    CliFixture() : user(dir.folder() + "user"), src(dir.folder() + "src"), out(dir.folder() + "out") {
        MakeDir(src);
        MakeDir(src + "/sub");
        MakeDir(out);
        WriteFile(src + "/a.txt", "a");
        WriteFile(src + "/b.jpg", "b");
        WriteFile(src + "/sub/c.txt", "c");
    }
    testsupport::ProcessResult Run(std::vector<std::string> args, const std::string& input = {},
                                   bool unprivileged = false) {
        args.insert(args.begin(), {"--user-folder", user});
        return RunProgram("tessarine-cli", args, input, unprivileged);
    }
    size_t OutputCount() const {
        return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(out), {}));
    }
};

size_t Lines(const std::string& text) { return static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

TEST(Cli, ListAndCopyJobsPrintTheirProduct) {
    CliFixture f;
    auto r = f.Run({"--mode", "filelist", "--dest", f.out, "--stamp", "short", "--underscore", f.src});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(Lines(r.out), 1u);
    const std::string list = r.out.substr(0, r.out.size() - 1);
    EXPECT_EQ(list.rfind(f.out + "/src_", 0), 0u) << list;
    EXPECT_EQ(list.substr(list.size() - 4), ".txt");
    EXPECT_EQ(Lines(ReadFile(list)), 3u);

    // A file stands for its folder; the filter comes from the seeded data folder.
    WriteFile(f.user + "/data/jpg.dat", "\"2\",\"0\",\"日付フィルタ\",\"0\",\"0\"\r\n\"1\",\"1\",\"画像\",\"jpg\",\r\n");
    r = f.Run({"-m", "copy", "-d", f.out, "-f", "jpg", f.src + "/a.txt"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string copy = r.out.substr(0, r.out.size() - 1);
    EXPECT_EQ(ReadFile(copy + "/b.jpg"), "b");
    EXPECT_EQ(ReadFile(copy + "/a.txt"), "<missing>");
    EXPECT_TRUE(tessarine::FolderExists(copy + "/sub"));
}

TEST(Cli, BadInputGivesOneLineAStatusAndNoOutput) {
    CliFixture f;
    const std::vector<std::vector<std::string>> cases = {
        {"--mode", "copy", "--dest", f.out, f.dir.folder() + "missing"},
        {"--mode", "zipp", "--dest", f.out, f.src},
        {"--mode", "copy", "--dest", f.out, "--filter", "nosuchfilter", f.src},
        {"--mode", "copy", f.src},  // the settings ask for a destination at every job
        {"--mode", "copy", "--dest", f.dir.folder() + "nowhere", f.src},
        {"--frobnicate", f.src},
        {"--mode", "copy", "--dest", f.out},
    };
    for (const auto& args : cases) {
        const auto r = f.Run(args);
        EXPECT_EQ(r.status, 2) << args.back() << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_TRUE(r.out.empty());
        EXPECT_EQ(f.OutputCount(), 0u);
    }
}

TEST(Cli, UnreadableSettingsAreRefused) {
    CliFixture f;
    ::chmod(f.dir.path().c_str(), 0777);
    MakeDir(f.user);
    ::chmod(f.user.c_str(), 0777);
    ::chmod(f.out.c_str(), 0777);
    WriteFile(f.user + "/set.ini", "[set]\r\nMode=11\r\n");
    ::chmod((f.user + "/set.ini").c_str(), 0);
    const auto r = f.Run({"--dest", f.out, f.src}, {}, true);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("set.ini"), std::string::npos);
    EXPECT_EQ(f.OutputCount(), 0u);
}

TEST(Cli, SettingsApplyWhereNoOptionIsGiven) {
    CliFixture f;
    MakeDir(f.user);
    WriteFile(f.user + "/set.ini", "[set]\r\nMode=12\r\nSelectSaveMode=2\r\nSelectSaveFolderName=  " + f.out +
                                       "  \r\nFNameSelect2=1\r\n");
    const auto r = f.Run({f.src});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(f.out + "/src_"), std::string::npos);
    EXPECT_EQ(ReadFile(r.out.substr(0, r.out.size() - 1)), f.src + "/\r\n" + f.src + "/sub/\r\n");
}

TEST(Cli, EntriesThatCouldNotBeReadEndWithStatusThreeAndAreListed) {
    CliFixture f;
    ::chmod(f.dir.path().c_str(), 0777);
    ::chmod(f.out.c_str(), 0777);
    MakeDir(f.user);
    ::chmod(f.user.c_str(), 0777);
    ::chmod((f.src + "/sub").c_str(), 0);
    const auto r = f.Run({"--mode", "copy", "--dest", f.out, f.src}, {}, true);
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find(f.src + "/sub/"), std::string::npos);
    EXPECT_EQ(Lines(r.out), 1u);
}

TEST(Cli, PasswordComesFromStandardInputAndProtectsTheArchive) {
    CliFixture f;
    const auto r = f.Run({"--mode", "zip-pass", "--dest", f.out, f.src}, "  two words \"q\"  \n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string archive = r.out.substr(0, r.out.size() - 1);
    const std::string extracted = f.dir.folder() + "x";
    // Blanks around the entered password are not part of it.
    EXPECT_NE(RunProgram("/usr/bin/7zz", {"x", "-pwrong", "-o" + extracted, archive}).status, 0);
    const auto x = RunProgram("/usr/bin/7zz", {"x", "-ptwo words \"q\"", "-o" + extracted, "-y", archive});
    ASSERT_EQ(x.status, 0) << x.out;
    EXPECT_EQ(ReadFile(extracted + "/sub/c.txt"), "c");

    // Only blanks: no job.
    const auto blank = f.Run({"--mode", "7z-pass", "--dest", f.out, f.src}, "   \n");
    EXPECT_EQ(blank.status, 2);
}

TEST(Cli, MissingArchiverLibrariesFailInsteadOfReportingSuccess) {
    CliFixture f;
    // A copy of the program without the libraries beside it.
    const std::string lonely = f.dir.folder() + "lonely";
    MakeDir(lonely);
    std::filesystem::copy_file(testsupport::ProgramFolder() + "tessarine-cli", lonely + "/tessarine-cli");
    for (const std::string mode : {"zip", "lha"}) {
        const auto r = RunProgram(lonely + "/tessarine-cli",
                                  {"--user-folder", f.user, "--mode", mode, "--dest", f.out, f.src});
        EXPECT_EQ(r.status, 1) << mode << ": " << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}
