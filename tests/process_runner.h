#pragma once
// Runs a program of the build's program folder as a child process with the
// given standard input, and collects its exit status and output.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int status = -1;
    std::string out;
    std::string err;
};

// The program folder (build/bin), handed to the tests by CTest.
inline std::string ProgramFolder() {
    const char* dir = std::getenv("TESSARINE_BIN_DIR");
    return dir ? std::string(dir) + "/" : std::string("../bin/");
}

// A program still running after `timeoutSeconds` is ended by SIGALRM (the
// timer survives exec), so a hanging program fails its test instead of
// hanging the suite; its status is then -1, as for any signal. A non-zero
// `addressSpace` limits the program's memory (RLIMIT_AS, bytes).
inline ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input = {}, bool unprivileged = false, unsigned timeoutSeconds = 300,
                                rlim_t addressSpace = 0) {
    int in[2], out[2], err[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) ::close(fd);
        if (unprivileged && ::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(98);
        ::alarm(timeoutSeconds);
        const rlimit limit{addressSpace, addressSpace};
        if (addressSpace != 0 && ::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(96);
        std::vector<char*> argv;
        // A bare name is a program of the program folder.
        std::string path = program.find('/') == std::string::npos ? ProgramFolder() + program : program;
        argv.push_back(path.data());
        std::vector<std::string> copy = args;
        for (auto& a : copy) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(path.c_str(), argv.data());
        ::_exit(97);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (!input.empty()) {
        (void)!::write(in[1], input.data(), input.size());
    }
    ::close(in[1]);
    ProcessResult result;
    // Both pipes are read as data comes until they close: a program that
    // fills one pipe while the other is read would wait forever.
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* into[2] = {&result.out, &result.err};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (::poll(fds, 2, -1) < 0) continue;  // EINTR
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buf[65536];
            const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                into[k]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[k].fd);
                fds[k].fd = -1;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// A program running beside the test, its standard output and error
// collected in files: for programs that stay open until the test acts on
// them (a signal, a look at their windows). Killed when still running at
// destruction.
class ChildProgram {
public:
    // `environment`: "NAME=value" entries set in the child; `folder`: where
    // it starts.
    ChildProgram(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& environment = {}, const std::string& folder = "/") {
        const int outFd = MakeCapture(outPath_);
        const int errFd = MakeCapture(errPath_);
        pid_ = ::fork();
        if (pid_ == 0) {
            for (const std::string& entry : environment) ::putenv(const_cast<char*>(entry.c_str()));
            // What the test's own starter ignored is not ignored here.
            for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, SIG_DFL);
            if (::chdir(folder.c_str()) != 0) ::_exit(96);
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, 0);
            ::dup2(outFd, 1);
            ::dup2(errFd, 2);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(97);
        }
        ::close(outFd);
        ::close(errFd);
    }
    ~ChildProgram() {
        if (pid_ > 0 && !ended_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::unlink(outPath_.c_str());
        ::unlink(errPath_.c_str());
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    pid_t Pid() const { return pid_; }
    void Signal(int signal) const { ::kill(pid_, signal); }
    // Waits up to `limitMs` for the end: the exit status, 1000 + the signal
    // that killed it, or -1 while it still runs.
    int Wait(int limitMs) {
        for (int waited = 0; !ended_; waited += 10) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                ended_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
                break;
            }
            if (waited >= limitMs) return -1;
            ::usleep(10000);
        }
        return status_;
    }
    std::string Stdout() const { return Captured(outPath_); }
    std::string Stderr() const { return Captured(errPath_); }

private:
    static int MakeCapture(std::string& path) {
        char pattern[] = "/tmp/tessarine-child-output-XXXXXX";
        const int fd = ::mkstemp(pattern);
        path = pattern;
        return fd;
    }
    static std::string Captured(const std::string& path) {
        std::string text;
        const int fd = ::open(path.c_str(), O_RDONLY);
        char buf[4096];
        ssize_t n;
        while (fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
        if (fd >= 0) ::close(fd);
        return text;
    }

    pid_t pid_ = -1;
    bool ended_ = false;
    int status_ = -1;
    std::string outPath_;
    std::string errPath_;
};

}  // namespace testsupport
