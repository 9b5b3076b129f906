// lib7zz-guard.so: loaded into 7zz (LD_PRELOAD) by lib7-zip32.so, so that
// 7zz reads the source only beneath the base folder, the way the job's own
// readers do. 7zz runs in the base folder and opens every entry by its
// relative name; the owner of the tree could rename a folder and put a link
// in its place after the names were checked, and 7zz would read through
// the link. Here every relative name 7zz looks at, opens or lists is
// resolved beneath the base folder's descriptor without following a link on
// the way, and a file is opened without following a link at its end either
// (a link stored as a link is still read with readlink). A swapped entry then
// fails with ELOOP or ENOTDIR, and 7zz reports it as not added. Relative
// names are only ever read: a write, a create or a truncation of one fails.
// Absolute names (the archive, the system's own files) pass unchanged.
//
// The caller loads the guard from descriptor 3 (LD_PRELOAD=/proc/self/fd/3)
// and hands over a pipe as descriptor 4, the base folder as descriptor 5
// and, for names too long for one system call, folders deep in the tree as
// descriptors 6 onwards, in TESSARINE_READ_GUARD="PREFIX,FIRST,COUNT": a
// name whose first part is PREFIX followed by a number n with
// FIRST <= n < FIRST + COUNT is read beneath descriptor 6 + n - FIRST. The
// guard writes one byte into the pipe once it is in place, so that the
// caller knows the calls below are the ones 7zz makes (a statically linked
// 7zz would never load it).
//
// The calls taken over are those through which 7zz reaches the source:
// open, opendir, lstat, stat, fstatat and readlink (each also under its
// "64" name). They are made here with system calls, never through the
// functions of the same name, which would lead back to the guard.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "engine/unique_fd.h"

namespace {

using tessarine::OpenBeneath;
using tessarine::UniqueFd;

constexpr int kReadyFd = 4;
constexpr int kRootFd = 5;
constexpr int kFirstFolderFd = 6;

// Set by TakeOver, which may run before any constructor of this library:
// plain data only.
int rootFd = -1;  // the base folder; -1 until the guard is in place
char aliasPrefix[256];
size_t aliasPrefixLength = 0;
long firstAlias = 0, aliasCount = 0;

__attribute__((constructor)) void TakeOver() {
    const char* setting = std::getenv("TESSARINE_READ_GUARD");
    if (!setting) return;
    const char* comma = std::strrchr(setting, ',');
    if (!comma || comma == setting) return;
    const std::string_view head(setting, static_cast<size_t>(comma - setting));  // "PREFIX,FIRST"
    const size_t first = head.rfind(',');
    if (first == std::string_view::npos || first >= sizeof aliasPrefix) return;
    std::memcpy(aliasPrefix, setting, first);
    aliasPrefixLength = first;
    firstAlias = std::strtol(std::string(head.substr(first + 1)).c_str(), nullptr, 10);
    aliasCount = std::strtol(comma + 1, nullptr, 10);
    struct stat st {};
    if (::syscall(SYS_fstat, kRootFd, &st) != 0 || !S_ISDIR(st.st_mode)) return;
    rootFd = kRootFd;
    // The descriptors and the environment stay as they are: a 7zz started
    // through a wrapper script loads the guard again from them.
    const char byte = 1;
    (void)::write(kReadyFd, &byte, 1);
}

// The folder a relative name starts from, with the name then relative to
// it: the base folder, or the deep folder an alias stands for.
int StartOf(std::string_view& rel) {
    const std::string_view prefix(aliasPrefix, aliasPrefixLength);
    if (aliasCount > 0 && !prefix.empty() && rel.starts_with(prefix)) {
        const size_t end = rel.find('/');
        const std::string number(rel.substr(prefix.size(), end == std::string_view::npos ? end : end - prefix.size()));
        char* stop = nullptr;
        const long n = std::strtol(number.c_str(), &stop, 10);
        if (!number.empty() && *stop == '\0' && n >= firstAlias && n < firstAlias + aliasCount) {
            rel = end == std::string_view::npos ? std::string_view() : rel.substr(end + 1);
            return kFirstFolderFd + static_cast<int>(n - firstAlias);
        }
    }
    return rootFd;
}

// Whether the guard decides for `path` given relative to `dirfd`.
bool Guarded(int dirfd, const char* path) { return rootFd >= 0 && path && path[0] != '/' && dirfd == AT_FDCWD; }

// The folder holding `rel` beneath `start` (no link followed) and the last
// part of the name. Returns -1 with errno set when that folder cannot be
// reached so.
int OpenParentAt(int start, std::string_view rel, std::string& leaf) {
    while (rel.size() > 1 && rel.back() == '/') rel.remove_suffix(1);
    const size_t cut = rel.rfind('/');
    leaf.assign(cut == std::string_view::npos ? rel : rel.substr(cut + 1));
    if (leaf.empty()) leaf = ".";
    if (leaf == "..") {
        errno = EXDEV;
        return -1;
    }
    return OpenBeneath(start, cut == std::string_view::npos ? std::string_view() : rel.substr(0, cut), O_PATH);
}

// The same for a name relative to the base folder (or an alias).
int OpenParent(std::string_view rel, std::string& leaf) {
    const int start = StartOf(rel);
    return OpenParentAt(start, rel, leaf);
}

int StatBeneath(int start, std::string_view rel, struct stat* st, bool followEnd) {
    std::string leaf;
    const UniqueFd parent(OpenParentAt(start, rel, leaf));
    if (!parent) return -1;
    if (::syscall(SYS_newfstatat, parent.Get(), leaf.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) return -1;
    if (followEnd && S_ISLNK(st->st_mode)) {
        // Beneath the base folder no link is followed, not even the last.
        errno = ELOOP;
        return -1;
    }
    return 0;
}

int OpenGuarded(const char* path, int flags, mode_t mode) {
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC | O_TMPFILE)) != 0) {
        errno = EPERM;  // the source is never written
        return -1;
    }
    if (flags & O_DIRECTORY) {
        std::string_view rel = path;
        const int start = StartOf(rel);
        return OpenBeneath(start, rel, flags & ~O_DIRECTORY);
    }
    // 7zz opens the files of one folder one after another: each thread
    // keeps the folder it reached last, as a copy holds its open folders.
    thread_local struct {
        std::string rel;
        UniqueFd fd;
    } last;
    const std::string_view whole = path;
    const size_t cut = whole.rfind('/');
    const std::string_view folder = cut == std::string_view::npos ? std::string_view() : whole.substr(0, cut + 1);
    const std::string leaf(whole.substr(folder.size()));
    if (leaf.empty() || leaf == "." || leaf == "..") {
        errno = EISDIR;
        return -1;
    }
    if (!last.fd || last.rel != folder) {
        std::string_view rel = folder;
        const int start = StartOf(rel);
        last.fd.Reset(OpenBeneath(start, rel, O_PATH));
        last.rel.assign(last.fd ? folder : std::string_view());
        if (!last.fd) return -1;
    }
    // Without blocking, so that a file swapped for a named pipe does not
    // hold 7zz up; only a file is handed back.
    UniqueFd fd(
        static_cast<int>(::syscall(SYS_openat, last.fd.Get(), leaf.c_str(), flags | O_NOFOLLOW | O_NONBLOCK, mode)));
    if (!fd) return -1;
    struct stat st {};
    if (::syscall(SYS_fstat, fd.Get(), &st) != 0) return -1;
    // 7zz lists folders with opendir and opens only files: an entry that
    // turned from a file or link into a folder since 7zz looked at it is
    // refused here, where 7zz takes a refusal as one file not added (reading
    // a folder would end its whole run).
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
        return -1;
    }
    constexpr int kStatusFlags = O_APPEND | O_ASYNC | O_DIRECT | O_NOATIME | O_NONBLOCK;
    if (!(flags & O_NONBLOCK)) ::fcntl(fd.Get(), F_SETFL, flags & kStatusFlags);
    return fd.Release();
}

int OpenAny(int dirfd, const char* path, int flags, mode_t mode) {
    if (Guarded(dirfd, path)) return OpenGuarded(path, flags, mode);
    return static_cast<int>(::syscall(SYS_openat, dirfd, path, flags, mode));
}

mode_t ModeArgument(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

int FstatatAny(int dirfd, const char* path, struct stat* st, int flags) {
    const bool followEnd = !(flags & AT_SYMLINK_NOFOLLOW);
    if (Guarded(dirfd, path) && !(path[0] == '\0' && (flags & AT_EMPTY_PATH))) {
        std::string_view rel = path;
        const int start = StartOf(rel);
        return StatBeneath(start, rel, st, followEnd);
    }
    // Relative to a folder 7zz opened: that folder was reached beneath the
    // base folder, so one name with the link at its end not followed stays
    // beneath it; anything more goes through the guard's own look-up.
    if (rootFd >= 0 && dirfd != AT_FDCWD && path && path[0] != '/' && path[0] != '\0' &&
        (std::strchr(path, '/') || std::strcmp(path, "..") == 0 || followEnd))
        return StatBeneath(dirfd, path, st, followEnd);
    return static_cast<int>(::syscall(SYS_newfstatat, dirfd, path, st, flags));
}

}  // namespace

#define GUARD_EXPORT extern "C" __attribute__((visibility("default")))

GUARD_EXPORT int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return OpenAny(AT_FDCWD, path, flags, mode);
}

// On 64-bit Linux open64 is open.
GUARD_EXPORT int open64(const char* path, int flags, ...) __attribute__((alias("open")));

GUARD_EXPORT DIR* opendir(const char* path) {
    std::string_view rel = path;
    const int fd = Guarded(AT_FDCWD, path)
                       ? OpenBeneath(StartOf(rel), rel, O_RDONLY)
                       : static_cast<int>(::syscall(SYS_openat, AT_FDCWD, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
    if (fd < 0) return nullptr;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return dir;
}

// On 64-bit Linux "stat" and "stat64" are one layout, the kernel's.
static_assert(sizeof(struct stat) == sizeof(struct stat64));

GUARD_EXPORT int fstatat(int dirfd, const char* path, struct stat* st, int flags) __THROW {
    return FstatatAny(dirfd, path, st, flags);
}
GUARD_EXPORT int fstatat64(int dirfd, const char* path, struct stat64* st, int flags) __THROW {
    return FstatatAny(dirfd, path, reinterpret_cast<struct stat*>(st), flags);
}
GUARD_EXPORT int lstat(const char* path, struct stat* st) __THROW {
    return FstatatAny(AT_FDCWD, path, st, AT_SYMLINK_NOFOLLOW);
}
GUARD_EXPORT int lstat64(const char* path, struct stat64* st) __THROW {
    return FstatatAny(AT_FDCWD, path, reinterpret_cast<struct stat*>(st), AT_SYMLINK_NOFOLLOW);
}
GUARD_EXPORT int stat(const char* path, struct stat* st) __THROW { return FstatatAny(AT_FDCWD, path, st, 0); }
GUARD_EXPORT int stat64(const char* path, struct stat64* st) __THROW {
    return FstatatAny(AT_FDCWD, path, reinterpret_cast<struct stat*>(st), 0);
}

GUARD_EXPORT ssize_t readlink(const char* path, char* buffer, size_t size) __THROW {
    if (!Guarded(AT_FDCWD, path)) return ::readlinkat(AT_FDCWD, path, buffer, size);
    std::string leaf;
    const UniqueFd parent(OpenParent(path, leaf));
    if (!parent) return -1;
    return ::readlinkat(parent.Get(), leaf.c_str(), buffer, size);
}
