// lib7-zip32.so: the ZIP and 7z archiver library. Its one entry point takes
// an archive command line such as
//
//   a -tzip -p"pass word" -r "/out/src.zip" "/work/src/" "a.txt" "sub/b.txt"
//
// and carries it out with the 7-Zip program 7zz, run in the base folder.
// Every listed name is added once, as it is: 7zz gets wildcard matching off
// (-spd) and the names after "--", so "-x", "@a" or "*" are plain names and
// every byte of a name is kept. The password goes to 7zz on its standard
// input, never on its command line. The report is 7-Zip's own output; when
// 7zz is missing or fails it begins with "ERROR:" and says why.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "archive/command_line.h"

extern "C" char** environ;

namespace {

// The longest password taken, in bytes.
constexpr size_t kMaxPassword = 1000;

// What a command line asks for.
struct Request {
    std::string type;  // "zip" or "7z"
    bool encrypt = false;
    std::string password;
    std::string archive;
    std::string baseFolder;
    std::vector<std::string> names;  // relative to the base folder, each once
};

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

// Reads the command line. Switches come before the archive path; every
// token after the base folder is a name, whatever it looks like. False,
// with the reason, when the line cannot be carried out.
bool ParseRequest(const std::vector<std::string>& tokens, Request& request, std::string& reason) {
    if (tokens.empty() || !EqualsNoCase(tokens[0], "a")) {
        reason = "対応していないコマンドです (使えるのは a だけです)";
        return false;
    }
    size_t i = 1;
    for (; i < tokens.size() && !tokens[i].empty() && tokens[i][0] == '-'; ++i) {
        const std::string& token = tokens[i];
        if (EqualsNoCase(token, "-tzip")) {
            request.type = "zip";
        } else if (EqualsNoCase(token, "-t7z")) {
            request.type = "7z";
        } else if (token.size() >= 2 && (token[1] == 'p' || token[1] == 'P')) {
            request.encrypt = true;
            request.password = token.substr(2);
        } else if (EqualsNoCase(token, "-r")) {
            // The list names every file itself; nothing is searched for.
        } else {
            reason = "対応していないスイッチです: " + token;
            return false;
        }
    }
    if (i + 1 >= tokens.size()) {
        reason = "書庫のパスと基準フォルダーが必要です";
        return false;
    }
    request.archive = tokens[i++];
    request.baseFolder = tokens[i++];
    if (request.type.empty()) {
        const auto dot = request.archive.rfind('.');
        request.type = dot != std::string::npos && EqualsNoCase(request.archive.substr(dot), ".zip") ? "zip" : "7z";
    }
    // 7-Zip refuses a list that holds a name twice; each name goes once, at
    // its first place.
    std::unordered_set<std::string_view> seen;
    seen.reserve(tokens.size() - i);
    for (; i < tokens.size(); ++i) {
        if (tokens[i].empty() || !seen.insert(tokens[i]).second) continue;
        request.names.push_back(tokens[i]);
    }
    if (request.names.empty()) {
        // 7zz without names would add the whole folder.
        reason = "圧縮するファイルがありません";
        return false;
    }
    if (request.encrypt) {
        if (request.password.empty()) {
            reason = "パスワードが空です";
            return false;
        }
        if (request.password.size() > kMaxPassword) {
            reason = "パスワードが長すぎます (" + std::to_string(kMaxPassword) + " バイトまで)";
            return false;
        }
        if (request.password.find_first_of("\r\n") != std::string::npos) {
            // 7zz reads the password as one line.
            reason = "パスワードに改行は使えません";
            return false;
        }
        if (request.type == "zip" &&
            std::any_of(request.password.begin(), request.password.end(),
                        [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
            reason = "ZIP のパスワードに使えるのは ASCII 文字だけです (7-Zip の制限)。7z 形式なら使えます";
            return false;
        }
    }
    return true;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// 7zz beside this library, else on the executable search path.
std::string FindSevenZipProgram() {
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&FindSevenZipProgram), &info) != 0 && info.dli_fname) {
        std::string self = info.dli_fname;
        const auto slash = self.rfind('/');
        if (slash != std::string::npos) {
            const std::string beside = self.substr(0, slash + 1) + "7zz";
            if (IsExecutableFile(beside)) return beside;
        }
    }
    const char* path = std::getenv("PATH");
    std::string_view folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const auto colon = folders.find(':');
        std::string folder(folders.substr(0, colon));
        folders = colon == std::string_view::npos ? std::string_view{} : folders.substr(colon + 1);
        if (folder.empty()) folder = ".";
        const std::string candidate = folder + "/7zz";
        if (IsExecutableFile(candidate)) return candidate;
    }
    return {};
}

// The environment 7zz runs with: ours, with a UTF-8 locale so that names
// and the password are read and written as UTF-8.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "LC_ALL=", 7) == 0) continue;
        env.emplace_back(*e);
    }
    env.emplace_back("LC_ALL=C.UTF-8");
    return env;
}

struct RunResult {
    bool started = false;
    int spawnError = 0;
    int status = 0;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs 7zz with the arguments in the folder, feeding `input` on its
// standard input, and collects what it writes.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                     const std::vector<std::string>& env, const std::string& input) {
    RunResult result;
    int inPipe[2], outPipe[2], errPipe[2];
    if (::pipe2(inPipe, O_CLOEXEC) != 0) {
        result.spawnError = errno;
        return result;
    }
    if (::pipe2(outPipe, O_CLOEXEC) != 0) {
        result.spawnError = errno;
        ::close(inPipe[0]);
        ::close(inPipe[1]);
        return result;
    }
    if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        result.spawnError = errno;
        for (const int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1]}) ::close(fd);
        return result;
    }
    // The password is short (see kMaxPassword): it is in the pipe before
    // 7zz starts, so the write can neither block nor hit a reader that has
    // gone. Even a pipe cut down to one page holds it twice.
    if (!input.empty() && ::write(inPipe[1], input.data(), input.size()) != static_cast<ssize_t>(input.size())) {
        result.spawnError = errno ? errno : EIO;
    }
    ::close(inPipe[1]);

    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    pid_t pid = -1;
    if (result.spawnError == 0) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, inPipe[0], 0);
        posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        result.spawnError = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
    }
    ::close(inPipe[0]);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (result.spawnError != 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return result;
    }
    result.started = true;

    // Both outputs are read as they come, so 7zz never blocks on a full pipe.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buffer[8192];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            const ssize_t n = ::read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                // Keep a bounded amount; only the report's first kilobyte is
                // shown, errors come first in it.
                if (sinks[k]->size() < (1u << 20)) sinks[k]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds) {
        if (fd.fd >= 0) ::close(fd.fd);
    }
    while (::waitpid(pid, &result.status, 0) < 0 && errno == EINTR) {
    }
    return result;
}

// The bytes an argument costs in the kernel's argument area.
size_t ArgumentCost(const std::string& s) { return s.size() + 1 + sizeof(char*); }

// How many argument bytes the names of one call may take: the kernel's
// limit less the environment, the fixed arguments and a safety margin.
size_t NameBudget(const std::vector<std::string>& fixedArgs, const std::vector<std::string>& env) {
    long limit = ::sysconf(_SC_ARG_MAX);
    if (limit <= 0) limit = 128 * 1024;
    size_t used = 16 * 1024;
    for (const auto& a : fixedArgs) used += ArgumentCost(a);
    for (const auto& e : env) used += ArgumentCost(e);
    const size_t total = static_cast<size_t>(limit);
    return total > used + 4096 ? total - used : 4096;
}

const char* ExitMeaning(int code) {
    switch (code) {
        case 1: return "警告: 追加できなかったファイルがあります";
        case 2: return "致命的なエラー";
        case 7: return "コマンドラインの誤り";
        case 8: return "メモリー不足";
        case 255: return "中断されました";
        default: return "不明なエラー";
    }
}

// Copies the report into the caller's buffer: at most size - 1 bytes, cut
// at a character boundary, NUL-terminated.
void WriteReport(const std::string& report, char* output, unsigned long size) {
    if (!output || size == 0) return;
    size_t n = std::min<size_t>(report.size(), size - 1);
    if (n < report.size()) {
        // Step back over continuation bytes of a cut UTF-8 character.
        while (n > 0 && (static_cast<unsigned char>(report[n]) & 0xC0) == 0x80) --n;
    }
    std::memcpy(output, report.data(), n);
    output[n] = '\0';
}

int Fail(const std::string& reason, char* output, unsigned long size) {
    WriteReport("ERROR: " + reason + "\n", output, size);
    return 1;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int SevenZip(void* /*ownerWindow*/, const char* commandLine,
                                                              char* output, unsigned long outputSize) {
    if (output && outputSize > 0) output[0] = '\0';
    if (!commandLine) return Fail("コマンドラインがありません", output, outputSize);

    Request request;
    std::string reason;
    if (!ParseRequest(tessarine::SplitCommandLine(commandLine), request, reason)) {
        return Fail(reason, output, outputSize);
    }
    const std::string program = FindSevenZipProgram();
    if (program.empty()) {
        return Fail("7-Zip のプログラム 7zz が見つかりません。7zip パッケージをインストールしてください", output,
                    outputSize);
    }

    std::vector<std::string> fixedArgs{"7zz", "a", "-t" + request.type, "-spd", "-snl", "-bd", "-sccUTF-8"};
    std::string input;
    if (request.encrypt) {
        // 7z archives also hide the names; ZIP keeps 7-Zip's default
        // encryption, which the desktops' own ZIP support opens.
        if (request.type == "7z") fixedArgs.push_back("-mhe=on");
        fixedArgs.push_back("-p");
        // Adding to an archive with hidden names asks once to open it and
        // once for the new data; unread lines do no harm.
        input = request.password + "\n" + request.password + "\n";
    }
    fixedArgs.push_back("--");
    fixedArgs.push_back(request.archive);
    const auto env = ChildEnvironment();

    // The names go in as few calls as the kernel's argument limit allows;
    // each further call adds to the archive the first one made.
    size_t budget = NameBudget(fixedArgs, env);
    std::string report;
    std::string warnings;
    size_t next = 0;
    while (next < request.names.size()) {
        std::vector<std::string> args = fixedArgs;
        size_t used = 0;
        size_t end = next;
        while (end < request.names.size() && (end == next || used + ArgumentCost(request.names[end]) <= budget)) {
            used += ArgumentCost(request.names[end]);
            ++end;
        }
        args.insert(args.end(), request.names.begin() + static_cast<long>(next),
                    request.names.begin() + static_cast<long>(end));
        const RunResult run = RunProgram(program, args, request.baseFolder, env, input);
        if (!run.started && run.spawnError == E2BIG && end - next > 1) {
            budget = used / 2;  // the limit was tighter than estimated
            continue;
        }
        if (!run.started) {
            return Fail("7zz を起動できません (" + program + ", " + request.baseFolder +
                            "): " + std::strerror(run.spawnError),
                        output, outputSize);
        }
        if (!WIFEXITED(run.status)) {
            return Fail("7zz がシグナル " + std::to_string(WTERMSIG(run.status)) + " で止まりました\n" + run.err +
                            run.out,
                        output, outputSize);
        }
        const int code = WEXITSTATUS(run.status);
        if (code == 1) {
            // Some files could not be added (gone, unreadable); 7zz made the
            // archive without them. The remaining calls still run, and the
            // report tells which files are missing.
            warnings += run.err.empty() ? std::string("WARNING\n") : run.err;
            report = run.out;
        } else if (code != 0) {
            return Fail("7zz が終了コード " + std::to_string(code) + " で終わりました (" + ExitMeaning(code) +
                            ")\n" + warnings + run.err + run.out,
                        output, outputSize);
        } else {
            report = run.out + run.err;
        }
        next = end;
    }
    if (!warnings.empty()) {
        return Fail(std::string("7zz が終了コード 1 で終わりました (") + ExitMeaning(1) + ")\n" + warnings + report,
                    output, outputSize);
    }
    WriteReport(report, output, outputSize);
    return 0;
}
