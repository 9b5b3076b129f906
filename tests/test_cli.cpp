// The command-line program, run as a user would run it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <thread>

#include "archiver_hazards.h"
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

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// Environment variables set for the programs a test starts, put back after.
class ScopedEnv {
public:
    void Set(const std::string& name, const std::optional<std::string>& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name.c_str());
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    ~ScopedEnv() {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

// Everything beneath a folder: each path with its kind, bits, time and content.
std::string Snapshot(const std::string& root) {
    std::vector<std::string> lines;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        std::string line = e.path().string() + " " + std::to_string(st.st_mode) + " " +
                           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
        if (S_ISREG(st.st_mode)) line += " " + ReadFile(e.path().string());
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return all;
}

bool AllAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

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
    WriteFile(f.user + "/data/jpg.dat",
              "\"2\",\"0\",\"日付フィルタ\",\"0\",\"0\"\r\n\"1\",\"1\",\"画像\",\"jpg\",\r\n");
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
    ::chmod(f.out.c_str(), 0777);
    WriteFile(f.user + "/set.ini", "[set]\r\nMode=11\r\n");
    ::chmod((f.user + "/set.ini").c_str(), 0);
    testsupport::HandToUnprivileged(f.user);
    const auto r = f.Run({"--dest", f.out, f.src}, {}, true);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("set.ini"), std::string::npos);
    EXPECT_EQ(f.OutputCount(), 0u);
}

TEST(Cli, SettingsApplyWhereNoOptionIsGiven) {
    CliFixture f;
    MakeDir(f.user);
    WriteFile(f.user + "/set.ini",
              "[set]\r\nMode=12\r\nSelectSaveMode=2\r\nSelectSaveFolderName=  " + f.out + "  \r\nFNameSelect2=1\r\n");
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
    testsupport::HandToUnprivileged(f.user);
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

// A level-2 LHA header holds at most 65535 bytes, 42 of which an ASCII path
// with a folder does not take: a path just past that (a link's counting its
// target) is left out with its reason, and the archive stays readable.
TEST(Cli, LhaPathsLongerThanAHeaderHoldsAreLeftOutAndTheArchiveStaysValid) {
    CliFixture f;
    constexpr size_t kLongestPath = 65535 - 42;
    // Links go in a shallower chain, so that their target can make the
    // difference (a target has at most 4095 bytes).
    const std::string files = testsupport::MakeDeepFolders(f.src, 325);
    MakeDir(f.src + "/links");
    const std::string links = "links/" + testsupport::MakeDeepFolders(f.src + "/links", 306);
    testsupport::WriteLong(f.src + "/" + links + "t", "link target");
    const struct {
        std::string name;
        bool link;
        size_t path;  // the stored length: the link's "name|target"
    } cases[] = {
        {"under", false, kLongestPath},
        {"past", false, kLongestPath + 1},
        {"link-fits", true, kLongestPath},
        {"link-past", true, kLongestPath + 1},
    };
    std::vector<std::string> kept = {"a.txt", "b.jpg", "sub/c.txt", links + "t"};
    for (const auto& c : cases) {
        const std::string& folder = c.link ? links : files;
        const size_t rest = c.path - folder.size() - c.name.size();
        if (c.link) {
            // "./" steps (one doubled "/" for an even length) to the file
            // "t" beside the link; "|" comes before the target.
            const size_t length = rest - 1;
            std::string target = length % 2 == 0 ? ".//" : "";
            while (target.size() + 1 < length) target += "./";
            target += "t";
            tessarine::UniqueFd at(tessarine::OpenLongPath(AT_FDCWD, f.src + "/" + folder, O_PATH | O_DIRECTORY));
            ASSERT_EQ(::symlinkat(target.c_str(), at.Get(), c.name.c_str()), 0) << c.name;
            if (c.path <= kLongestPath) kept.push_back(folder + c.name);
        } else {
            const std::string leaf = c.name + std::string(rest, 'x');
            testsupport::WriteLong(f.src + "/" + files + leaf, c.name);
            if (c.path <= kLongestPath) kept.push_back(files + leaf);
        }
    }
    const auto r = f.Run({"-q", "--mode", "lha", "--dest", f.out, f.src});
    EXPECT_EQ(r.status, 3) << r.err.substr(0, 300);
    // The report names each entry left out, with the reason, and no other.
    for (const auto& c : cases) {
        const size_t at = r.err.find("/" + c.name + (c.link ? "" : "x"));
        const bool leftOut = at != std::string::npos;
        EXPECT_EQ(leftOut, c.path > kLongestPath) << c.name;
        if (leftOut) {
            const std::string line = r.err.substr(at, r.err.find('\n', at) - at);
            EXPECT_NE(line.find("64 KiB"), std::string::npos) << c.name << ": " << line.substr(line.size() - 200);
        }
    }
    const std::string archive = FirstLine(r.out);
    const auto tested = RunProgram("/usr/bin/lha", {"t", archive});
    EXPECT_EQ(tested.status, 0) << tested.err.substr(0, 300);
    const auto listed = RunProgram("/usr/bin/bsdtar", {"-tf", archive});
    EXPECT_EQ(listed.status, 0) << listed.err.substr(0, 300);
    std::string want;
    for (const auto& name : testsupport::Sorted(kept)) want += name + "\n";
    std::string got;
    std::vector<std::string> names;
    for (size_t at = 0; at < listed.out.size();) {
        const size_t end = listed.out.find('\n', at);
        names.push_back(listed.out.substr(at, end - at));
        at = end == std::string::npos ? listed.out.size() : end + 1;
    }
    for (const auto& name : testsupport::Sorted(names)) got += name + "\n";
    EXPECT_EQ(testsupport::FirstDifference(got, want), "");
    RunProgram("/bin/rm", {"-rf", f.src});  // deeper than the test folder's own clean-up reaches
}

TEST(Cli, MissingArchiverLibrariesFailInsteadOfReportingSuccess) {
    CliFixture f;
    // A copy of the program without the libraries beside it.
    const std::string lonely = f.dir.folder() + "lonely";
    MakeDir(lonely);
    std::filesystem::copy_file(testsupport::ProgramFolder() + "tessarine-cli", lonely + "/tessarine-cli");
    for (const std::string mode : {"zip", "lha"}) {
        const auto r =
            RunProgram(lonely + "/tessarine-cli", {"--user-folder", f.user, "--mode", mode, "--dest", f.out, f.src});
        EXPECT_EQ(r.status, 1) << mode << ": " << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(Cli, OptionsAreReadTheUsualWay) {
    CliFixture f;
    // "--dest=DIR", "-dDIR" bundled behind flags, "-d DIR", options after the folder.
    const std::vector<std::vector<std::string>> forms = {
        {"--dest=" + f.out, "-qn", "--mode=filelist", f.src},
        {"-qnd" + f.out, "-mfilelist", f.src},
        {"-q", "-n", "-d", f.out, "-m", "filelist", f.src},
        {f.src, "-nqmfilelist", "--dest", f.out},
    };
    for (const auto& args : forms) {
        const auto r = f.Run(args);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        const std::string product = FirstLine(r.out);
        EXPECT_EQ(product.rfind(f.out + "/src", 0), 0u) << product;
        EXPECT_EQ(product.substr(product.size() - 4), ".txt");
    }
    EXPECT_EQ(f.OutputCount(), 0u);

    // A folder whose name begins with "-" follows "--".
    MakeDir(f.dir.folder() + "-lead");
    WriteFile(f.dir.folder() + "-lead/x", "x");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(f.dir.path());
    const auto withDashes = f.Run({"-qn", "-d", f.out, "-m", "filelist", "--", "-lead"});
    const auto without = f.Run({"-qn", "-d", f.out, "-m", "filelist", "-lead"});
    std::filesystem::current_path(cwd);
    EXPECT_EQ(withDashes.status, 0) << withDashes.err;
    EXPECT_EQ(FirstLine(withDashes.out).rfind(f.out + "/-lead", 0), 0u) << withDashes.out;
    EXPECT_EQ(without.status, 2);

    // What is wrong is named as written.
    ScopedEnv env;
    env.Set("LC_ALL", "C");
    const std::vector<std::pair<std::vector<std::string>, std::string>> wrong = {
        {{f.src, "--dest"}, "--dest needs a value"},      {{f.src, "-qd"}, "-d needs a value"},
        {{"--open=yes", f.src}, "--open takes no value"}, {{"-qx", f.src}, "unknown option -x"},
        {{"--frob=1", f.src}, "unknown option --frob"},
    };
    for (const auto& [args, message] : wrong) {
        const auto r = f.Run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
}

TEST(Cli, VersionIsPrinted) {
    const auto r = RunProgram("tessarine-cli", {"--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("tessarine-cli ", 0), 0u) << r.out;
}

TEST(Cli, DryRunPrintsProductAndEntriesAndWritesNothing) {
    CliFixture f;
    const std::string before = Snapshot(f.dir.path());
    for (const std::string mode : {"copy", "zip", "7z-pass", "lha", "filelist", "folderlist"}) {
        const auto r = f.Run({"-n", "-m", mode, "-d", f.out, f.src});  // no password on standard input
        ASSERT_EQ(r.status, 0) << mode << ": " << r.err;
        EXPECT_EQ(FirstLine(r.out).rfind(f.out + "/src", 0), 0u) << r.out;
        const size_t entries = mode == "copy" ? 5 : mode == "folderlist" ? 2 : 3;
        EXPECT_EQ(Lines(r.out), 1 + entries) << mode << ": " << r.out;
        EXPECT_NE(r.out.find(mode == "folderlist" ? f.src + "/sub/\n" : f.src + "/sub/c.txt\n"), std::string::npos);
    }
    // Not a byte changed, and no user folder made.
    EXPECT_EQ(Snapshot(f.dir.path()), before);
    EXPECT_FALSE(tessarine::FolderExists(f.user));
}

TEST(Cli, EmptyOrFileUserFolderIsBadUsage) {
    CliFixture f;
    WriteFile(f.dir.folder() + "afile", "x");
    for (const std::string& folder : {std::string(), f.dir.folder() + "afile"}) {
        const auto r = RunProgram("tessarine-cli", {"--user-folder", folder, "-m", "filelist", "-d", f.out, f.src});
        EXPECT_EQ(r.status, 2) << folder << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_EQ(f.OutputCount(), 0u);
    }
    EXPECT_EQ(ReadFile(f.dir.folder() + "afile"), "x");
}

TEST(Cli, UnreadableFolderListMattersOnlyWhenAutoModeUsesIt) {
    CliFixture f;
    ::chmod(f.dir.path().c_str(), 0777);
    ::chmod(f.out.c_str(), 0777);
    MakeDir(f.user);
    WriteFile(f.user + "/folderlist.dat", "\"1\",\"x\",\"x\",\"\",\"/x/\"\r\n");
    ::chmod((f.user + "/folderlist.dat").c_str(), 0);
    WriteFile(f.user + "/set.ini", "[set]\r\nAutoMode=0\r\n");
    testsupport::HandToUnprivileged(f.user);
    const auto r = f.Run({"-q", "-m", "filelist", "-d", f.out, f.src}, {}, true);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(f.OutputCount(), 1u);

    WriteFile(f.user + "/set.ini", "[set]\r\nAutoMode=1\r\n");
    const auto needed = f.Run({"-q", "-m", "filelist", "-d", f.out, f.src}, {}, true);
    EXPECT_EQ(needed.status, 2) << needed.err;
    EXPECT_NE(needed.err.find("folderlist.dat"), std::string::npos);
    EXPECT_EQ(f.OutputCount(), 1u);
}

TEST(Cli, MessagesFollowTheLocale) {
    CliFixture f;
    ScopedEnv env;
    struct Case {
        std::optional<std::string> all, messages, lang;
        bool japanese;
    };
    const std::vector<Case> cases = {
        {std::nullopt, std::nullopt, "ja_JP.UTF-8", true},
        {"C", std::nullopt, "ja_JP.UTF-8", false},
        {"", "ja_JP.UTF-8", "C.UTF-8", true},
        {std::nullopt, "en_US.UTF-8", "ja_JP.UTF-8", false},
        {std::nullopt, std::nullopt, std::nullopt, false},
    };
    for (const auto& c : cases) {
        env.Set("LC_ALL", c.all);
        env.Set("LC_MESSAGES", c.messages);
        env.Set("LANG", c.lang);
        const auto bad = f.Run({"--frobnicate", f.src});
        EXPECT_EQ(bad.status, 2);
        EXPECT_EQ(bad.err.find("不明なオプション --frobnicate") != std::string::npos, c.japanese) << bad.err;
        EXPECT_EQ(bad.err.find("unknown option --frobnicate") != std::string::npos, !c.japanese) << bad.err;
        const auto help = f.Run({"--help"});
        EXPECT_EQ(help.out.find("使い方") != std::string::npos, c.japanese);
        EXPECT_EQ(AllAscii(help.out), !c.japanese);
    }
    // A whole job in English: progress and messages without a Japanese word.
    env.Set("LC_ALL", "C");
    const auto job = f.Run({"--verify", "-m", "lha", "-d", f.out, f.src});
    EXPECT_EQ(job.status, 0) << job.err;
    EXPECT_NE(job.err.find("Verifying"), std::string::npos) << job.err;
    EXPECT_TRUE(AllAscii(job.err)) << job.err;
    // The reasons an archiver gives for entries it left out, too.
    ::mkfifo((f.src + "/pipe").c_str(), 0644);
    const auto leftOut = f.Run({"-m", "zip", "-d", f.out, f.src});
    EXPECT_EQ(leftOut.status, 3) << leftOut.err;
    EXPECT_NE(leftOut.err.find(f.src + "/pipe: named pipe"), std::string::npos) << leftOut.err;
    EXPECT_TRUE(AllAscii(leftOut.err)) << leftOut.err;
    // And a job that fails deep in the engine: a destination it cannot write.
    const std::string locked = f.dir.folder() + "locked";
    MakeDir(locked);
    ::chmod(locked.c_str(), 0555);
    ::chmod(f.dir.path().c_str(), 0777);
    testsupport::HandToUnprivileged(f.user);
    const auto failed = f.Run({"-m", "copy", "-d", locked, f.src}, {}, true);
    EXPECT_EQ(failed.status, 1) << failed.err;
    EXPECT_NE(failed.err.find("cannot make a working folder in the destination " + locked), std::string::npos)
        << failed.err;
    EXPECT_TRUE(AllAscii(failed.err)) << failed.err;
}

TEST(Cli, VerboseTellsEachEntryQuietOnlyTheProduct) {
    CliFixture f;
    const auto copy = f.Run({"-v", "-m", "copy", "-d", f.out, f.src});
    ASSERT_EQ(copy.status, 0) << copy.err;
    for (const std::string entry : {"/\n", "/sub/\n", "/a.txt\n", "/b.jpg\n", "/sub/c.txt\n"}) {
        EXPECT_NE(copy.err.find(f.src + entry), std::string::npos) << entry << copy.err;
    }
    const auto zip = f.Run({"--verbose", "-m", "zip", "-d", f.out, f.src});
    ASSERT_EQ(zip.status, 0) << zip.err;
    EXPECT_NE(zip.err.find(f.src + "/sub/c.txt\n"), std::string::npos) << zip.err;

    const auto quiet = f.Run({"-q", "-m", "7z", "-d", f.out, f.src});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(Lines(quiet.out), 1u);
}

TEST(Cli, OpenStartsTheFileManagerDetachedFromTheJob) {
    CliFixture f;
    const std::string bin = f.dir.folder() + "bin";
    const std::string marker = f.dir.folder() + "opened";
    MakeDir(bin);
    // The stand-in file manager records what it was asked to open and where
    // its standard output goes.
    WriteFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s %s' \"$1\" \"$(readlink /proc/$$/fd/1)\" > " + marker +
                                     ".tmp\nmv " + marker + ".tmp " + marker + "\n");
    ::chmod((bin + "/xdg-open").c_str(), 0755);
    ScopedEnv env;
    env.Set("PATH", bin + ":" + std::getenv("PATH"));
    const auto r = f.Run({"-q", "--open", "-m", "zip", "-d", f.out, f.src});
    ASSERT_EQ(r.status, 0) << r.err;
    // The opener runs on after the job; wait until it has written.
    for (int i = 0; i < 1000 && ReadFile(marker) == "<missing>"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ReadFile(marker), f.out + "/ /dev/null");
}

namespace {

// Starts the program args[0] with the read end of a pipe as its standard
// input and its output discarded, after `prepare` in the child; returns its
// id and the pipe's write end in `input` (-1 when there is no pipe).
pid_t StartWithInputPipe(std::vector<std::string> args, int& input, const std::function<void()>& prepare = {}) {
    int in[2];
    if (::pipe(in) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::close(in[0]);
        ::close(in[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (prepare) prepare();
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(97);
    }
    ::close(in[0]);
    input = in[1];
    return pid;
}

// Starts the program with a standard input that stays open, waits until
// it reads from it, and ends it with the signal.
int StatusAfterSignalWhileReadingInput(std::vector<std::string> args, int signal) {
    args.insert(args.begin(), testsupport::ProgramFolder() + "tessarine-cli");
    int input = -1;
    const pid_t pid = StartWithInputPipe(args, input);
    if (pid < 0) return -2;
    // The main thread blocked in read(0, ...): the program asks for the password.
    const std::string reading = std::to_string(SYS_read) + " 0x0 ";
    for (int i = 0; i < 3000 && ReadFile("/proc/" + std::to_string(pid) + "/syscall").rfind(reading, 0) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(input);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(Cli, SignalsEndTheJobWithTheirStatus) {
    CliFixture f;
    const std::vector<std::string> args = {"--user-folder", f.user, "-m", "7z-pass", "-d", f.out, f.src};
    EXPECT_EQ(StatusAfterSignalWhileReadingInput(args, SIGTERM), 143);
    EXPECT_EQ(StatusAfterSignalWhileReadingInput(args, SIGINT), 130);
    EXPECT_EQ(f.OutputCount(), 0u);
}

TEST(Cli, RelativeDestinationIsTakenFromTheCurrentFolder) {
    CliFixture f;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(f.dir.path());
    const auto zip = f.Run({"-q", "-m", "zip", "-d", "out", "src"});
    const auto lha = f.Run({"-q", "-m", "lha", "-d", "out/", "src"});
    std::filesystem::current_path(cwd);
    EXPECT_EQ(zip.status, 0) << zip.err;
    EXPECT_EQ(lha.status, 0) << lha.err;
    EXPECT_EQ(zip.out.rfind(f.out + "/src", 0), 0u) << zip.out;
    EXPECT_EQ(f.OutputCount(), 2u);
    // Nothing was written into the source.
    EXPECT_FALSE(tessarine::FolderExists(f.src + "/out"));
}

TEST(Cli, PasswordsTheArchiversCannotTakeAreRefusedBeforeAnyProduct) {
    CliFixture f;
    ScopedEnv env;
    env.Set("LC_ALL", "C");
    struct Case {
        const char* what;
        std::string input;
        int status;
        const char* message;  // part of the one line told; empty: none
    };
    const std::string longest(1024, 'x');
    const std::vector<Case> cases = {
        {"CR before the LF", "secret\r\n", 2, "line break"},
        {"CR inside", "sec\rret\n", 2, "line break"},
        {"NUL inside", std::string("sec\0ret\n", 8), 2, "NUL"},
        {"one byte too long", longest + "x\n", 2, "too long"},
        {"too long without a line end", longest + longest, 2, "too long"},
        {"the longest taken", longest + "\n", 0, ""},
        {"no line end at the input's end", "secret", 0, ""},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(f.out);
        MakeDir(f.out);
        const auto r = f.Run({"-m", "7z-pass", "-d", f.out, f.src}, c.input);
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
        if (c.status == 2) {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
            EXPECT_EQ(Lines(r.err), 1u) << c.what << ": " << r.err;
            EXPECT_EQ(f.OutputCount(), 0u) << c.what;
        } else {
            EXPECT_EQ(f.OutputCount(), 1u) << c.what;
        }
    }
}

TEST(Cli, APasswordJobThatCrashesLeavesNoCore) {
    // The job runs as an ordinary user, whose process files in /proc are
    // owned by root exactly when the process is not dumpable; the crash
    // comes while the password is in memory, half of its line read.
    CliFixture f;
    const std::string controlCores = f.dir.folder() + "control", cores = f.dir.folder() + "cores";
    MakeDir(controlCores);
    MakeDir(cores);
    for (const std::string& p : {f.dir.path(), controlCores, cores, f.out}) ::chmod(p.c_str(), 0777);
    const std::string password = "core-dump-secret-4711";
    const uid_t runAs = ::geteuid() == 0 ? 65534 : ::geteuid();

    // Crashes the program of `args` in `folder` while it reads a partial
    // line from a pipe, cores allowed; true when the kernel wrote a core.
    const auto crash = [&](const std::vector<std::string>& args, const std::string& folder, bool& rootOwned) {
        int input = -1;
        const pid_t pid = StartWithInputPipe(args, input, [&folder] {
            const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
            ::setrlimit(RLIMIT_CORE, &unlimited);
            if (::chdir(folder.c_str()) != 0) ::_exit(96);
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(98);
        });
        EXPECT_GT(pid, 0);
        (void)!::write(input, password.data(), password.size());
        // Every byte written has been taken from the pipe: the process holds
        // them and waits for the line end.
        int left = 1;
        for (int i = 0; i < 3000 && (::ioctl(input, FIONREAD, &left) != 0 || left > 0); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        struct stat st {};
        ::stat(("/proc/" + std::to_string(pid) + "/status").c_str(), &st);
        rootOwned = st.st_uid == 0;
        ::kill(pid, SIGABRT);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(input);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT) << status;
        return WIFSIGNALED(status) && WCOREDUMP(status);
    };

    // What an ordinary reader of standard input leaves here, to know
    // whether this machine writes cores at all.
    bool rootOwned = false;
    const bool controlDumped = crash({"/bin/sh", "-c", "read line"}, controlCores, rootOwned);
    EXPECT_EQ(rootOwned, runAs == 0);

    const std::string program = testsupport::ProgramFolder() + "tessarine-cli";
    const bool dumped =
        crash({program, "--user-folder", f.user, "-m", "7z-pass", "-d", f.out, f.src}, cores, rootOwned);
    EXPECT_TRUE(rootOwned) << "the process was dumpable while it held the password";
    EXPECT_FALSE(dumped);
    if (!controlDumped) std::printf("note: this machine wrote no core for the dumpable control\n");
    for (const auto& e : std::filesystem::directory_iterator(cores)) {
        EXPECT_EQ(ReadFile(e.path()).find(password), std::string::npos) << e.path();
    }
    EXPECT_EQ(f.OutputCount(), 0u);
}

TEST(Cli, AUserFolderSomeoneElseControlsEndsTheProgram) {
    // Run as root over a folder that nobody, its would-be intruder, can
    // change: one line naming the entry, status 1, nothing made, and the
    // folder neither read (its set.ini would make a list) nor seeded.
    if (::geteuid() != 0) GTEST_SKIP() << "handing a folder to another user needs root";
    ScopedEnv env;
    env.Set("LC_ALL", "C");
    struct Case {
        const char* what;
        std::string entry;  // relative to the user folder; "" the folder itself
        std::function<void(const std::string&)> spoil;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"another user's folder", "", [](const std::string& p) { ::lchown(p.c_str(), 65534, 65534); },
         "belongs to another user"},
        {"a link", "",
         [](const std::string& p) {
             std::filesystem::rename(p, p + ".real");
             std::filesystem::create_symlink(p + ".real", p);
         },
         "is a symbolic link"},
        {"a group-writable set.ini", "set.ini", [](const std::string& p) { ::chmod(p.c_str(), 0664); },
         "can be written by other users"},
        {"a world-writable data folder", "data", [](const std::string& p) { ::chmod(p.c_str(), 0777); },
         "can be written by other users"},
    };
    for (const auto& c : cases) {
        for (const bool dryRun : {false, true}) {
            CliFixture f;
            MakeDir(f.user);
            MakeDir(f.user + "/data");
            WriteFile(f.user + "/set.ini", "[set]\r\nMode=11\r\n");
            const std::string spoiled = c.entry.empty() ? f.user : f.user + "/" + c.entry;
            c.spoil(spoiled);
            std::vector<std::string> args = {"-d", f.out, f.src};
            if (dryRun) args.insert(args.begin(), "-n");
            const auto r = f.Run(args);
            const std::string what = std::string(c.what) + (dryRun ? " (dry run)" : "");
            EXPECT_EQ(r.status, 1) << what << ": " << r.err;
            EXPECT_EQ(r.err, "tessarine-cli: " + spoiled + " " + c.reason + " and is not used\n") << what;
            EXPECT_EQ(r.out, "") << what;
            EXPECT_EQ(f.OutputCount(), 0u) << what;
            EXPECT_FALSE(std::filesystem::exists(f.user + "/folderlist.dat")) << what;
        }
    }
}

// Under a memory limit a job either succeeds whole or fails with the one
// memory message; it never ends by a signal, never leaves a file out for
// want of memory (exit 3), and a failed job leaves nothing in the
// destination (no staging folder, no partial product). The tree is large
// enough that the lowest limits run out in the collection, the copy or the
// archiving; the LHA limits go in steps of 1 MiB through the span where the
// archiver's own allocations fail.
TEST(Cli, LowMemoryFailsTheJobAndLeavesNothing) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves far more address space than the limits tried here";
#endif
    ScopedEnv env;
    env.Set("LC_ALL", "C");
    CliFixture f;
    constexpr int kFolders = 60, kFiles = 3000;
    for (int d = 0; d < kFolders; ++d) MakeDir(f.src + "/dir" + std::to_string(d));
    for (int i = 0; i < kFiles; ++i)
        WriteFile(f.src + "/dir" + std::to_string(i % kFolders) + "/file" + std::to_string(i) + ".txt",
                  std::string(static_cast<size_t>(i % 200), 'x'));
    const size_t sourceFiles = kFiles + 3;  // and the fixture's own three
    auto filesBeneath = [](const std::string& root) {
        size_t n = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root)) n += e.is_regular_file() ? 1 : 0;
        return n;
    };
    const struct {
        std::vector<std::string> mode;
        std::vector<unsigned> limitsMiB;  // measured: the lowest fail, the highest succeeds
    } cases[] = {
        {{"-m", "copy", "--verify"}, {20, 28, 32, 36, 44, 1024}},
        {{"-m", "lha"}, {24, 26, 28, 29, 30, 31, 32, 33, 34, 35, 36, 38, 40, 1024}},
    };
    for (const auto& c : cases) {
        std::map<int, int> statuses;
        for (const unsigned limit : c.limitsMiB) {
            std::vector<std::string> args = c.mode;
            args.insert(args.end(), {"-d", f.out, f.src});
            args.insert(args.begin(), {"--user-folder", f.user});
            const auto r = RunProgram("tessarine-cli", args, {}, false, 60, rlim_t{limit} << 20);
            const std::string what = c.mode[1] + " under " + std::to_string(limit) + " MiB: ";
            ++statuses[r.status];
            const auto left = testsupport::FolderNames(f.out);
            if (r.status == 1) {
                EXPECT_NE(r.err.find("Error: the job was stopped: it ran out of memory\n"), std::string::npos)
                    << what << r.err;
                EXPECT_TRUE(left.empty()) << what << left.front();
            } else {
                ASSERT_EQ(r.status, 0) << what << r.err;
                ASSERT_EQ(left.size(), 1u) << what << r.err;
                const std::string product = f.out + "/" + left.front();
                if (c.mode[1] == "copy") {
                    EXPECT_EQ(filesBeneath(product), sourceFiles) << what;
                }
                std::filesystem::remove_all(product);
            }
        }
        // Both ends were reached: the limits still test something.
        EXPECT_GT(statuses[1], 0) << c.mode[1];
        EXPECT_GT(statuses[0], 0) << c.mode[1];
    }
}
