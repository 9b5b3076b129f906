#include "engine/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>
#include <thread>
#include <utility>

#include "test_support.h"

using tessarine::ChildCommand;
using tessarine::ChildProcess;
using tessarine::ChildResult;

namespace {

ChildCommand Shell(const std::string& script) {
    ChildCommand command;
    command.program = "/bin/sh";
    command.argv = {"sh", "-c", script};
    return command;
}

TEST(ChildProcess, RunsAndReportsWhatTheChildDid) {
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.folder() + "handed", "from fd 3");
    const tessarine::UniqueFd handed(::open((dir.folder() + "handed").c_str(), O_RDONLY | O_CLOEXEC));
    const tessarine::UniqueFd folder(::open(dir.path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const std::string big(3 << 20, 'b');  // more than a pipe holds: fed while the child runs
    bool asked = false;
    struct Case {
        const char* what;
        ChildCommand command;
        std::function<void(const ChildResult&)> check;
    };
    const std::vector<Case> cases = {
        {"exit code", Shell("exit 3"), [](const ChildResult& r) { EXPECT_EQ(r.code(), 3); }},
        {"signal", Shell("kill -TERM $$"),
         [](const ChildResult& r) {
             EXPECT_FALSE(r.exited());
             EXPECT_EQ(r.signal(), SIGTERM);
         }},
        {"missing program",
         [&] {
             ChildCommand s;
             s.program = dir.folder() + "none";
             return s;
         }(),
         [](const ChildResult& r) {
             EXPECT_FALSE(r.started);
             EXPECT_EQ(r.spawnError, ENOENT);
         }},
        {"short input",
         [] {
             ChildCommand s = Shell("cat; echo done >&2");
             s.input = "pass\n";
             return s;
         }(),
         [](const ChildResult& r) {
             EXPECT_EQ(r.out, "pass\n");
             EXPECT_EQ(r.err, "done\n");
         }},
        {"input larger than a pipe",
         [&] {
             ChildCommand s = Shell("cat");
             s.input = big;
             s.outLimit = big.size();
             return s;
         }(),
         [&](const ChildResult& r) {
             EXPECT_EQ(r.out.size(), big.size());
             EXPECT_FALSE(r.outCut);
         }},
        {"input the child does not read",
         [&] {
             ChildCommand s = Shell("exit 0");
             s.input = big;
             return s;
         }(),
         [](const ChildResult& r) { EXPECT_EQ(r.code(), 0); }},
        {"bounded output",
         [] {
             ChildCommand s = Shell("head -c 200000 /dev/zero; echo e >&2");
             s.outLimit = 1000;
             return s;
         }(),
         [](const ChildResult& r) {
             EXPECT_EQ(r.out.size(), 1000u);
             EXPECT_TRUE(r.outCut);
             EXPECT_EQ(r.err, "e\n");
             EXPECT_EQ(r.code(), 0);
         }},
        {"handed and collected descriptors",
         [&] {
             ChildCommand s = Shell("cat <&3; printf ready >&4; ls /proc/self/fd | wc -l >&2");
             s.handed = {handed.Get(), tessarine::kCollectedPipe};
             return s;
         }(),
         [](const ChildResult& r) {
             EXPECT_EQ(r.out, "from fd 3");
             ASSERT_EQ(r.collected.size(), 1u);
             EXPECT_EQ(r.collected[0], "ready");
             EXPECT_EQ(r.err, "6\n");  // 0-4 and the one ls reads the folder with: nothing else leaked
         }},
        {"environment, folder, one stream",
         [&] {
             ChildCommand s = Shell("echo \"$ONLY\"; pwd >&2; ulimit -c");
             s.env = std::vector<std::string>{"ONLY=this"};
             s.folder = folder.Get();
             s.errToOut = true;
             return s;
         }(),
         [&](const ChildResult& r) { EXPECT_EQ(r.out, "this\n" + dir.path() + "\n0\n"); }},
        {"a grandchild holding the output", Shell("sleep 20 & echo started"),
         [](const ChildResult& r) {
             EXPECT_EQ(r.out, "started\n");
             EXPECT_EQ(r.code(), 0);
         }},
        {"timeout kills",
         [] {
             ChildCommand s = Shell("exec sleep 30");
             s.timeout = std::chrono::milliseconds(200);
             return s;
         }(),
         [](const ChildResult& r) {
             EXPECT_TRUE(r.timedOut);
             EXPECT_EQ(r.signal(), SIGKILL);
         }},
        {"stop request kills",
         [&] {
             ChildCommand s = Shell("exec sleep 30");
             s.stop = [&] { return std::exchange(asked, true); };
             return s;
         }(),
         [](const ChildResult& r) {
             EXPECT_TRUE(r.stopped);
             EXPECT_EQ(r.signal(), SIGKILL);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto begun = std::chrono::steady_clock::now();
        c.check(tessarine::RunChild(c.command));
        EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
    }
}

// The child is killed when the thread that started it ends, and a caller may
// wait in rounds while it runs.
TEST(ChildProcess, DiesWithTheThreadThatStartedIt) {
    ChildProcess child;
    ChildCommand command = Shell("exec sleep 30");
    EXPECT_TRUE(child.Start(command));
    EXPECT_FALSE(child.Wait(std::chrono::milliseconds(50)));
    ::kill(child.Pid(), SIGKILL);
    EXPECT_TRUE(child.Wait());

    ChildProcess orphan;
    std::thread([&] { orphan.Start(command); }).join();
    EXPECT_TRUE(orphan.Wait(std::chrono::seconds(10)));
    EXPECT_EQ(orphan.Result().signal(), SIGKILL);
}

}  // namespace
