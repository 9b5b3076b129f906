#pragma once
// Entries that archivers and copies must handle without harm: named pipes,
// devices and sockets, and paths deeper than the kernel takes in one piece.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "engine/unique_fd.h"

namespace testsupport {

// Reports whether anything opened the watched entries since the watch began.
class OpenWatch {
public:
    OpenWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    void Watch(const std::string& path) { ::inotify_add_watch(fd_.Get(), path.c_str(), IN_OPEN); }
    bool AnyOpened() {
        alignas(inotify_event) char buffer[4096];
        return ::read(fd_.Get(), buffer, sizeof buffer) > 0;
    }

private:
    tessarine::UniqueFd fd_;
};

// A named pipe, a device like /dev/zero and a socket in `folder`.
inline void MakeSpecialFiles(const std::string& folder) {
    ASSERT_EQ(::mkfifo((folder + "pipe").c_str(), 0644), 0);
    ASSERT_EQ(::mknod((folder + "zero").c_str(), S_IFCHR | 0644, makedev(1, 5)), 0);
    const tessarine::UniqueFd sock(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = folder + "sock";
    ASSERT_LT(path.size(), sizeof addr.sun_path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(sock.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
}

// Makes `levels` folders of 200 characters below `root` (which may itself
// be deeper than the kernel takes in one path) and returns their path
// relative to `root`, ending in "/".
inline std::string MakeDeepFolders(const std::string& root, int levels) {
    tessarine::UniqueFd at(tessarine::OpenLongPath(AT_FDCWD, root, O_PATH | O_DIRECTORY));
    std::string relative;
    for (int i = 0; i < levels; ++i) {
        const std::string name = std::string(199, 'd') + std::to_string(i % 10);
        ::mkdirat(at.Get(), name.c_str(), 0755);
        at.Reset(::openat(at.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        relative += name + "/";
    }
    return relative;
}

inline void WriteLong(const std::string& path, const std::string& content) {
    const tessarine::UniqueFd fd(tessarine::OpenLongPath(AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC, 0644));
    ASSERT_TRUE(fd.Valid()) << std::strerror(errno);
    ASSERT_EQ(::write(fd.Get(), content.data(), content.size()), static_cast<ssize_t>(content.size()));
}

}  // namespace testsupport
