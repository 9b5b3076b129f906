#include "engine/unique_fd.h"

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

}  // namespace tessarine
