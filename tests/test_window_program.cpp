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

// Runs the program with one argument on the offscreen platform; the exit
// status, or -1 when it had not closed itself after `limit`.
int RunWindowProgram(const std::string& program, const std::string& argument, std::chrono::seconds limit) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(program.c_str(), program.c_str(), argument.c_str(), static_cast<char*>(nullptr));
        ::_exit(97);
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
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

    ASSERT_EQ(RunWindowProgram(prog + "tessarine", src, std::chrono::seconds(60)), 0);

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
    for (const char* key : {"PosX", "PosY", "SelectFileName", "Mode", "AutoMode", "HiddenFolder", "HiddenFile",
                            "OpenFolder", "SelectSaveFolderName", "SelectSaveMode", "NoFileMsg", "FNameSelect1",
                            "FNameSelect2", "ActMode1"}) {
        EXPECT_NE(ini.find(std::string("\n") + key + "="), std::string::npos) << key;
    }
    EXPECT_NE(ini.find("\nMode=" + std::to_string(c.mode) + "\r"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(EveryModeWithoutPassword, WindowProgram,
                         ::testing::Values(ModeCase{0, "", false}, ModeCase{1, ".zip", true},
                                           ModeCase{3, ".lzh", true}, ModeCase{4, ".7z", true},
                                           ModeCase{11, ".txt", true}, ModeCase{12, ".txt", true}),
                         [](const auto& info) { return "Mode" + std::to_string(info.param.mode); });

}  // namespace
