// Finding 7zz and running it: fork and exec with pipes for its input and
// output, the read guard preloaded and handed its descriptors.
#include "libraries/sevenzip/run_7zz.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "engine/Common.h"

extern "C" char** environ;

namespace sevenzip {

using tessarine::UniqueFd;

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// The folder this library was loaded from, with its closing "/"; empty when
// it cannot be told.
std::string LibraryFolder() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&LibraryFolder), &info) == 0 || !info.dli_fname) return {};
    const std::string self = info.dli_fname;
    const auto slash = self.rfind('/');
    if (slash == std::string::npos) return {};
    char* folder = ::realpath(self.substr(0, slash + 1).c_str(), nullptr);
    if (!folder) return {};
    const std::string path = std::string(folder) + "/";
    std::free(folder);
    return path;
}

}  // namespace

// 7zz beside this library, else in an absolute folder of the executable
// search path. Relative and empty entries of the search path are skipped:
// they name folders relative to wherever the caller happens to be, not to
// where 7zz runs (the base folder, which may hold a program of that name).
std::string FindSevenZipProgram() {
    const std::string folder = LibraryFolder();
    if (!folder.empty() && IsExecutableFile(folder + "7zz")) return folder + "7zz";
    return tessarine::FindProgramOnPath("7zz");
}

// The read guard beside this library (lib7zz-guard.so, see read_guard.cpp),
// opened; it is handed to 7zz as a descriptor, which the loader reads
// whatever bytes the folder's path holds.
UniqueFd OpenReadGuard() {
    const std::string folder = LibraryFolder();
    if (folder.empty()) return UniqueFd();
    return UniqueFd(::open((folder + "lib7zz-guard.so").c_str(), O_RDONLY | O_CLOEXEC));
}

std::string GuardMissing() {
    return "the read guard (lib7zz-guard.so) could not be loaded into 7zz; a statically linked 7zz cannot be "
           "kept from reading outside the source folder";
}

// The environment 7zz runs with: ours, with a UTF-8 locale so that names
// and the password are read and written as UTF-8, and the read guard
// preloaded (any other preloaded library is dropped: nothing else is to
// stand between 7zz and the source).
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "LC_ALL=", 7) == 0 || std::strncmp(*e, "LD_PRELOAD=", 11) == 0 ||
            std::strncmp(*e, "TESSARINE_READ_GUARD=", 21) == 0)
            continue;
        env.emplace_back(*e);
    }
    env.emplace_back("LC_ALL=C.UTF-8");
    return env;
}

namespace {

std::vector<std::string> GuardedEnvironment(std::vector<std::string> env, const ReadGuard& guard) {
    env.push_back("LD_PRELOAD=/proc/self/fd/" + std::to_string(kGuardLibraryFd));
    env.push_back("TESSARINE_READ_GUARD=" + guard.aliasPrefix + "," + std::to_string(guard.firstAlias) + "," +
                  std::to_string(guard.folders.size()));
    return env;
}

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

// Reads what is in the pipe into `sink` (up to `limit` bytes kept). False
// once the pipe is closed or has nothing more to give.
bool Drain(int fd, std::string& sink, size_t limit) {
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            if (sink.size() < limit) sink.append(buffer, std::min(static_cast<size_t>(n), limit - sink.size()));
            if (static_cast<size_t>(n) < sizeof buffer) return true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && errno == EAGAIN;
    }
}

}  // namespace

// Runs 7zz with the arguments in the folder, feeding `input` on its standard
// input, and collects what it writes; with `guard`, the read guard is loaded
// into it. The child is made to die with the calling thread (so that a
// killed program leaves no 7zz behind) and to write no core file; between
// fork and exec it makes only calls that are safe in the child of a
// threaded process.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, int folderFd,
                     const std::vector<std::string>& baseEnv, const std::string& input, const ReadGuard* guard) {
    RunResult result;
    UniqueFd inRead, inWrite, outRead, outWrite, errRead, errWrite, execRead, execWrite, readyRead, readyWrite;
    if (!MakePipe(inRead, inWrite) || !MakePipe(outRead, outWrite) || !MakePipe(errRead, errWrite) ||
        !MakePipe(execRead, execWrite) || (guard && !MakePipe(readyRead, readyWrite))) {
        result.spawnError = errno ? errno : EMFILE;
        return result;
    }
    // The descriptors placed from 3 on in the child, in order.
    std::vector<int> handed;
    if (guard) {
        handed = {guard->library, readyWrite.Get(), guard->base};
        handed.insert(handed.end(), guard->folders.begin(), guard->folders.end());
    }
    std::vector<int> moved(handed.size());
    const std::vector<std::string> env = guard ? GuardedEnvironment(baseEnv, *guard) : baseEnv;
    // The password is short (see kMaxPassword): it is in the pipe before
    // 7zz starts, so the write can neither block nor hit a reader that has
    // gone. Even a pipe cut down to one page holds it twice.
    if (!input.empty() && ::write(inWrite.Get(), input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        result.spawnError = errno ? errno : EIO;
        return result;
    }
    inWrite.Reset();

    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        result.spawnError = errno;
        return result;
    }
    if (pid == 0) {
        // The child: async-signal-safe calls only.
        int error = 0;
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        const struct rlimit noCore = {0, 0};
        // 7zz's large buffers on transparent huge pages cost more to zero
        // at each fault than they save: a 7z archive of 100,000 small files
        // took 8 s instead of 3 s. Kernels without the switch just go on.
        ::prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::setrlimit(RLIMIT_CORE, &noCore) != 0) {
            error = errno;
        } else if (::getppid() != parent) {
            error = ESRCH;  // the caller is gone already; the death signal would never come
        } else if (::fchdir(folderFd) != 0 || ::dup2(inRead.Get(), 0) < 0 || ::dup2(outWrite.Get(), 1) < 0 ||
                   ::dup2(errWrite.Get(), 2) < 0) {
            error = errno;
        } else {
            // Everything to keep goes above the places it is handed over
            // at first, so that placing one never closes another.
            const int above = 3 + static_cast<int>(handed.size());
            const int keep = ::fcntl(execWrite.Get(), F_DUPFD_CLOEXEC, above);
            error = keep < 0 ? errno : 0;
            for (size_t i = 0; i < handed.size() && error == 0; ++i) {
                moved[i] = ::fcntl(handed[i], F_DUPFD_CLOEXEC, above);
                if (moved[i] < 0) error = errno;
            }
            for (size_t i = 0; i < handed.size() && error == 0; ++i) {
                if (::dup2(moved[i], 3 + static_cast<int>(i)) < 0) error = errno;
            }
            if (error == 0) {
                if (keep > above) ::syscall(SYS_close_range, static_cast<unsigned>(above), keep - 1u, 0u);
                ::syscall(SYS_close_range, keep + 1u, ~0u, 0u);
                ::execve(program.c_str(), argv.data(), envp.data());
                error = errno;
            }
            if (keep >= 0) {
                while (::write(keep, &error, sizeof error) < 0 && errno == EINTR) {
                }
                ::_exit(127);
            }
        }
        while (::write(execWrite.Get(), &error, sizeof error) < 0 && errno == EINTR) {
        }
        ::_exit(127);
    }
    inRead.Reset();
    outWrite.Reset();
    errWrite.Reset();
    execWrite.Reset();
    readyWrite.Reset();
    // The exec pipe closes (no bytes) when 7zz has started; otherwise it
    // brings the reason it could not.
    int childError = 0;
    ssize_t got;
    while ((got = ::read(execRead.Get(), &childError, sizeof childError)) < 0 && errno == EINTR) {
    }
    if (got > 0) {
        tessarine::WaitForChild(pid, result.status);
        result.spawnError = childError ? childError : ECHILD;
        return result;
    }
    result.started = true;

    // Both outputs are read as they come, so 7zz never blocks on a full
    // pipe. The child's end is watched too: once 7zz is gone the call ends,
    // even if something it started still holds the pipes open.
    UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    for (int fd : {outRead.Get(), errRead.Get()}) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    constexpr size_t kOutLimit = size_t{256} << 20;  // the warnings for every file must fit
    constexpr size_t kErrLimit = size_t{1} << 20;
    pollfd fds[3] = {{outRead.Get(), POLLIN, 0}, {errRead.Get(), POLLIN, 0}, {pidFd.Get(), POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    const size_t limits[2] = {kOutLimit, kErrLimit};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd >= 0 && fds[k].revents != 0 && !Drain(fds[k].fd, *sinks[k], limits[k])) fds[k].fd = -1;
        }
        if (fds[2].fd >= 0 && fds[2].revents != 0) {
            // 7zz has ended: take what it left in the pipes and stop.
            for (int k = 0; k < 2; ++k) {
                if (fds[k].fd >= 0) Drain(fds[k].fd, *sinks[k], limits[k]);
            }
            break;
        }
    }
    tessarine::WaitForChild(pid, result.status);
    // 7zz has ended, so the guard's byte is in the pipe or never came.
    if (readyRead) {
        char byte = 0;
        ::fcntl(readyRead.Get(), F_SETFL, O_NONBLOCK);
        result.guarded = ::read(readyRead.Get(), &byte, 1) == 1;
    }
    return result;
}

}  // namespace sevenzip
