// Jobs cut short at random moments, in every mode: the destination then
// holds complete products under their final names and nothing else but,
// after SIGKILL, the staging folder of the killed job, which the next job
// removes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "libraries/lha/lha_reader.h"
#include "engine/staging.h"
#include "process_runner.h"
#include "test_support.h"

using testsupport::MakeDir;
using testsupport::ProgramFolder;
using testsupport::ReadFile;
using testsupport::RunProgram;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace fs = std::filesystem;

namespace {

struct Tree {
    TempDir dir;
    std::string user = dir.folder() + "user", src = dir.folder() + "src", out = dir.folder() + "out";
    size_t files = 0;
    Tree() {
        for (const auto& d : {user, src, out}) MakeDir(d);
        std::mt19937 random(7);
        for (int f = 0; f < 10; ++f) {
            const std::string folder = src + "/d" + std::to_string(f);
            MakeDir(folder);
            for (int i = 0; i < 50; ++i, ++files) {
                std::string text(500 + random() % 8000, 'a');
                for (auto& c : text) c = static_cast<char>('a' + random() % 26);
                WriteFile(folder + "/f" + std::to_string(i) + ".txt", text);
            }
        }
    }
    std::vector<std::string> Args(const std::string& mode) const {
        return {"--user-folder", user, "-q", "--mode", mode, "--dest", out, src};
    }
};

// Starts a job of the command-line program, its standard streams empty or
// dropped; one that hangs is killed after two minutes.
bool Start(tessarine::ChildProcess& job, const std::vector<std::string>& args) {
    tessarine::ChildCommand command;
    command.program = ProgramFolder() + "tessarine-cli";
    command.argv = {command.program};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    command.outLimit = command.errLimit = 0;
    command.timeout = std::chrono::seconds(120);
    return job.Start(command);
}

// What is wrong with an entry of the destination that stands under a
// final name; empty when it is a complete product of the tree.
std::string Defect(const Tree& tree, const fs::path& entry) {
    const std::string name = entry.filename().string();
    const std::string ext = entry.extension().string();
    if (fs::is_directory(entry)) {
        size_t count = 0;
        for (const auto& e : fs::recursive_directory_iterator(entry)) {
            if (!e.is_regular_file()) continue;
            ++count;
            const std::string rel = fs::relative(e.path(), entry).string();
            if (ReadFile(e.path()) != ReadFile(tree.src + "/" + rel)) return rel + " differs";
        }
        return count == tree.files ? "" : std::to_string(count) + " of " + std::to_string(tree.files) + " files";
    }
    if (ext == ".zip" || ext == ".7z") {
        const auto r = RunProgram("/usr/bin/7zz", {"t", "-bd", entry.string()});
        return r.status == 0 && r.out.find("Files: " + std::to_string(tree.files)) != std::string::npos
                   ? ""
                   : "7zz t: " + r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
    }
    if (ext == ".lzh") {
        size_t members = 0;
        const auto defect = tessarine::CheckLhaArchive(entry.string(), &members);
        if (defect) return defect->entry + ": " + tessarine::RenderMessage(defect->reason);
        return members == tree.files ? "" : std::to_string(members) + " members";
    }
    if (ext == ".txt") {
        const std::string text = ReadFile(entry.string());
        const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
        return lines == tree.files ? "" : std::to_string(lines) + " lines";
    }
    return "not a product: " + name;
}

}  // namespace

TEST(InterruptedJobs, EveryModeLeavesCompleteProductsOrNoneAndTheNextJobCleansUp) {
    const int trials = std::getenv("KILL_TRIALS") ? std::atoi(std::getenv("KILL_TRIALS")) : 2;
    std::mt19937 random(static_cast<unsigned>(std::time(nullptr)));
    Tree tree;
    for (const std::string mode : {"copy", "zip", "7z", "lha", "filelist"}) {
        // How long the job takes uncut, to spread the signals over it.
        const auto begun = std::chrono::steady_clock::now();
        ASSERT_EQ(RunProgram("tessarine-cli", tree.Args(mode)).status, 0) << mode;
        fs::remove_all(tree.out);
        MakeDir(tree.out);
        const auto span =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - begun);
        for (const int signal : {SIGKILL, SIGTERM, SIGINT}) {
            std::map<std::string, int> outcomes;
            for (int trial = 0; trial < trials; ++trial) {
                SCOPED_TRACE(mode + " signal " + std::to_string(signal) + " trial " + std::to_string(trial));
                tessarine::ChildProcess job;
                ASSERT_TRUE(Start(job, tree.Args(mode)));
                std::this_thread::sleep_for(std::chrono::microseconds(random() % (span.count() + 1)));
                ::kill(job.Pid(), signal);
                job.Wait();
                const int status = job.Result().status;
                const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
                // Before its handlers are in place the program simply dies.
                if (signal != SIGKILL && !finished && !(WIFSIGNALED(status) && WTERMSIG(status) == signal)) {
                    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << status;
                }
                size_t staging = 0;
                for (const auto& e : fs::directory_iterator(tree.out)) {
                    if (tessarine::IsStagingName(e.path().filename().string())) {
                        ++staging;
                        continue;
                    }
                    EXPECT_EQ(Defect(tree, e.path()), "") << e.path();
                    fs::remove_all(e.path());
                }
                // A signal the job could take leaves nothing behind.
                if (signal != SIGKILL) {
                    EXPECT_EQ(staging, 0u);
                }
                ++outcomes[finished ? "finished" : staging > 0 ? "left its staging folder" : "left nothing"];
                // The next job removes what a killed one left.
                ASSERT_EQ(RunProgram("tessarine-cli", tree.Args("filelist")).status, 0);
                for (const auto& e : fs::directory_iterator(tree.out)) {
                    EXPECT_FALSE(tessarine::IsStagingName(e.path().filename().string())) << e.path();
                    fs::remove_all(e.path());
                }
            }
            std::string summary;
            for (const auto& [what, count] : outcomes) summary += " " + what + " " + std::to_string(count);
            std::printf("%s, signal %d:%s\n", mode.c_str(), signal, summary.c_str());
        }
    }
}
