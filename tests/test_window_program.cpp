// The built window program, end to end: started with a folder as its
// argument and quiet settings, it runs the job without a question, closes
// itself, and leaves its product and a complete set.ini behind; ended by a
// signal, it still saves its settings.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <thread>
#include <vector>

#include "test_support.h"
#include "window_program_support.h"

namespace fs = std::filesystem;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

// Runs the program on the offscreen platform in `folder` and waits up to
// `limit` for its end: its exit status, or -1 while it still runs.
int RunWindowProgram(const std::string& program, const std::vector<std::string>& arguments, std::chrono::seconds limit,
                     const std::string& folder = "/", std::string* output = nullptr) {
    testsupport::ChildProgram child(program, arguments, {"QT_QPA_PLATFORM=offscreen"}, folder);
    const int status = child.Wait(static_cast<int>(limit.count()) * 1000);
    if (output) *output = child.Stdout();
    return status;
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
    if (c.needsLibraries && !testsupport::ArchiversBuilt()) {
        GTEST_SKIP() << "the archiver libraries are not in the program folder";
    }
    testsupport::TempDir dir;
    const std::string prog = testsupport::CopyProgramFolder(dir.path(), true);

    const std::string src = dir.path() + "/Docs";
    const std::string dest = dir.path() + "/dest";
    MakeDir(src);
    MakeDir(src + "/sub");
    MakeDir(dest);
    WriteFile(src + "/a.txt", "alpha\n");
    WriteFile(src + "/sub/b.txt", "beta\n");
    const std::string user = testsupport::MakeQuietUser(prog, dest, c.mode);

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
    const std::string program = testsupport::ProgramFolder() + "tessarine";
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

// True until the process has ended and is gone (a zombie counts as ended).
bool ProcessAlive(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

struct SignalCase {
    int signal;
    // A 7z job that waits in 7zz (a stand-in that never ends by itself), so
    // that the worker thread is running when the signal comes; else idle.
    bool jobRunning;
};

void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << ::strsignal(c.signal) << (c.jobRunning ? " during a job" : " while idle");
}

class WindowProgramSignal : public ::testing::TestWithParam<SignalCase> {};

// A logout (SIGTERM), Ctrl+C (SIGINT) or a closed terminal (SIGHUP) ends
// the program as a cancelled job ends: at once, with 128 + the signal's
// number, with its settings saved, and without a product under its final
// name or a 7zz left running.
TEST_P(WindowProgramSignal, EndsAsACancelledJobAndSavesTheSettings) {
    const SignalCase c = GetParam();
    if (c.jobRunning && !testsupport::ArchiversBuilt()) {
        GTEST_SKIP() << "the archiver libraries are not in the program folder";
    }
    testsupport::TempDir dir;
    const std::string prog = testsupport::CopyProgramFolder(dir.path(), c.jobRunning);
    const std::string user = prog + "user/" + testsupport::LoginName();
    const std::string dest = dir.path() + "/dest";
    const std::string started = dir.path() + "/7zz-started";
    std::vector<std::string> arguments;
    if (c.jobRunning) {
        fs::remove(prog + "7zz");
        WriteFile(prog + "7zz",
                  "#!/bin/sh\necho $$ > \"$TESSARINE_TEST_STARTED.part\"\n"
                  "mv \"$TESSARINE_TEST_STARTED.part\" \"$TESSARINE_TEST_STARTED\"\nexec sleep 600\n");
        fs::permissions(prog + "7zz", fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
        MakeDir(dest);
        MakeDir(dir.path() + "/Docs");
        WriteFile(dir.path() + "/Docs/a.txt", "alpha\n");
        testsupport::MakeQuietUser(prog, dest, 4);
        arguments.push_back(dir.path() + "/Docs");
    }
    testsupport::ChildProgram program(prog + "tessarine", arguments,
                                      {"QT_QPA_PLATFORM=offscreen", "TESSARINE_TEST_STARTED=" + started}, dir.path());
    // Ready: the job has started 7zz, or the idle window has made its user
    // folder (the signals are caught from before that).
    const std::string ready = c.jobRunning ? started : user + "/tmp";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(ready) || program.Wait(0) != -1; }, std::chrono::seconds(60)));
    ASSERT_EQ(program.Wait(0), -1) << "ended before the signal: " << program.Stderr();

    program.Signal(c.signal);
    EXPECT_EQ(program.Wait(30000), 128 + c.signal) << program.Stderr();

    const std::string ini = ReadFile(user + "/set.ini");
    for (const char* key : {"PosX", "PosY", "Mode", "SelectSaveMode", "ActMode1"}) {
        EXPECT_NE(ini.find(std::string("\n") + key + "="), std::string::npos) << key << " in\n" << ini;
    }
    if (c.jobRunning) {
        EXPECT_NE(ini.find("\nMode=4\r"), std::string::npos) << ini;
        for (const auto& entry : fs::directory_iterator(dest)) {
            EXPECT_NE(entry.path().filename().string().rfind("Docs", 0), 0u) << entry.path();
        }
        const pid_t sevenZip = static_cast<pid_t>(std::stol(ReadFile(started)));
        EXPECT_TRUE(WaitFor([&] { return !ProcessAlive(sevenZip); }, std::chrono::seconds(30)));
        if (ProcessAlive(sevenZip)) ::kill(sevenZip, SIGKILL);
    }
}

// Started under nohup, the program outlives its terminal: SIGHUP stays
// ignored, and the SIGTERM after it is the signal that ends the program.
TEST(WindowProgramSignalIgnored, NohupKeepsSighupIgnored) {
    if (!fs::exists("/usr/bin/nohup")) GTEST_SKIP() << "no /usr/bin/nohup";
    testsupport::TempDir dir;
    const std::string prog = testsupport::CopyProgramFolder(dir.path(), false);
    testsupport::ChildProgram program("/usr/bin/nohup", {prog + "tessarine"}, {"QT_QPA_PLATFORM=offscreen"},
                                      dir.path());
    const std::string ready = prog + "user/" + testsupport::LoginName() + "/tmp";
    ASSERT_TRUE(WaitFor([&] { return fs::exists(ready) || program.Wait(0) != -1; }, std::chrono::seconds(60)));
    program.Signal(SIGHUP);
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(30000), 128 + SIGTERM) << program.Stderr();
}

INSTANTIATE_TEST_SUITE_P(TermIntHup, WindowProgramSignal,
                         ::testing::Values(SignalCase{SIGTERM, true}, SignalCase{SIGINT, true},
                                           SignalCase{SIGHUP, true}, SignalCase{SIGTERM, false},
                                           SignalCase{SIGINT, false}, SignalCase{SIGHUP, false}),
                         [](const auto& info) {
                             return std::string(sigabbrev_np(info.param.signal)) +
                                    (info.param.jobRunning ? "DuringAJob" : "WhileIdle");
                         });

}  // namespace
