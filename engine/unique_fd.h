#pragma once
// File descriptors that close themselves, and opening paths of any length.
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <string_view>
#include <utility>

namespace tessarine {

// Owns one file descriptor and closes it when it goes out of scope.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    explicit operator bool() const { return Valid(); }
    // Gives up ownership without closing.
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now and tells whether the close succeeded (a write may only
    // report its failure here).
    bool Close() {
        const int fd = Release();
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_ = -1;
};

// Reads until `size` bytes, the end of the file or a read error, going on
// after an interrupting signal: the bytes read, or -1 with errno set on an
// error. ReadFullAt reads at `offset` and leaves the file position alone.
ssize_t ReadFull(int fd, void* data, size_t size);
ssize_t ReadFullAt(int fd, void* data, size_t size, off_t offset);

// Writes all `size` bytes, going on after short writes and interrupting
// signals; false, with errno set, on a write error. WriteFullAt writes at
// `offset` and leaves the file position alone.
bool WriteFull(int fd, const void* data, size_t size);
bool WriteFullAt(int fd, const void* data, size_t size, off_t offset);

// openat() for a path of any length. The kernel takes at most PATH_MAX bytes
// in one path argument; a longer path is opened a stretch at a time, each
// stretch relative to the folder the one before it opened (links in the
// leading stretches are followed as the kernel would follow them; `flags`
// apply to the last stretch only). Returns -1 with errno set on failure,
// ENAMETOOLONG where a single name is longer than PATH_MAX.
int OpenLongPath(int dirfd, std::string_view path, int flags, mode_t mode = 0);

// Opens the folder at `rel` (relative, any length, a trailing separator
// allowed, empty for `rootfd` itself) beneath `rootfd` without following any
// link on the way or at its end and without leaving `rootfd`. `flags` are
// open flags (O_PATH or O_RDONLY); O_DIRECTORY is implied. Returns -1 with
// errno set on failure (ELOOP or ENOTDIR where a link stands).
int OpenBeneath(int rootfd, std::string_view rel, int flags);
// The same, one component at a time with O_NOFOLLOW, for kernels without
// openat2; OpenBeneath falls back to it by itself.
int OpenBeneathByComponents(int rootfd, std::string_view rel, int flags);

}  // namespace tessarine
