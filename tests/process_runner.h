#pragma once
// Runs a program of the build's program folder as a child process with the
// given standard input, and collects its exit status and output.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "engine/child_process.h"

extern char** environ;

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

// A program still running after `timeoutSeconds` is killed, so a hanging
// program fails its test instead of hanging the suite; its status is then
// -1, as for any signal (and for a program that could not be started). A
// non-zero `addressSpace` limits the program's memory (RLIMIT_AS, bytes).
inline ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input = {}, bool unprivileged = false, unsigned timeoutSeconds = 300,
                                rlim_t addressSpace = 0) {
    tessarine::ChildCommand command;
    // A bare name is a program of the program folder.
    command.program = program.find('/') == std::string::npos ? ProgramFolder() + program : program;
    command.argv = {command.program};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    command.input = input;
    command.outLimit = command.errLimit = SIZE_MAX;
    command.noCore = false;
    command.addressSpace = addressSpace;
    command.timeout = std::chrono::seconds(timeoutSeconds);
    if (unprivileged && ::geteuid() == 0) {
        command.user = 65534;
        command.group = 65534;
    }
    tessarine::ChildResult run = tessarine::RunChild(command);
    return {run.code(), std::move(run.out), std::move(run.err)};
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
        const tessarine::UniqueFd out(MakeCapture(outPath_)), err(MakeCapture(errPath_));
        const tessarine::UniqueFd where(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        tessarine::ChildCommand command;
        command.program = program;
        command.argv = {program};
        command.argv.insert(command.argv.end(), args.begin(), args.end());
        command.env = environment;
        for (char** e = environ; e && *e; ++e) {
            const std::string_view entry(*e);
            const auto named = [&](const std::string& set) {
                return set.compare(0, set.find('='), entry.substr(0, entry.find('='))) == 0;
            };
            if (std::none_of(environment.begin(), environment.end(), named)) command.env->emplace_back(entry);
        }
        command.folder = where.Get();
        command.outTo = out.Get();
        command.errTo = err.Get();
        command.noCore = false;
        // What the test's own starter ignored is not ignored here.
        command.defaultSignals = {SIGINT, SIGTERM, SIGHUP};
        child_.Start(command);
    }
    ~ChildProgram() {
        ::unlink(outPath_.c_str());
        ::unlink(errPath_.c_str());
    }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    pid_t Pid() const { return child_.Pid(); }
    void Signal(int signal) const {
        if (child_.Pid() > 0) ::kill(child_.Pid(), signal);
    }
    // Waits up to `limitMs` for the end: the exit status, 1000 + the signal
    // that killed it, or -1 while it still runs.
    int Wait(int limitMs) {
        if (!child_.Wait(std::chrono::milliseconds(limitMs))) return -1;
        const tessarine::ChildResult& r = child_.Result();
        return r.exited() ? r.code() : 1000 + r.signal();
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

    tessarine::ChildProcess child_;
    std::string outPath_;
    std::string errPath_;
};

}  // namespace testsupport
