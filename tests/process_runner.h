#pragma once
// Runs a program of the build's program folder as a child process with the
// given standard input, and collects its exit status and output.
#include <fcntl.h>
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
// hanging the suite; its status is then -1.
inline ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input = {}, bool unprivileged = false,
                                unsigned timeoutSeconds = 300) {
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
    // Read both pipes until they close; outputs here are small.
    auto drain = [](int fd, std::string& into) {
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0) into.append(buf, static_cast<size_t>(n));
        ::close(fd);
    };
    drain(out[0], result.out);
    drain(err[0], result.err);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace testsupport
