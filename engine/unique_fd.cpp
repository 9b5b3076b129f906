#include "engine/unique_fd.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

#include <limits.h>

#include <cerrno>
#include <string>

namespace tessarine {

ssize_t ReadFull(int fd, void* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, static_cast<char*>(data) + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

ssize_t ReadFullAt(int fd, void* data, size_t size, off_t offset) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, static_cast<char*>(data) + got, size - got, offset + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

bool WriteFull(int fd, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fd, at, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        at += put;
        size -= static_cast<size_t>(put);
    }
    return true;
}

bool WriteFullAt(int fd, const void* data, size_t size, off_t offset) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t put = ::pwrite(fd, at, size, offset);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return false;
        at += put;
        size -= static_cast<size_t>(put);
        offset += put;
    }
    return true;
}

int OpenLongPath(int dirfd, std::string_view path, int flags, mode_t mode) {
    UniqueFd folder;  // the folder the rest of the path is relative to
    while (path.size() >= PATH_MAX) {
        // Cut at the last separator that keeps the stretch under the limit.
        const size_t cut = path.rfind('/', PATH_MAX - 1);
        if (cut == std::string_view::npos || cut == 0) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const std::string stretch(path.substr(0, cut));
        const int next = ::openat(folder ? folder.Get() : dirfd, stretch.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (next < 0) return -1;
        folder.Reset(next);
        path.remove_prefix(cut + 1);
        while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    }
    const std::string last(path.empty() ? "." : path);
    return ::openat(folder ? folder.Get() : dirfd, last.c_str(), flags | O_CLOEXEC, mode);
}

// ---------------------------------------------------------------------------
// Folders beneath a root

namespace {

std::string_view WithoutTrailingSlashes(std::string_view path) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    return path;
}

std::atomic<bool> noOpenat2{false};

int Openat2(int dirfd, const std::string& path, int flags) {
    open_how how{};
    how.flags = static_cast<uint64_t>(flags | O_DIRECTORY | O_CLOEXEC);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    for (int attempt = 0;; ++attempt) {
        const long fd = ::syscall(SYS_openat2, dirfd, path.c_str(), &how, sizeof how);
        if (fd >= 0) return static_cast<int>(fd);
        // EAGAIN: a rename elsewhere raced with the lookup; it may be tried again.
        if ((errno != EAGAIN || attempt >= 8) && errno != EINTR) return -1;
    }
}

// After a failed openat2: true when the lookup is to be done again without
// it. ENOSYS: the kernel has no openat2; EPERM: a system-call filter refuses
// it (a lookup itself reports EACCES, so the second try tells the truth).
bool Openat2Failed() {
    if (errno == ENOSYS) noOpenat2 = true;
    return errno == ENOSYS || errno == EPERM;
}

}  // namespace

int OpenBeneathByComponents(int rootfd, std::string_view rel, int flags) {
    rel = WithoutTrailingSlashes(rel);
    if (!rel.empty() && rel.front() == '/') {
        errno = EXDEV;
        return -1;
    }
    UniqueFd folder;
    while (true) {
        while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
        const size_t cut = rel.find('/');
        const std::string name(rel.substr(0, cut));
        const bool last = cut == std::string_view::npos;
        if (name == "..") {
            errno = EXDEV;
            return -1;
        }
        const int at = folder ? folder.Get() : rootfd;
        const char* path = name.empty() ? "." : name.c_str();
        const int fd = ::openat(at, path, (last ? flags : O_PATH) | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || last) return fd;
        folder.Reset(fd);
        rel.remove_prefix(cut + 1);
    }
}

int OpenBeneath(int rootfd, std::string_view rel, int flags) {
    rel = WithoutTrailingSlashes(rel);
    if (rel.empty()) return ::openat(rootfd, ".", flags | O_DIRECTORY | O_CLOEXEC);
    if (noOpenat2.load(std::memory_order_relaxed)) return OpenBeneathByComponents(rootfd, rel, flags);
    // The kernel takes at most PATH_MAX bytes in one path: a longer one is
    // resolved a stretch at a time, each beneath the folder before it.
    const std::string_view whole = rel;
    UniqueFd folder;
    while (rel.size() >= PATH_MAX) {
        const size_t cut = rel.rfind('/', PATH_MAX - 1);
        if (cut == std::string_view::npos || cut == 0) {
            errno = ENAMETOOLONG;
            return -1;
        }
        const int fd = Openat2(folder ? folder.Get() : rootfd, std::string(rel.substr(0, cut)), O_PATH);
        if (fd < 0) return Openat2Failed() ? OpenBeneathByComponents(rootfd, whole, flags) : -1;
        folder.Reset(fd);
        rel.remove_prefix(cut + 1);
        while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
    }
    const int fd = Openat2(folder ? folder.Get() : rootfd, std::string(rel), flags);
    if (fd < 0 && Openat2Failed()) return OpenBeneathByComponents(rootfd, whole, flags);
    return fd;
}

}  // namespace tessarine
