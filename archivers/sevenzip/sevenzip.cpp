// lib7-zip32.so: the ZIP and 7z archiver library. Its entry point takes an
// archive command line such as
//
//   a -tzip -p"pass word" -r "/out/src.zip" "/work/src/" "a.txt" "sub/b.txt"
//
// and carries it out with the 7-Zip program 7zz, run in the base folder.
// Every listed name is added once, as it is: 7zz gets wildcard matching off
// (-spd) and the names after "--", so "-x", "@a" or "*" are plain names and
// every byte of a name is kept. The password goes to 7zz on its standard
// input, never on its command line. A folder whose entries are all listed
// goes to 7zz by its own name (7-Zip's time grows with the square of the
// names given per folder); see NamesToHandOver.
//
// Before 7zz runs, every name is looked at here: named pipes, devices,
// sockets and files the user may not read are left out (7zz would block on
// a pipe or read a device for ever). 7zz writes the archive into a hidden
// folder made beside the final name, and the finished archive is renamed
// over that name, so whatever was there before is replaced whole, never
// added to. 7zz is started so that it cannot outlive the caller's thread and
// never writes a core file (which would hold the password).
//
// 7zz reads the source through the read guard (lib7zz-guard.so beside this
// library, preloaded into it; see read_guard.cpp): every name beneath the
// base folder without following a link on the way, so that the owner of the
// tree cannot redirect its reading by swapping a folder for a link. A 7zz
// that runs without the guard makes no archive.
//
// The report is the library's own: "N of M files added to the archive",
// then "K files left out" when some are; the word "ERROR" appears only when
// no archive was made. The entries left out, each with its reason, are
// handed over by LeftOutEntries().
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "archive/archiver_status.h"
#include "archive/command_line.h"
#include "engine/Common.h"
#include "archive/left_out.h"
#include "archivers/left_out_store.h"
#include "archivers/name_set.h"
#include "archivers/plain_reason.h"
#include "engine/text_process.h"
#include "engine/unique_fd.h"

extern "C" char** environ;

namespace {

using archivers::NameSet;
using tessarine::EqualsNoCase;
using tessarine::LeftOutEntry;
using tessarine::UniqueFd;

// The longest password taken, in bytes.
constexpr size_t kMaxPassword = 1024;

// The most names a command line may hold (places in a NameSet are 4 bytes).
constexpr size_t kMaxNames = UINT32_MAX - 1;

std::string_view WithoutLeadingSlashes(std::string_view name) {
    const size_t start = name.find_first_not_of('/');
    return start == std::string_view::npos ? std::string_view() : name.substr(start);
}

// The names as 7zz takes them: relative to the base folder.
std::vector<std::string_view> RelativeNames(const std::vector<std::string_view>& names) {
    std::vector<std::string_view> relative;
    relative.reserve(names.size());
    for (const std::string_view name : names) relative.push_back(WithoutLeadingSlashes(name));
    return relative;
}

// What a command line asks for.
struct Request {
    std::string type;  // "zip" or "7z"
    bool encrypt = false;
    std::string password;
    std::string archive;
    std::string baseFolder;
    // Relative to the base folder, each once; views into the command line's
    // tokens.
    std::vector<std::string_view> names;
};

// Reads the command line. Switches come before the archive path; every
// token after the base folder is a name, whatever it looks like. False,
// with the reason, when the line cannot be carried out.
bool ParseRequest(std::vector<std::string_view> tokens, Request& request, std::string& reason) {
    if (tokens.empty() || !EqualsNoCase(tokens[0], "a")) {
        reason = "対応していないコマンドです (使えるのは a だけです)";
        return false;
    }
    size_t i = 1;
    for (; i < tokens.size() && !tokens[i].empty() && tokens[i][0] == '-'; ++i) {
        const std::string_view token = tokens[i];
        if (EqualsNoCase(token, "-tzip")) {
            request.type = "zip";
        } else if (EqualsNoCase(token, "-t7z")) {
            request.type = "7z";
        } else if (token.size() >= 2 && (token[1] == 'p' || token[1] == 'P')) {
            request.encrypt = true;
            request.password = std::string(token.substr(2));
        } else if (EqualsNoCase(token, "-r")) {
            // The list names every file itself; nothing is searched for.
        } else {
            reason = "対応していないスイッチです: " + std::string(token);
            return false;
        }
    }
    if (i + 1 >= tokens.size()) {
        reason = "書庫のパスと基準フォルダーが必要です";
        return false;
    }
    request.archive = std::string(tokens[i++]);
    request.baseFolder = std::string(tokens[i++]);
    if (request.type.empty()) {
        const auto dot = request.archive.rfind('.');
        request.type = dot != std::string::npos && EqualsNoCase(request.archive.substr(dot), ".zip") ? "zip" : "7z";
    }
    if (tokens.size() - i > kMaxNames) {
        reason = "名前が多すぎます";
        return false;
    }
    // 7-Zip refuses a list that holds a name twice; each name goes once, at
    // its first place. A name beginning with "/" (from a base folder given
    // without its closing separator) is the same entry as without it. The
    // names are kept in the tokens' own list, moved to its front.
    NameSet seen(tokens.size() - i, [&tokens](size_t k) { return WithoutLeadingSlashes(tokens[k]); });
    size_t kept = 0;
    for (; i < tokens.size(); ++i) {
        if (tokens[i].empty()) continue;
        tokens[kept] = tokens[i];
        if (seen.Insert(kept) == kept) ++kept;
    }
    tokens.resize(kept);
    request.names = std::move(tokens);
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
        if (request.type == "zip" && std::any_of(request.password.begin(), request.password.end(),
                                                 [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
            reason = "ZIP のパスワードに使えるのは ASCII 文字だけです (7-Zip の制限)。7z 形式なら使えます";
            return false;
        }
    }
    return true;
}

bool HoldsErrorWord(std::string_view text) { return tessarine::FindNoCase(text, "error") != std::string_view::npos; }

// `path` made absolute against the process's current folder.
std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::string cwd(PATH_MAX, '\0');
    if (!::getcwd(cwd.data(), cwd.size())) return path;
    cwd.resize(std::strlen(cwd.c_str()));
    if (cwd.back() != '/') cwd.push_back('/');
    return cwd + path;
}

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

// The descriptors 7zz gets beside its standard ones when the read guard
// is loaded into it: the guard library, the pipe on which the guard says it
// is in place, the base folder, and deep folders (see read_guard.cpp).
constexpr int kGuardLibraryFd = 3;
constexpr size_t kGuardFixedFds = 3;

// What 7zz may read: the base folder and, under "PREFIXn" names for n from
// `firstAlias`, deep folders opened here (see AddDeepFiles).
struct ReadGuard {
    int library = -1;
    int base = -1;
    std::vector<int> folders;
    std::string aliasPrefix;
    size_t firstAlias = 0;
};

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

std::vector<std::string> GuardedEnvironment(std::vector<std::string> env, const ReadGuard& guard) {
    env.push_back("LD_PRELOAD=/proc/self/fd/" + std::to_string(kGuardLibraryFd));
    env.push_back("TESSARINE_READ_GUARD=" + guard.aliasPrefix + "," + std::to_string(guard.firstAlias) + "," +
                  std::to_string(guard.folders.size()));
    return env;
}

// The longest name kept from beneath PATH_MAX (see AddDeepFiles): each
// argument of the renaming call stays within the kernel's 128 KiB.
constexpr size_t kMaxDeepName = 64 * 1024;

// What kind of entry a listed name is, and whether 7zz may be given it.
// Named pipes, devices and sockets are never handed over: reading them
// blocks or never ends. A name of PATH_MAX bytes or more is looked at from
// its folder; only files are taken from there (see AddDeepFiles). Empty when
// 7zz may have it, else the reason; `folder` tells whether it is a folder.
std::string CheckEntry(int baseFd, const std::string& name, uid_t user, bool& folder) {
    folder = false;
    int at = baseFd;
    const char* leaf = name.c_str();
    UniqueFd parent;
    const bool deep = name.size() >= PATH_MAX;
    if (deep) {
        if (name.size() > kMaxDeepName) return "名前が長すぎて 7-Zip に渡せません (64 KiB まで)";
        const size_t cut = name.rfind('/');
        if (cut == std::string::npos) return archivers::PlainReason(ENAMETOOLONG);
        parent.Reset(tessarine::OpenLongPath(baseFd, std::string_view(name).substr(0, cut), O_PATH | O_DIRECTORY));
        if (!parent) return archivers::PlainReason(errno);
        at = parent.Get();
        leaf = name.c_str() + cut + 1;
    }
    struct stat st {};
    if (::fstatat(at, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) return archivers::PlainReason(errno);
    switch (st.st_mode & S_IFMT) {
        case S_IFREG:
            // The owner's read bit alone decides for the owner (access lists
            // never narrow it), which saves the kernel a second look-up for
            // the user's own files.
            if (st.st_uid == user && (st.st_mode & S_IRUSR)) return {};
            if (::faccessat(at, leaf, R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
                return archivers::PlainReason(errno);
            return {};
        case S_IFDIR:
            if (deep) return "PATH_MAX より深いフォルダーは名前では渡せません";
            folder = true;
            return {};  // folders as they are
        case S_IFLNK:
            if (deep) return "PATH_MAX より深いリンクは 7-Zip ではリンクとして保存できません";
            return {};  // links stored as links
        case S_IFIFO: return "名前付きパイプ";
        case S_IFCHR:
        case S_IFBLK: return "デバイス";
        case S_IFSOCK: return "ソケット";
        default: return "特殊なファイル";
    }
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

struct RunResult {
    bool started = false;
    bool guarded = false;  // the read guard said it was in place
    int spawnError = 0;
    int status = 0;
    std::string out;  // standard output
    std::string err;  // standard error
};

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

// Runs 7zz with the arguments in the folder, feeding `input` on its standard
// input, and collects what it writes; with `guard`, the read guard is loaded
// into it. The child is made to die with the calling thread (so that a
// killed program leaves no 7zz behind) and to write no core file; between
// fork and exec it makes only calls that are safe in the child of a
// threaded process.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args, int folderFd,
                     const std::vector<std::string>& baseEnv, const std::string& input,
                     const ReadGuard* guard = nullptr) {
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

// The bytes an argument costs in the kernel's argument area.
size_t ArgumentCost(std::string_view s) { return s.size() + 1 + sizeof(char*); }

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
        case 2: return "7-Zip が処理を続けられませんでした";
        case 7: return "コマンドラインの誤り";
        case 8: return "メモリー不足";
        case 255: return "中断されました";
        default: return "不明な終了コード";
    }
}

// What 7zz reports at exit code 1: the entries it could not add. Its
// standard output ends with sections such as
//
//   Scan WARNINGS for files and folders:
//
//   gone : errno=2 : No such file or directory
//   ----------------
//   Scan WARNINGS: 1
//
// (and "WARNINGS for files:" for files found but not opened), one line per
// entry, the name as 7-Zip shows it (line breaks and other control
// characters replaced). A shown name that is one of the names given (as
// listed, `given`, and as handed over, relative) is taken as that entry; a
// folder above given names, as each of them; any other line, and any entry counted but not listed, is left out under
// the name 7-Zip showed.
std::vector<LeftOutEntry> WarnedEntries(const std::string& out, const std::vector<std::string_view>& given) {
    std::unordered_map<std::string_view, size_t> index;
    index.reserve(given.size());
    for (size_t k = 0; k < given.size(); ++k) index.emplace(WithoutLeadingSlashes(given[k]), k);
    std::unordered_set<size_t> taken;
    std::vector<size_t> byName;  // places in `given` in the order of their names, made when first needed
    std::vector<LeftOutEntry> entries;
    size_t counted = 0;
    bool inSection = false;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string_view line(out.data() + pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == "Scan WARNINGS for files and folders:" || line == "WARNINGS for files:") {
            inSection = true;
            continue;
        }
        if (line.rfind("----------------", 0) == 0) {
            inSection = false;
            continue;
        }
        unsigned long n = 0;
        if (std::sscanf(std::string(line).c_str(), "Scan WARNINGS: %lu", &n) == 1 ||
            std::sscanf(std::string(line).c_str(), "WARNING: Cannot open %lu file", &n) == 1) {
            counted += n;
            continue;
        }
        if (!inSection || line.empty()) continue;
        std::string_view shown = line;
        std::string reason = "7-Zip could not add it";
        const size_t mark = line.rfind(" : errno=");
        if (mark != std::string_view::npos) {
            shown = line.substr(0, mark);
            const int number = std::atoi(std::string(line.substr(mark + 9)).c_str());
            if (number > 0) reason = archivers::PlainReason(number);
        }
        const auto hit = index.find(shown);
        if (hit != index.end() && taken.insert(hit->second).second) {
            entries.push_back(LeftOutEntry{std::string(given[hit->second]), reason});
            continue;
        }
        // A folder on the way of given names (one swapped for a link, say):
        // 7zz names it once and adds none of the names beneath it.
        if (byName.empty()) {
            byName.resize(given.size());
            for (size_t k = 0; k < given.size(); ++k) byName[k] = k;
            std::sort(byName.begin(), byName.end(), [&](size_t a, size_t b) {
                return WithoutLeadingSlashes(given[a]) < WithoutLeadingSlashes(given[b]);
            });
        }
        const std::string folder = std::string(shown) + "/";
        auto at = std::lower_bound(byName.begin(), byName.end(), folder, [&](size_t k, const std::string& name) {
            return WithoutLeadingSlashes(given[k]) < name;
        });
        bool beneath = false;
        for (; at != byName.end() && WithoutLeadingSlashes(given[*at]).starts_with(folder); ++at) {
            beneath = true;
            if (taken.insert(*at).second) entries.push_back(LeftOutEntry{std::string(given[*at]), reason});
        }
        if (!beneath) entries.push_back(LeftOutEntry{std::string(shown), "7-Zip could not add it"});
    }
    for (size_t k = entries.size(); k < counted; ++k) entries.push_back(LeftOutEntry{"", "7-Zip could not add it"});
    if (entries.empty()) entries.push_back(LeftOutEntry{"", "7-Zip could not add it"});
    return entries;
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
    return 2;
}

// 7-Zip's text for a failure, with the paths it quotes replaced by what they
// are: the report then names no folder or file of the user's.
std::string WithoutPaths(std::string text, const std::vector<std::pair<std::string, std::string>>& paths) {
    for (const auto& [path, word] : paths) {
        if (path.empty()) continue;
        for (size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + word.size()))
            text.replace(at, path.size(), word);
    }
    // Lines that still hold the word are 7-Zip's own and say the same as
    // the first line of the report; a name of the user's may be among them.
    std::string kept;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + pos, end - pos);
        if (!line.empty() && (!HoldsErrorWord(line) || line.rfind("ERROR:", 0) == 0)) kept.append(line).push_back('\n');
        pos = end + 1;
    }
    return kept;
}

// A relative name made of plain parts only: no empty part, no "." or "..".
bool PlainRelativeName(std::string_view name) {
    for (size_t pos = 0;;) {
        const size_t end = name.find('/', pos);
        const std::string_view part = name.substr(pos, end == std::string_view::npos ? end : end - pos);
        if (part.empty() || part == "." || part == "..") return false;
        if (end == std::string_view::npos) return true;
        pos = end + 1;
    }
}

// Whether a name can go into a 7zz switch as it is: switches are read as
// text, so only valid UTF-8 without control characters.
bool PlainText(std::string_view name) {
    for (size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
        if (c < 0x20 || c == 0x7F || length == 0 || (length == 2 && c < 0xC2) || i + length > name.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(name[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

// The most entries of one folder that may be kept out of it by exclusion
// switches when the folder is named whole (a hidden file the job left out,
// a filter's leftovers). 7-Zip checks every entry of the folder against each
// of them, so they stay few.
constexpr size_t kMaxExcludedPerFolder = 32;
constexpr size_t kMaxExcluded = 1024;

// A folder named whole, as it was when looked at: adding, removing or
// renaming an entry in it changes its modification and change times.
struct FolderMark {
    std::string_view folder;  // "" for the base folder
    timespec modified;
    timespec changed;
};

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// Whether every folder is as it was when it was looked at.
bool FoldersUnchanged(int baseFd, const std::vector<FolderMark>& marks) {
    for (const auto& mark : marks) {
        struct stat st {};
        const std::string name = mark.folder.empty() ? "." : std::string(mark.folder);
        if (::fstatat(baseFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
            !SameTime(st.st_mtim, mark.modified) || !SameTime(st.st_ctim, mark.changed))
            return false;
    }
    return true;
}

// Whether the folder can be named whole: it holds nothing but listed
// entries, folders already found to be so, and at most a few entries that
// are not listed, which are then added to `excluded`. Every entry counts,
// hidden ones too, as 7zz would find it.
bool FolderIsWhole(int baseFd, std::string_view folder, const auto& listed,
                   const std::unordered_map<std::string_view, bool>& whole, std::vector<std::string>& excluded,
                   std::vector<FolderMark>& marks) {
    UniqueFd fd(folder.empty() ? ::openat(baseFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                               : tessarine::OpenLongPath(baseFd, folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0) return false;
    const FolderMark mark{folder, st.st_mtim, st.st_ctim};
    DIR* dir = ::fdopendir(fd.Get());
    if (!dir) return false;
    fd.Release();
    bool complete = true;
    std::vector<std::string> unlisted;
    std::string child(folder);
    if (!child.empty()) child.push_back('/');
    const size_t prefix = child.size();
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name == "." || name == "..") continue;
        child.resize(prefix);
        child.append(name);
        if (listed.Find(child) != listed.kNone) continue;
        bool isFolder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            isFolder = ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        const auto sub = isFolder ? whole.find(child) : whole.end();
        if (sub != whole.end() && sub->second) continue;
        // A folder holding listed entries but not whole cannot be kept out.
        if (sub != whole.end() || unlisted.size() == kMaxExcludedPerFolder ||
            excluded.size() + unlisted.size() == kMaxExcluded || !PlainText(child)) {
            complete = false;
            break;
        }
        unlisted.push_back(child);
    }
    if (complete && errno != 0) complete = false;  // the listing broke off
    ::closedir(dir);
    if (complete) {
        for (auto& name : unlisted) excluded.push_back(std::move(name));
        marks.push_back(mark);
    }
    return complete;
}

// The names 7zz is given for the listed entries `given` (relative to the
// base folder, files and links, each once). 7-Zip compares every name it is
// given with the other names of the same folder, so a folder of many files
// named one by one costs time growing with the square of their number. A
// folder whose every entry is listed, and recursively every entry of its
// subfolders, is what 7zz takes when given the folder itself: such a folder
// is named instead of its entries, once, at the place of its first entry,
// the outermost one where folders nest. A few entries that are not listed
// (a hidden file or a filter's leftover the job did not take, an entry left
// out here, an empty folder, the folder the archive is made in) are kept out
// by exclusion switches, added to `excluded` ("-x!" and the path); a folder
// with more of them, or one that cannot go into a switch, is not named and
// its listed entries are. The names point into `given` (which holds them as
// listed, maybe with a leading "/"); `namedFolders` says how many folders were
// named, `marks` holds each folder found whole.
std::vector<std::string_view> NamesToHandOver(int baseFd, const std::vector<std::string_view>& given,
                                              size_t& namedFolders, std::vector<std::string>& excluded,
                                              std::vector<FolderMark>& marks) {
    namedFolders = 0;
    const auto relative = [&given](size_t k) { return WithoutLeadingSlashes(given[k]); };
    for (size_t k = 0; k < given.size(); ++k) {
        if (!PlainRelativeName(relative(k))) return RelativeNames(given);
    }
    NameSet listed(given.size(), relative);
    for (size_t k = 0; k < given.size(); ++k) listed.Insert(k);
    // Every folder holding a listed entry, and the folders above it; "" is
    // the base folder. Each is looked at after all folders below it.
    std::unordered_map<std::string_view, bool> whole;
    whole[""] = false;
    for (size_t k = 0; k < given.size(); ++k) {
        const std::string_view name = relative(k);
        for (size_t slash = name.find('/'); slash != std::string_view::npos; slash = name.find('/', slash + 1))
            whole.try_emplace(name.substr(0, slash), false);
    }
    std::vector<std::pair<size_t, std::string_view>> byDepth;
    byDepth.reserve(whole.size());
    for (const auto& [folder, _] : whole) {
        byDepth.emplace_back(folder.empty() ? 0 : 1 + std::count(folder.begin(), folder.end(), '/'), folder);
    }
    std::sort(byDepth.begin(), byDepth.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::string> unlisted;
    for (const auto& [depth, folder] : byDepth) {
        whole[folder] = FolderIsWhole(baseFd, folder, listed, whole, unlisted, marks);
    }
    // Every folder found whole lies in a folder that is named (it holds a
    // listed entry), so each of the entries it keeps out is excluded.
    for (const auto& path : unlisted) excluded.push_back("-x!" + path);

    if (whole[""]) {
        namedFolders = 1;
        return {"."};
    }
    std::vector<std::string_view> handed;
    handed.reserve(given.size());
    std::unordered_set<std::string_view> named;
    for (size_t k = 0; k < given.size(); ++k) {
        const std::string_view name = relative(k);
        std::string_view outermost;
        for (size_t slash = name.find('/'); slash != std::string_view::npos; slash = name.find('/', slash + 1)) {
            if (whole.at(name.substr(0, slash))) {
                outermost = name.substr(0, slash);
                break;
            }
        }
        if (outermost.empty()) {
            handed.push_back(name);
        } else if (named.insert(outermost).second) {
            handed.push_back(outermost);
            ++namedFolders;
        }
    }
    return handed;
}

// The number of files (links included) 7zz says it added in one call, from
// its line "Add new data to archive: 2 folders, 4 files, 7 bytes (1 KiB)".
size_t FilesAdded(const std::string& out) {
    const std::string_view mark = "Add new data to archive: ";
    const size_t at = out.find(mark);
    if (at == std::string::npos) return 0;
    const size_t end = out.find('\n', at);
    const std::string line = out.substr(at + mark.size(), end == std::string::npos ? end : end - at - mark.size());
    unsigned long folders = 0, files = 0;
    char word[16] = {};
    if (std::sscanf(line.c_str(), "%lu folder%15[s,] %lu file", &folders, word, &files) == 3) return files;
    if (std::sscanf(line.c_str(), "%lu file", &files) == 1) return files;
    return 0;
}

// Why an archive is not made when 7zz ran without the read guard.
std::string GuardMissing() {
    return "7zz に読み取りの保護 (lib7zz-guard.so) を組み込めませんでした。静的にリンクされた 7zz "
           "では元のフォルダーの外を読まないことを保証できません";
}

// A folder of our own beside the archive's final place, in which 7zz makes
// the archive. Removed, with whatever 7zz left in it, when it goes.
class TempFolder {
public:
    // The folder for the archive at the absolute path `archive`.
    explicit TempFolder(const std::string& archive) {
        const size_t slash = archive.rfind('/');
        std::string pattern = archive.substr(0, slash + 1) + ".tessarine-XXXXXX";
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
        else
            error_ = errno;
    }
    ~TempFolder() {
        if (path_.empty()) return;
        UniqueFd folder(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder) {
            std::vector<std::string> names;
            if (DIR* d = ::fdopendir(::fcntl(folder.Get(), F_DUPFD_CLOEXEC, 0))) {
                while (const dirent* e = ::readdir(d)) {
                    const std::string n = e->d_name;
                    if (!tessarine::IsDotOrDotDot(n)) names.push_back(n);
                }
                ::closedir(d);
            }
            for (const auto& n : names) ::unlinkat(folder.Get(), n.c_str(), 0);
        }
        ::rmdir(path_.c_str());
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    bool Made() const { return !path_.empty(); }
    int Error() const { return error_; }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
    int error_ = 0;
};

// Adds the files whose names are PATH_MAX bytes or more (relative to the
// base folder) to the archive at `partial`. 7zz opens every name it is given
// as one path and stops there ("File name too long"), so each folder holding
// such files is opened here, beneath the base folder without following a
// link, and handed to 7zz as an open descriptor, which the read guard lets
// it reach under a short alias: 7zz is given "ALIAS/name", and the entries
// are then renamed in the archive to their own names (7zz rn, which copies
// the packed data as it is). A file whose folder cannot be reached so, or
// that 7zz warns about, is added to `leftOut` under its own name. Returns
// the failure text, empty on success.
std::string AddDeepFiles(const std::string& program, const std::vector<std::string>& env, const std::string& input,
                         const Request& request, const std::string& partial, const ReadGuard& baseGuard,
                         const std::vector<std::string_view>& given, const std::vector<std::string_view>& deep,
                         std::vector<LeftOutEntry>& leftOut) {
    // The aliases begin with a name no listed entry begins with, so that
    // adding them never updates an entry already in the archive.
    std::unordered_set<std::string_view> tops;
    for (const std::string_view name : given) {
        const std::string_view relative = WithoutLeadingSlashes(name);
        tops.insert(relative.substr(0, relative.find('/')));
    }
    std::string prefix = ".tessarine-deep-";
    while (std::any_of(tops.begin(), tops.end(), [&](std::string_view top) { return top.starts_with(prefix); }))
        prefix.insert(0, "_");

    // Each folder numbered in the order its first file comes; the files
    // taken folder by folder, so that one call's folders are consecutive.
    std::unordered_map<std::string_view, size_t> numberOf;
    std::vector<std::string_view> folders;
    std::vector<std::pair<size_t, size_t>> files;  // (folder number, deep file)
    for (size_t k = 0; k < deep.size(); ++k) {
        const std::string_view relative = WithoutLeadingSlashes(deep[k]);
        const std::string_view folder = relative.substr(0, relative.rfind('/'));
        const auto [hit, added] = numberOf.try_emplace(folder, folders.size());
        if (added) folders.push_back(folder);
        files.emplace_back(hit->second, k);
    }
    std::stable_sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    std::vector<std::string> add{"7zz", "a", "-t" + request.type, "-spd", "-snl", "-bd", "-sccUTF-8"};
    std::vector<std::string> rename{"7zz", "rn", "-spd", "-bd", "-sccUTF-8"};
    for (auto* args : {&add, &rename}) {
        if (request.type == "zip") args->push_back("-mtp=1");
        if (request.encrypt && request.type == "7z") args->push_back("-mhe=on");
        if (request.encrypt) args->push_back("-p");
        args->push_back("--");
        args->push_back(partial);
    }
    const auto failed = [](const std::vector<std::string>& fixed, const RunResult& result) {
        const int code = result.started && WIFEXITED(result.status) ? WEXITSTATUS(result.status) : -1;
        return "PATH_MAX より深いファイルを 7zz (" + fixed[1] + ") で追加できませんでした" +
               (code > 0 ? " (終了コード " + std::to_string(code) + ", " + ExitMeaning(code) + ")" : "");
    };

    // A few hundred folders per call keep the descriptors well within the
    // usual limit of 1,024.
    constexpr size_t kFoldersPerCall = 256;
    const size_t budget = NameBudget(add, env);
    std::vector<std::string> pairs;  // "ALIAS/name" and the own name, for each file added
    for (size_t next = 0; next < files.size();) {
        ReadGuard guard = baseGuard;
        guard.aliasPrefix = prefix;
        guard.firstAlias = files[next].first;
        std::vector<UniqueFd> opened;  // a folder not reached stands as /dev/null, which no look-up enters
        std::vector<int> openError;
        std::vector<std::string> names;  // "ALIAS/name"
        std::vector<size_t> fileOf;      // the deep file of each name
        size_t used = 0;
        size_t end = next;
        for (; end < files.size(); ++end) {
            const auto [number, k] = files[end];
            if (number - guard.firstAlias >= kFoldersPerCall) break;
            const std::string_view relative = WithoutLeadingSlashes(deep[k]);
            std::string alias = prefix + std::to_string(number) + std::string(relative.substr(relative.rfind('/')));
            if (!names.empty() && used + ArgumentCost(alias) > budget) break;
            while (opened.size() <= number - guard.firstAlias) {
                opened.emplace_back(
                    tessarine::OpenBeneath(baseGuard.base, folders[guard.firstAlias + opened.size()], O_PATH));
                openError.push_back(opened.back() ? 0 : errno);
                if (!opened.back()) opened.back().Reset(::open("/dev/null", O_PATH | O_CLOEXEC));
            }
            if (const int error = openError[number - guard.firstAlias]; error != 0) {
                // A folder on the way was swapped for a link, or is gone.
                leftOut.push_back(LeftOutEntry{std::string(deep[k]), archivers::PlainReason(error)});
                continue;
            }
            used += ArgumentCost(alias);
            names.push_back(std::move(alias));
            fileOf.push_back(k);
        }
        next = end;
        if (names.empty()) continue;
        for (const auto& fd : opened) guard.folders.push_back(fd.Get());
        std::vector<std::string> args = add;
        args.insert(args.end(), names.begin(), names.end());
        const RunResult result = RunProgram(program, args, baseGuard.base, env, input, &guard);
        const int code = result.started && WIFEXITED(result.status) ? WEXITSTATUS(result.status) : -1;
        if (code != 0 && code != 1) return failed(add, result);
        if (!result.guarded) return GuardMissing();
        // An entry 7zz named is listed under its own name; one it did not
        // name is listed as 7zz showed it.
        std::unordered_map<std::string_view, std::string> missed;
        std::vector<LeftOutEntry> warned;
        if (code == 1) {
            warned = WarnedEntries(result.out, std::vector<std::string_view>(names.begin(), names.end()));
            for (const auto& entry : warned) missed.emplace(entry.name, entry.reason);
        }
        for (size_t i = 0; i < names.size(); ++i) {
            const auto hit = missed.find(names[i]);
            if (hit != missed.end()) {
                leftOut.push_back(LeftOutEntry{std::string(deep[fileOf[i]]), hit->second});
                missed.erase(hit);
                continue;
            }
            pairs.push_back(names[i]);
            pairs.emplace_back(WithoutLeadingSlashes(deep[fileOf[i]]));
        }
        for (const auto& entry : warned) {
            if (missed.count(entry.name)) leftOut.push_back(entry);
        }
    }
    // The renames, as many pairs per call as fit.
    const size_t renameBudget = NameBudget(rename, env);
    for (size_t next = 0; next < pairs.size();) {
        std::vector<std::string> args = rename;
        size_t used = 0;
        size_t end = next;
        while (end < pairs.size()) {
            const size_t cost = ArgumentCost(pairs[end]) + ArgumentCost(pairs[end + 1]);
            if (end > next && used + cost > renameBudget) break;
            used += cost;
            end += 2;
        }
        args.insert(args.end(), pairs.begin() + static_cast<long>(next), pairs.begin() + static_cast<long>(end));
        const RunResult result = RunProgram(program, args, baseGuard.base, env, input);
        if (!result.started || !WIFEXITED(result.status) || WEXITSTATUS(result.status) != 0)
            return failed(rename, result);
        next = end;
    }
    return {};
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int SevenZip(void* /*ownerWindow*/, const char* commandLine,
                                                               char* output, unsigned long outputSize) {
    archivers::ClearLeftOut();
    if (output && outputSize > 0) output[0] = '\0';
    if (!commandLine) return Fail("コマンドラインがありません", output, outputSize);

    // The names stay views into the command line, which the caller holds
    // throughout the call, or into `rewritten` for the few that hold escapes.
    std::deque<std::string> rewritten;
    Request request;
    std::string reason;
    if (!ParseRequest(tessarine::SplitCommandLineViews(commandLine, rewritten), request, reason)) {
        return Fail(reason, output, outputSize);
    }
    const std::string program = FindSevenZipProgram();
    if (program.empty()) {
        return Fail("7-Zip のプログラム 7zz が見つかりません。7zip パッケージをインストールしてください", output,
                    outputSize);
    }
    // 7zz runs in the base folder, so every path it gets is absolute: a
    // relative archive path means the caller's current folder.
    const std::string archive = AbsolutePath(request.archive);
    const std::string baseFolder = AbsolutePath(request.baseFolder);
    const UniqueFd baseFd(tessarine::OpenLongPath(AT_FDCWD, baseFolder, O_PATH | O_DIRECTORY));
    if (!baseFd) return Fail("基準フォルダーを開けません: " + archivers::PlainReason(errno), output, outputSize);
    if (archive.back() == '/') return Fail("書庫のパスがフォルダーを指しています", output, outputSize);
    const UniqueFd guardLibrary = OpenReadGuard();
    if (!guardLibrary) return Fail(GuardMissing(), output, outputSize);
    ReadGuard guard;
    guard.library = guardLibrary.Get();
    guard.base = baseFd.Get();

    // The names 7zz may have, as listed, kept in the list's own place; the
    // others are left out here with their reason.
    std::vector<LeftOutEntry> leftOut;
    const size_t listedCount = request.names.size();
    std::vector<std::string_view> given = std::move(request.names);
    size_t kept = 0;
    const uid_t user = ::geteuid();
    bool anyFolderListed = false;        // a listed folder goes to 7zz whole, by its name
    std::vector<std::string_view> deep;  // files 7zz cannot open by name (see AddDeepFiles)
    std::string path;                    // the name being looked at, NUL-terminated for the system
    for (size_t k = 0; k < given.size(); ++k) {
        const std::string_view name = given[k];
        const std::string_view relative = WithoutLeadingSlashes(name);
        path.assign(relative);
        bool folder = false;
        std::string why = relative.empty() ? "名前がありません" : CheckEntry(baseFd.Get(), path, user, folder);
        anyFolderListed = anyFolderListed || (why.empty() && folder);
        if (!why.empty()) {
            leftOut.push_back(LeftOutEntry{std::string(name), std::move(why)});
            continue;
        }
        if (relative.size() >= PATH_MAX) {
            deep.push_back(name);
            continue;
        }
        given[kept++] = name;
    }
    given.resize(kept);
    // What the report says when the call ends: the count first, then the
    // entries left out, listed in full by LeftOutEntries().
    auto finish = [&](int status, const std::string& failure) {
        archivers::StoreLeftOut(tessarine::EncodeLeftOut(leftOut));
        if (!failure.empty()) {
            Fail(failure, output, outputSize);
            return status;
        }
        // An entry 7zz warned about may lie inside a listed folder, so the
        // count of entries left out can exceed the names listed.
        const size_t missing = std::min(leftOut.size(), listedCount);
        std::string report = std::to_string(listedCount - missing) + " of " + std::to_string(listedCount) +
                             " files added to the archive\n";
        if (!leftOut.empty()) report += std::to_string(leftOut.size()) + " files left out\n";
        WriteReport(report, output, outputSize);
        return status;
    };
    if (given.empty() && deep.empty()) return finish(2, "圧縮できるファイルがありません (すべて除外されました)");

    const TempFolder temp(archive);
    if (!temp.Made()) return finish(2, "書庫の一時フォルダーを作れません: " + archivers::PlainReason(temp.Error()));
    const std::string partial = temp.Path() + archive.substr(archive.rfind('/'));
    const std::vector<std::pair<std::string, std::string>> paths = {
        {partial, "(書庫)"}, {archive, "(書庫)"}, {temp.Path(), "(一時フォルダー)"}, {baseFolder, "(基準フォルダー)"}};

    std::vector<std::string> fixedArgs{"7zz", "a", "-t" + request.type, "-spd", "-snl", "-bd", "-sccUTF-8"};
    // A ZIP's own time is DOS time, in steps of 2 seconds (7-Zip rounds an
    // odd second up). Unix time precision makes 7-Zip write the extended
    // time field (0x5455) instead of its NTFS times, which Info-ZIP's unzip
    // reads on Unix, so that files come back with their own second.
    if (request.type == "zip") fixedArgs.push_back("-mtp=1");
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
    fixedArgs.push_back(partial);
    const auto env = ChildEnvironment();

    // Whole folders go in by their own names, other entries one by one (see
    // NamesToHandOver). Should 7zz then add other than the listed number of
    // files, or a folder named whole have changed since it was looked at here
    // (an entry made, removed or renamed in it), the archive is made again
    // from the entries' own names, so that exactly the listed files go in and
    // the missing ones are reported.
    size_t namedFolders = 0;
    std::vector<std::string_view> handed;
    std::vector<std::string> excluded;
    std::vector<FolderMark> marks;
    if (anyFolderListed) {
        handed = RelativeNames(given);
    } else {
        handed = NamesToHandOver(baseFd.Get(), given, namedFolders, excluded, marks);
    }
    std::vector<std::string> plainArgs = fixedArgs;
    const auto dashes = std::find(fixedArgs.begin(), fixedArgs.end(), "--");
    fixedArgs.insert(dashes, excluded.begin(), excluded.end());
    size_t budget = NameBudget(fixedArgs, env);
    enum class Outcome { kDone, kFailed, kRedo };
    int failedStatus = 0;
    auto addAll = [&](const std::vector<std::string_view>& names, bool byFolders) {
        // The names go in as few calls as the kernel's argument limit
        // allows; each further call adds to the archive the first one made.
        size_t callBudget = budget;
        size_t next = 0;
        size_t added = 0;
        while (next < names.size()) {
            std::vector<std::string> args = fixedArgs;
            size_t used = 0;
            size_t end = next;
            while (end < names.size() && (end == next || used + ArgumentCost(names[end]) <= callBudget)) {
                used += ArgumentCost(names[end]);
                ++end;
            }
            args.insert(args.end(), names.begin() + static_cast<long>(next), names.begin() + static_cast<long>(end));
            const RunResult run = RunProgram(program, args, baseFd.Get(), env, input, &guard);
            if (!run.started && run.spawnError == E2BIG && end - next > 1) {
                callBudget = used / 2;  // the limit was tighter than estimated
                continue;
            }
            if (!run.started) {
                failedStatus = finish(2, "7zz を起動できません: " + archivers::PlainReason(run.spawnError));
                return Outcome::kFailed;
            }
            if (!WIFEXITED(run.status)) {
                const int signal = WTERMSIG(run.status);
                const char* name = ::sigabbrev_np(signal);
                failedStatus = finish(2, "7zz がシグナル " + std::to_string(signal) + " (SIG" + (name ? name : "?") +
                                             ") で止まりました。書庫は作られていません");
                return Outcome::kFailed;
            }
            if (!run.guarded) {
                failedStatus = finish(2, GuardMissing());
                return Outcome::kFailed;
            }
            const int code = WEXITSTATUS(run.status);
            if (code == 1 && byFolders) return Outcome::kRedo;
            if (code == 1) {
                // Some entries could not be added (gone or made unreadable
                // since they were looked at); 7zz made the archive without them.
                // Without folders named whole, the names are the given ones, in order.
                const std::vector<std::string_view> batch(given.begin() + static_cast<long>(next),
                                                          given.begin() + static_cast<long>(end));
                for (auto& e : WarnedEntries(run.out, batch)) leftOut.push_back(std::move(e));
            } else if (code != 0) {
                // 7zz out of memory fails the job as memory running out anywhere else does.
                failedStatus = finish(code == 8 ? tessarine::kArchiverOutOfMemory : 2,
                                      "7zz が終了コード " + std::to_string(code) + " で終わりました (" +
                                          ExitMeaning(code) + ")\n" + WithoutPaths(run.err + run.out, paths));
                return Outcome::kFailed;
            }
            added += FilesAdded(run.out);
            next = end;
        }
        if (byFolders && (added != given.size() || !FoldersUnchanged(baseFd.Get(), marks))) return Outcome::kRedo;
        return Outcome::kDone;
    };
#ifdef __GLIBC__
    // What was freed while the names were looked at goes back to the system
    // before 7zz, which needs much memory for a long list, starts.
    ::malloc_trim(0);
#endif
    Outcome outcome = given.empty() ? Outcome::kDone : addAll(handed, namedFolders > 0);
    if (outcome == Outcome::kRedo) {
        ::unlink(partial.c_str());
        fixedArgs = plainArgs;
        budget = NameBudget(fixedArgs, env);
        handed = RelativeNames(given);
        outcome = addAll(handed, false);
    }
    if (outcome == Outcome::kFailed) return failedStatus;
    if (!deep.empty()) {
        const std::string failure = AddDeepFiles(program, env, input, request, partial, guard, given, deep, leftOut);
        if (!failure.empty()) return finish(2, failure);
    }
    struct stat st {};
    if (::lstat(partial.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return finish(2, "7zz は書庫を作りませんでした");
    // The finished archive takes the final name in one step, replacing
    // whatever file or link was there.
    if (::rename(partial.c_str(), archive.c_str()) != 0)
        return finish(2, "書庫を置けません: " + archivers::PlainReason(errno));
    return finish(leftOut.empty() ? 0 : 1, "");
}

// The entries the last SevenZip call on this thread left out, each as its
// name and reason (see archive/left_out.h).
extern "C" __attribute__((visibility("default"))) const char* LeftOutEntries(unsigned long* length) {
    return archivers::LeftOutOfThisThread(length);
}

// Unloading frees the list of the thread that unloads (the one that called).
__attribute__((destructor)) static void FreeLeftOutEntries() { archivers::ClearLeftOut(); }
