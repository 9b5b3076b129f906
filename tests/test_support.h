#pragma once
// Small helpers shared by the test suites: a temporary folder that removes
// itself, and file helpers working on raw byte paths.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/path_list.h"

namespace testsupport {

class TempDir {
public:
    TempDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tessarine-test-XXXXXX";
        path_ = ::mkdtemp(pattern.data());
        ::chmod(path_.c_str(), 0755);
    }
    ~TempDir() {
        // Folders made unreadable by a test must be opened up before removal.
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(
                 path_, std::filesystem::directory_options::skip_permission_denied, ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            if (it->is_directory(ec) && !it->is_symlink(ec)) ::chmod(it->path().c_str(), 0755);
        }
        ::chmod(path_.c_str(), 0755);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // The folder path with a trailing separator, as the engine wants it.
    std::string folder() const { return path_ + "/"; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    if (!content.empty() && ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
        ::close(fd);
        throw std::runtime_error("cannot write " + path);
    }
    ::close(fd);
}

inline std::string ReadFile(const std::string& path) {
    std::string out;
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return "<missing>";
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return out;
}

// Where two byte strings first differ, with the bytes there in hex; empty
// when they are equal.
inline std::string FirstDifference(const std::string& got, const std::string& want) {
    if (got == want) return {};
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    const auto byteAt = [at](const std::string& s) {
        if (at >= s.size()) return std::string("end");
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(s[at]));
        return std::string(hex);
    };
    return "first difference at byte " + std::to_string(at) + ": got " + byteAt(got) + ", want " + byteAt(want) +
           " (lengths " + std::to_string(got.size()) + " and " + std::to_string(want.size()) + ")";
}

// The list in sorted order, for comparing lists whose order the file system
// decides.
inline std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}
inline std::vector<std::string> SortedPaths(const tessarine::PathList& list) {
    return Sorted(std::vector<std::string>(list.begin(), list.end()));
}

// The names in a folder, sorted.
inline std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline void MakeDir(const std::string& path) { ::mkdir(path.c_str(), 0755); }

// Gives a folder and everything beneath it to the user that RunUnprivileged
// and unprivileged programs run as (when the tests run as root), so that
// it is theirs: programs refuse a user folder that belongs to someone else.
inline void HandToUnprivileged(const std::string& path) {
    if (::geteuid() != 0) return;
    (void)!::lchown(path.c_str(), 65534, 65534);
    std::error_code ec;
    for (const auto& e : std::filesystem::recursive_directory_iterator(path, ec)) {
        (void)!::lchown(e.path().c_str(), 65534, 65534);
    }
}

// Runs `work` in a child process as an unprivileged user (root can read
// every folder, so permission failures are only seen without privileges).
// Returns the child's exit status, or -1 when it did not exit normally.
inline int RunUnprivileged(const std::function<int()>& work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(99);
        }
        ::_exit(work());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs `work` in a child process that is killed if it has not ended after
// `limitSeconds`, so that a read which would wait forever fails the test
// instead of hanging it. Returns the child's exit status, or -1 when it was
// killed or did not exit normally.
inline int RunInChildWithin(unsigned limitSeconds, const std::function<int()>& work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(limitSeconds);
        ::_exit(work());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A FIFO at the path, held open for writing by this process (so a reader
// that opens it blocking gets in and then waits for data that never comes).
// The returned descriptor is closed by the caller.
inline int MakeOpenFifo(const std::string& path) {
    ::mkfifo(path.c_str(), 0644);
    return ::open(path.c_str(), O_RDWR | O_NONBLOCK);
}

}  // namespace testsupport
