// The window program's command line as a user types it, on a real display
// with a window manager: Qt's own options never name the job's folder, an
// unknown option is refused before any window, and an argument that names
// nothing shows an error box and starts no job.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "process_runner.h"
#include "test_support.h"
#include "window_program_support.h"
#include "xcb_session.h"

namespace fs = std::filesystem;
using testsupport::MakeDir;
using testsupport::ReadFile;
using testsupport::WriteFile;

namespace {

constexpr int kStaysOpen = -1;

struct ArgumentCase {
    const char* what;
    std::vector<std::string> arguments;  // "@" at the start stands for the test's folder
    int status;                          // the exit status, or kStaysOpen with an error box
    const char* product;                 // the base name of the one product; empty for none
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.what; }

class WindowArguments : public ::testing::TestWithParam<ArgumentCase> {};

bool HasTitle(const std::vector<std::string>& titles, const std::string& title) {
    return std::find(titles.begin(), titles.end(), title) != titles.end();
}

TEST_P(WindowArguments, OnlyWhatQtLeavesNamesTheJob) {
    SKIP_WITHOUT_WINDOW_MANAGER();
    const ArgumentCase c = GetParam();
    testsupport::TempDir dir;
    const std::string prog = testsupport::CopyProgramFolder(dir.path(), false);
    const std::string dest = dir.path() + "/dest";
    MakeDir(dest);
    // "-reverse" is one of Qt's options; after "--" it is a folder's name.
    for (const char* folder : {"/Docs", "/-reverse"}) {
        MakeDir(dir.path() + folder);
        WriteFile(dir.path() + folder + "/a.txt", "alpha\n");
    }
    const std::string user = testsupport::MakeQuietUser(prog, dest, 0);
    std::vector<std::string> arguments;
    for (const std::string& a : c.arguments) arguments.push_back(a.rfind('@', 0) == 0 ? dir.path() + a.substr(1) : a);

    testsupport::ChildProgram program(prog + "tessarine", arguments, {"QT_QPA_PLATFORM=xcb"}, dir.path());
    if (c.status == kStaysOpen) {
        // The error box stands over the main window, and the program waits.
        EXPECT_TRUE(xcbtest::WaitUntil([&] {
            const auto titles = xcbtest::TitlesOfProcess(program.Pid());
            return program.Wait(0) != -1 || (HasTitle(titles, "エラー") && HasTitle(titles, "Tessarine"));
        })) << program.Stderr();
        EXPECT_EQ(program.Wait(0), -1) << program.Stderr();
        program.Signal(SIGTERM);
        EXPECT_EQ(program.Wait(30000), 128 + SIGTERM) << program.Stderr();
    } else {
        EXPECT_EQ(program.Wait(60000), c.status) << program.Stderr();
    }
    if (c.status == 2) {
        const std::string err = program.Stderr();
        EXPECT_NE(err.find("unknown option " + arguments.front()), std::string::npos) << err;
        EXPECT_NE(err.find("使い方 / usage"), std::string::npos) << err;
    }

    std::vector<std::string> products;
    for (const auto& entry : fs::directory_iterator(dest)) products.push_back(entry.path().filename().string());
    if (std::string(c.product).empty()) {
        EXPECT_TRUE(products.empty()) << products.front();
    } else {
        ASSERT_EQ(products.size(), 1u);
        // base name + yyyymmddhhnnss
        EXPECT_EQ(products[0].rfind(c.product, 0), 0u) << products[0];
        EXPECT_EQ(products[0].size(), std::string(c.product).size() + 14) << products[0];
        EXPECT_EQ(ReadFile(dest + "/" + products[0] + "/a.txt"), "alpha\n");
    }
    // Settings are saved however the program ended, but not before a window.
    EXPECT_EQ(fs::exists(user + "/set.ini") && ReadFile(user + "/set.ini").find("\nPosX=") != std::string::npos,
              c.status != 2);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, WindowArguments,
    ::testing::Values(ArgumentCase{"an unknown option", {"--vesion"}, 2, ""},
                      ArgumentCase{"a Qt option without its value", {"-style"}, 2, ""},
                      ArgumentCase{"an empty argument", {""}, kStaysOpen, ""},
                      ArgumentCase{"a path naming nothing", {"@/Docs/nothing"}, kStaysOpen, ""},
                      ArgumentCase{"Qt takes -style and its value", {"-style", "Fusion", "@/Docs"}, 0, "Docs"},
                      ArgumentCase{"Qt never sees what follows --", {"--", "@/-reverse"}, 0, "-reverse"},
                      ArgumentCase{"a file stands for its folder", {"@/Docs/a.txt"}, 0, "Docs"}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

}  // namespace
