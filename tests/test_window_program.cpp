// The built window program, end to end: started with a folder as its
// argument and quiet settings, it runs the job without a question, closes
// itself, and leaves its product and a complete set.ini behind.
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <filesystem>
#include <thread>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

std::string BuildProgramFolder() {
    const char* dir = std::getenv("TESSARINE_BIN_DIR");
    return dir ? std::string(dir) + "/" : std::string("../bin/");
}

std::string LoginName() {
    const passwd* pw = ::getpwuid(::geteuid());
    return pw ? pw->pw_name : "";
}

// Runs the program with the arguments on the offscreen platform, in
// `folder`, its standard output into `output` when given; the exit status,
// or -1 when it had not closed itself after `limit`.
int RunWindowProgram(const std::string& program, const std::vector<std::string>& arguments, std::chrono::seconds limit,
                     const std::string& folder = "/", std::string* output = nullptr) {
    int pipeFds[2] = {-1, -1};
    if (output && ::pipe(pipeFds) != 0) return -2;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (::chdir(folder.c_str()) != 0) ::_exit(96);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(output ? pipeFds[1] : null, 1);
        ::dup2(null, 2);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(97);
    }
    if (output) {
        ::close(pipeFds[1]);
        ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    }
    const auto drain = [&] {
        if (!output) return;
        char buffer[4096];
        ssize_t got;
        while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) output->append(buffer, static_cast<size_t>(got));
    };
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        drain();
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            if (output) ::close(pipeFds[0]);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    drain();
    if (output) ::close(pipeFds[0]);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ModeCase {
    int mode;
    const char* extension;  // empty: the copy folder
    // The window offers every mode but copy only when both archiver
    // libraries are installed; a saved mode falls back to copy otherwise.
    bool needsLibraries;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << "mode " << c.mode; }

class WindowProgram : public ::testing::TestWithParam<ModeCase> {};

TEST_P(WindowProgram, CommandLineJobMakesItsProductAndCloses) {
    const ModeCase c = GetParam();
    const std::string built = BuildProgramFolder();
    if (c.needsLibraries && !(fs::exists(built + "lib7-zip32.so") && fs::exists(built + "libunlha32.so"))) {
        GTEST_SKIP() << "the archiver libraries are not in the program folder";
    }
    testsupport::TempDir dir;
    // A program folder of its own, so the build's user folder stays as it is.
    const std::string prog = dir.path() + "/prog/";
    MakeDir(prog);
    fs::copy_file(built + "tessarine", prog + "tessarine");
    for (const char* lib : {"lib7-zip32.so", "libunlha32.so"}) {
        if (fs::exists(built + lib)) fs::copy_file(built + lib, prog + lib);
    }
    if (fs::exists(built + "7zz")) fs::copy_file(built + "7zz", prog + "7zz");
    fs::copy(built + "data", prog + "data", fs::copy_options::recursive);

    const std::string src = dir.path() + "/Docs";
    const std::string dest = dir.path() + "/dest";
    MakeDir(src);
    MakeDir(src + "/sub");
    MakeDir(dest);
    WriteFile(src + "/a.txt", "alpha\n");
    WriteFile(src + "/sub/b.txt", "beta\n");
    const std::string user = prog + "user/" + LoginName();
    MakeDir(prog + "user");
    MakeDir(user);
    WriteFile(user + "/set.ini", "[set]\r\nActMode1=0\r\nSelectSaveMode=2\r\nSelectSaveFolderName=" + dest +
                                     "\r\nOpenFolder=0\r\nMode=" + std::to_string(c.mode) + "\r\n");

    ASSERT_EQ(RunWindowProgram(prog + "tessarine", {src}, std::chrono::seconds(60)), 0);

    std::vector<fs::path> products;
    for (const auto& entry : fs::directory_iterator(dest)) products.push_back(entry.path());
    ASSERT_EQ(products.size(), 1u);
    const std::string name = products[0].filename().string();
    // Docs + yyyymmddhhnnss + extension
    EXPECT_EQ(name.rfind("Docs", 0), 0u) << name;
    EXPECT_EQ(name.size(), 4 + 14 + std::string(c.extension).size()) << name;
    if (std::string(c.extension).empty()) {
        EXPECT_EQ(ReadFile(products[0].string() + "/a.txt"), "alpha\n");
        EXPECT_EQ(ReadFile(products[0].string() + "/sub/b.txt"), "beta\n");
    } else {
        EXPECT_EQ(products[0].extension().string(), c.extension);
        EXPECT_GT(fs::file_size(products[0]), 0u);
    }

    const std::string ini = ReadFile(user + "/set.ini");
    for (const char* key :
         {"PosX", "PosY", "SelectFileName", "Mode", "AutoMode", "HiddenFolder", "HiddenFile", "OpenFolder",
          "SelectSaveFolderName", "SelectSaveMode", "NoFileMsg", "FNameSelect1", "FNameSelect2", "ActMode1"}) {
        EXPECT_NE(ini.find(std::string("\n") + key + "="), std::string::npos) << key;
    }
    EXPECT_NE(ini.find("\nMode=" + std::to_string(c.mode) + "\r"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(EveryModeWithoutPassword, WindowProgram,
                         ::testing::Values(ModeCase{0, "", false}, ModeCase{1, ".zip", true}, ModeCase{3, ".lzh", true},
                                           ModeCase{4, ".7z", true}, ModeCase{11, ".txt", true},
                                           ModeCase{12, ".txt", true}),
                         [](const auto& info) { return "Mode" + std::to_string(info.param.mode); });

// --help, -h and --version answer and end; they never start a job on the
// current folder.
TEST(WindowProgramOptions, HelpAndVersionPrintAndExit) {
    const std::string program = BuildProgramFolder() + "tessarine";
    testsupport::TempDir dir;
    WriteFile(dir.path() + "/a.txt", "a");
    for (const char* option : {"--help", "-h", "--version"}) {
        std::string output;
        EXPECT_EQ(RunWindowProgram(program, {option}, std::chrono::seconds(30), dir.path(), &output), 0) << option;
        if (std::string(option) == "--version") {
            EXPECT_EQ(output.rfind("tessarine ", 0), 0u) << output;
            EXPECT_NE(output.find_first_of("0123456789"), std::string::npos) << output;
        } else {
            EXPECT_NE(output.find("--version"), std::string::npos) << output;
        }
    }
    // Nothing was made in the folder the program was started in.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// "--" takes what follows as the path, also a folder whose name begins
// with "-".
TEST(WindowProgramOptions, DoubleDashRunsAJobOnAPathBeginningWithADash) {
    const std::string built = BuildProgramFolder();
    testsupport::TempDir dir;
    const std::string prog = dir.path() + "/prog/";
    MakeDir(prog);
    fs::copy_file(built + "tessarine", prog + "tessarine");
    fs::copy(built + "data", prog + "data", fs::copy_options::recursive);
    const std::string src = dir.path() + "/-Docs";
    const std::string dest = dir.path() + "/dest";
    MakeDir(src);
    MakeDir(dest);
    WriteFile(src + "/a.txt", "alpha\n");
    const std::string user = prog + "user/" + LoginName();
    MakeDir(prog + "user");
    MakeDir(user);
    WriteFile(user + "/set.ini", "[set]\r\nActMode1=0\r\nSelectSaveMode=2\r\nSelectSaveFolderName=" + dest +
                                     "\r\nOpenFolder=0\r\nMode=0\r\n");
    ASSERT_EQ(RunWindowProgram(prog + "tessarine", {"--", src}, std::chrono::seconds(60), dir.path()), 0);
    std::vector<std::string> products;
    for (const auto& entry : fs::directory_iterator(dest)) products.push_back(entry.path().filename().string());
    ASSERT_EQ(products.size(), 1u);
    EXPECT_EQ(products[0].rfind("-Docs", 0), 0u) << products[0];
    EXPECT_EQ(ReadFile(dest + "/" + products[0] + "/a.txt"), "alpha\n");
}

}  // namespace
