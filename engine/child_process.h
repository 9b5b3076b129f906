#pragma once
// Starting a program as a child process: its standard input fed from
// memory, its output collected (bounded), descriptors handed over at 3 and
// up, and the child made to die with its parent and to write no core file.
// Between fork and exec the child makes only async-signal-safe calls, so a
// threaded caller may use it.
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <chrono>
#include <climits>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/unique_fd.h"

namespace tessarine {

// In ChildCommand::handed: a new pipe whose write end the child gets at that
// place and whose bytes are collected into ChildResult::collected.
constexpr int kCollectedPipe = -2;

struct ChildCommand {
    std::string program;            // the file executed (PATH is not searched)
    std::vector<std::string> argv;  // argv[0] first; empty: the program alone
    // "NAME=value" entries; none: this process's environment.
    std::optional<std::vector<std::string>> env;
    int folder = -1;  // descriptor of the folder the child starts in; -1: the caller's
    // Standard input. What fits the pipe is there before the program
    // starts, the rest is fed while it runs; then the child reads the end.
    // Not copied: it must stay valid until the child has been waited for.
    std::string_view input;
    // Placed at 3, 4, ... in the child, in order (kCollectedPipe: see there).
    // Every other descriptor of this process is closed in the child.
    std::vector<int> handed;
    // Bytes kept of each collected stream; the rest is read and dropped.
    size_t outLimit = size_t{1} << 20;
    size_t errLimit = size_t{1} << 20;
    size_t collectedLimit = 4096;
    bool errToOut = false;  // standard error into the standard output stream
    // A descriptor the stream is written to instead of being collected.
    int outTo = -1;
    int errTo = -1;
    bool dieWithParent = true;  // SIGKILL when the starting thread ends
    bool noCore = true;         // RLIMIT_CORE 0
    bool noHugePages = false;   // PR_SET_THP_DISABLE
    // Signals set back to their default action (an ignored signal stays
    // ignored across exec).
    std::vector<int> defaultSignals;
    rlim_t addressSpace = 0;  // RLIMIT_AS in bytes; 0: as inherited
    // The user and group the child runs as (supplementary groups dropped);
    // needs the privilege to switch.
    std::optional<uid_t> user;
    std::optional<gid_t> group;
    // Past this time the child is killed with SIGKILL; zero: no limit.
    std::chrono::milliseconds timeout{0};
    // Asked at least every 100 ms while waiting; true kills the child.
    std::function<bool()> stop;
};

struct ChildResult {
    bool started = false;   // the program was executed
    int spawnError = 0;     // errno of what failed before it was
    int status = 0;         // its wait status once it ended
    bool timedOut = false;  // killed for the timeout
    bool stopped = false;   // killed because `stop` asked for it
    std::string out, err;
    bool outCut = false, errCut = false;  // more came than the limit kept
    std::vector<std::string> collected;   // the bytes of each kCollectedPipe, in order

    bool exited() const { return started && WIFEXITED(status); }
    int code() const { return exited() ? WEXITSTATUS(status) : -1; }  // -1 unless it exited
    int signal() const { return started && WIFSIGNALED(status) ? WTERMSIG(status) : 0; }
};

// One child process, started and then waited for, possibly in rounds (the
// caller may signal it between them). A child still running at destruction
// is killed and reaped.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // False, with Result().spawnError, when the program could not be run.
    bool Start(const ChildCommand& command);
    // Feeds the input and collects output until the child has ended (true,
    // reaped) or `limit` has passed (false; negative: no limit).
    bool Wait(std::chrono::milliseconds limit = std::chrono::milliseconds(-1));
    pid_t Pid() const { return pid_; }
    bool Ended() const { return ended_; }
    const ChildResult& Result() const { return result_; }
    ChildResult TakeResult() { return std::move(result_); }

private:
    struct Stream {
        UniqueFd fd;
        std::string* sink = nullptr;
        bool* cut = nullptr;
        size_t limit = 0;
    };
    void Drain(Stream& stream);
    void Feed();
    void Reap();

    pid_t pid_ = -1;
    bool ended_ = false;
    ChildResult result_;
    std::vector<Stream> streams_;  // out, err, then the collected pipes
    UniqueFd inWrite_, pidFd_;
    std::string_view input_;  // what is still to be fed
    std::chrono::steady_clock::time_point deadline_{};
    bool hasDeadline_ = false;
    std::function<bool()> stop_;
};

// Starts the program and waits for its end.
ChildResult RunChild(const ChildCommand& command);

}  // namespace tessarine
