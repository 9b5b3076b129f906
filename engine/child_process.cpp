#include "engine/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

extern char** environ;

namespace tessarine {

namespace {

// A pipe whose two ends are both above the standard descriptors, so that
// placing them at 0, 1 and 2 in the child never overwrites one another.
bool MakePipe(UniqueFd& readEnd, UniqueFd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    for (int& fd : fds) {
        if (fd <= 2) {
            const UniqueFd low(fd);
            fd = ::fcntl(low.Get(), F_DUPFD_CLOEXEC, 3);
        }
    }
    readEnd.Reset(fds[0]);
    writeEnd.Reset(fds[1]);
    return readEnd && writeEnd;
}

void SetNonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

// Writes without being killed by SIGPIPE when the reader is gone: the
// signal is held for this thread and taken back if the write raised it.
ssize_t WriteNoSigpipe(int fd, const char* data, size_t size) {
    sigset_t pipeSet, old, pending;
    ::sigemptyset(&pipeSet);
    ::sigaddset(&pipeSet, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSet, &old);
    ::sigpending(&pending);
    const bool wasPending = ::sigismember(&pending, SIGPIPE) == 1;
    ssize_t n;
    while ((n = ::write(fd, data, size)) < 0 && errno == EINTR) {
    }
    const int error = errno;
    if (n < 0 && error == EPIPE && !wasPending) {
        const timespec now{0, 0};
        while (::sigtimedwait(&pipeSet, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return n;
}

// The child between fork and exec: async-signal-safe calls only. Every
// descriptor to place (`sources[i]` at `i`; -1: leave closed) is first
// moved above all the places, so that placing one never closes another.
// Returns only when something failed, with its errno.
struct ChildPlan {
    const char* program;
    char* const* argv;
    char* const* envp;
    const int* sources;
    int count;  // places 0 .. count-1
    int execWrite;
    const ChildCommand* command;
    pid_t parent;
};

int RunInChild(const ChildPlan& plan, int* moved) {
    const ChildCommand& command = *plan.command;
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (const int sig : command.defaultSignals) ::sigaction(sig, &byDefault, nullptr);
    // Large buffers on transparent huge pages can cost more to zero at each
    // fault than they save; kernels without the switch just go on.
    if (command.noHugePages) ::prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
    // A change of user clears the death signal, so it comes first.
    if (command.group && (::setgroups(0, nullptr) != 0 || ::setgid(*command.group) != 0)) return errno;
    if (command.user && ::setuid(*command.user) != 0) return errno;
    if (command.dieWithParent) {
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return errno;
        if (::getppid() != plan.parent) return ESRCH;  // the caller is gone already; the signal would never come
    }
    const struct rlimit noCore = {0, 0};
    if (command.noCore && ::setrlimit(RLIMIT_CORE, &noCore) != 0) return errno;
    const struct rlimit space = {command.addressSpace, command.addressSpace};
    if (command.addressSpace != 0 && ::setrlimit(RLIMIT_AS, &space) != 0) return errno;
    if (command.folder >= 0 && ::fchdir(command.folder) != 0) return errno;

    const int above = plan.count;
    const int keep = ::fcntl(plan.execWrite, F_DUPFD_CLOEXEC, above);
    if (keep < 0) return errno;
    int error = 0;
    for (int i = 0; i < plan.count && error == 0; ++i) {
        moved[i] = plan.sources[i] < 0 ? -1 : ::fcntl(plan.sources[i], F_DUPFD_CLOEXEC, keep + 1);
        if (plan.sources[i] >= 0 && moved[i] < 0) error = errno;
    }
    for (int i = 0; i < plan.count && error == 0; ++i) {
        if (moved[i] >= 0 && ::dup2(moved[i], i) < 0) error = errno;
    }
    if (error == 0) {
        // Everything but the placed descriptors and the exec pipe goes.
        if (keep > above) ::syscall(SYS_close_range, static_cast<unsigned>(above), keep - 1u, 0u);
        ::syscall(SYS_close_range, keep + 1u, ~0u, 0u);
        ::execve(plan.program, plan.argv, plan.envp);
        error = errno;
    }
    while (::write(keep, &error, sizeof error) < 0 && errno == EINTR) {
    }
    ::_exit(127);
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !ended_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
}

bool ChildProcess::Start(const ChildCommand& command) {
    result_ = {};
    const auto fail = [this](int error) {
        result_.spawnError = error ? error : EIO;
        streams_.clear();
        inWrite_.Reset();
        return false;
    };
    UniqueFd inRead, execRead, execWrite;
    if (!MakePipe(inRead, inWrite_) || !MakePipe(execRead, execWrite)) return fail(errno);

    // Places 0, 1, 2 and the handed ones; the child's ends of the pipes are
    // kept here until the fork.
    std::vector<int> sources = {inRead.Get(), command.outTo, command.errTo};
    std::vector<UniqueFd> childEnds;
    streams_.clear();
    size_t collectedPipes = 0;
    for (const int fd : command.handed) collectedPipes += fd == kCollectedPipe;
    result_.collected.resize(collectedPipes);
    streams_.reserve(2 + collectedPipes);
    const auto collect = [&](std::string* sink, bool* cut, size_t limit) {
        Stream stream;
        UniqueFd writeEnd;
        if (!MakePipe(stream.fd, writeEnd)) return -1;
        stream.sink = sink;
        stream.cut = cut;
        stream.limit = limit;
        streams_.push_back(std::move(stream));
        childEnds.push_back(std::move(writeEnd));
        return childEnds.back().Get();
    };
    if (command.outTo < 0 && (sources[1] = collect(&result_.out, &result_.outCut, command.outLimit)) < 0)
        return fail(errno);
    if (command.errToOut) {
        sources[2] = sources[1];
    } else if (command.errTo < 0 && (sources[2] = collect(&result_.err, &result_.errCut, command.errLimit)) < 0) {
        return fail(errno);
    }
    size_t next = 0;
    for (const int fd : command.handed) {
        if (fd != kCollectedPipe) {
            sources.push_back(fd);
        } else {
            const int end = collect(&result_.collected[next++], nullptr, command.collectedLimit);
            if (end < 0) return fail(errno);
            sources.push_back(end);
        }
    }

    // What fits the pipe is in it before the program starts (a password
    // then can neither block nor meet a reader that has gone); the rest is
    // fed while it runs.
    input_ = command.input;
    SetNonBlocking(inWrite_.Get());
    Feed();
    if (!inWrite_ && !input_.empty()) return fail(errno);

    std::vector<char*> argv, envp;
    std::vector<std::string> args = command.argv.empty() ? std::vector<std::string>{command.program} : command.argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (command.env) {
        for (const auto& e : *command.env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
    }
    std::vector<int> moved(sources.size());
    const ChildPlan plan{command.program.c_str(),
                         argv.data(),
                         command.env ? envp.data() : environ,
                         sources.data(),
                         static_cast<int>(sources.size()),
                         execWrite.Get(),
                         &command,
                         ::getpid()};

    const pid_t pid = ::fork();
    if (pid < 0) return fail(errno);
    if (pid == 0) {
        const int error = RunInChild(plan, moved.data());
        while (::write(execWrite.Get(), &error, sizeof error) < 0 && errno == EINTR) {
        }
        ::_exit(127);
    }
    pid_ = pid;
    ended_ = false;
    inRead.Reset();
    execWrite.Reset();
    childEnds.clear();
    // The exec pipe closes (no bytes) when the program has started;
    // otherwise it brings the reason it could not.
    int childError = 0;
    ssize_t got;
    while ((got = ::read(execRead.Get(), &childError, sizeof childError)) < 0 && errno == EINTR) {
    }
    if (got > 0) {
        Reap();
        return fail(childError ? childError : ECHILD);
    }
    result_.started = true;
    for (Stream& s : streams_) SetNonBlocking(s.fd.Get());
    // Watching the child's end lets the wait finish once it is gone, even
    // if something it started still holds the pipes open.
    pidFd_.Reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    hasDeadline_ = command.timeout.count() > 0;
    if (hasDeadline_) deadline_ = std::chrono::steady_clock::now() + command.timeout;
    stop_ = command.stop;
    return true;
}

void ChildProcess::Drain(Stream& stream) {
    char buffer[16384];
    // Bounded per round, so that a child writing without pause cannot keep
    // the timeout and the stop request from being looked at.
    for (int round = 0; round < 64; ++round) {
        const ssize_t n = ::read(stream.fd.Get(), buffer, sizeof buffer);
        if (n > 0) {
            const size_t room = stream.limit - std::min(stream.limit, stream.sink->size());
            const size_t kept = std::min(room, static_cast<size_t>(n));
            stream.sink->append(buffer, kept);
            if (kept < static_cast<size_t>(n) && stream.cut) *stream.cut = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || errno != EAGAIN) stream.fd.Reset();  // closed, or broken
        return;
    }
}

void ChildProcess::Feed() {
    while (inWrite_ && !input_.empty()) {
        const ssize_t n = WriteNoSigpipe(inWrite_.Get(), input_.data(), std::min<size_t>(input_.size(), 65536));
        if (n > 0) {
            input_.remove_prefix(static_cast<size_t>(n));
        } else if (n < 0 && errno == EAGAIN) {
            return;
        } else {
            inWrite_.Reset();  // the child no longer reads: the rest is not needed
            return;
        }
    }
    inWrite_.Reset();
}

void ChildProcess::Reap() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) break;
    }
    result_.status = status;
    ended_ = true;
    pidFd_.Reset();
    inWrite_.Reset();
}

bool ChildProcess::Wait(std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    if (pid_ <= 0 || ended_) return true;
    const auto until = limit.count() >= 0 ? Clock::now() + limit : Clock::time_point::max();
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        for (const Stream& s : streams_) fds.push_back({s.fd.Get(), POLLIN, 0});
        fds.push_back({inWrite_.Get(), POLLOUT, 0});
        fds.push_back({pidFd_.Get(), POLLIN, 0});
        // Without a process descriptor (old kernels) the end is looked for
        // each round.
        auto wake = until;
        if (hasDeadline_) wake = std::min(wake, deadline_);
        if (stop_ || !pidFd_) wake = std::min(wake, Clock::now() + std::chrono::milliseconds(100));
        int timeout = -1;
        if (wake != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return false;
        for (size_t k = 0; k < streams_.size(); ++k) {
            if (streams_[k].fd && fds[k].revents != 0) Drain(streams_[k]);
        }
        if (inWrite_ && fds[streams_.size()].revents != 0) Feed();

        bool gone = pidFd_ && fds.back().revents != 0;
        if (!pidFd_) {
            siginfo_t info{};
            gone = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid == pid_;
        }
        if (gone) {
            // Take what it left in the pipes and stop.
            for (Stream& s : streams_) {
                if (s.fd) Drain(s);
            }
            Reap();
            return true;
        }
        const auto now = Clock::now();
        if (!result_.timedOut && !result_.stopped) {
            if (hasDeadline_ && now >= deadline_) {
                result_.timedOut = true;
            } else if (stop_ && stop_()) {
                result_.stopped = true;
            }
            if (result_.timedOut || result_.stopped) {
                ::kill(pid_, SIGKILL);
                hasDeadline_ = false;  // nothing more to wake up for but its end
                stop_ = nullptr;
            }
        }
        if (now >= until) return false;
    }
}

ChildResult RunChild(const ChildCommand& command) {
    ChildProcess child;
    if (child.Start(command)) child.Wait();
    return child.TakeResult();
}

}  // namespace tessarine
