#include "engine/Common.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "engine/unique_fd.h"
#include "engine/wildcard.h"

namespace tessarine {

namespace {
// One record of the getdents64 system call.
struct KernelDirent {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};
}  // namespace

bool ReadFolder(const std::string& folder, const std::function<void(const FolderEntry&)>& visit, int* error) {
    // Any depth: a path longer than PATH_MAX is opened a stretch at a time.
    const UniqueFd folderFd(
        OpenLongPath(AT_FDCWD, folder.empty() ? std::string_view(".") : folder, O_RDONLY | O_DIRECTORY));
    const int fd = folderFd.Get();
    if (fd < 0) {
        if (error) *error = errno;
        return false;
    }
    // The kernel's directory records read straight into a buffer on the
    // stack: one call returns a whole ordinary folder.
    alignas(8) char buffer[32768];
    bool ok = true;
    while (true) {
        const long got = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            ok = false;
            if (error) *error = errno;
            break;
        }
        for (long at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const KernelDirent*>(buffer + at);
            at += entry->d_reclen;
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                // Some file systems do not report the type in the listing.
                struct stat st {};
                isFolder = ::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
            }
            visit(FolderEntry{std::string_view(entry->d_name), isFolder});
        }
    }
    return ok;
}

std::string FindProgramOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (!folders.empty()) {
        const size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        folders = colon == std::string_view::npos ? std::string_view{} : folders.substr(colon + 1);
        if (folder.empty() || folder.front() != kPathSeparator) continue;
        const std::string candidate = std::string(folder) + kPathSeparator + name;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

std::string WithTrailingSeparator(std::string path) {
    if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
    return path;
}

bool TCommon::ListNames(const std::string& folder, const std::string& pattern, std::vector<std::string>& list) const {
    list.clear();
    return ReadFolder(folder, [&](const FolderEntry& e) {
        if (MatchesWildcard(e.name, pattern)) list.emplace_back(e.name);
    });
}

bool TCommon::ListFiles(const std::string& folder, const std::string& pattern, bool includeHidden,
                        std::vector<std::string>& list) const {
    list.clear();
    return ReadFolder(folder, [&](const FolderEntry& e) {
        if (e.isFolder || IsDotOrDotDot(e.name)) return;
        if (!includeHidden && IsHiddenName(e.name)) return;
        if (!MatchesWildcard(e.name, pattern)) return;
        std::string path;
        path.reserve(folder.size() + e.name.size());
        path.append(folder).append(e.name);
        list.push_back(std::move(path));
    });
}

bool TCommon::ListSubfolders(const std::string& folder, bool includeHidden, std::vector<std::string>& list) const {
    list.clear();
    return ReadFolder(folder, [&](const FolderEntry& e) {
        if (!e.isFolder || IsDotOrDotDot(e.name)) return;
        if (!includeHidden && IsHiddenName(e.name)) return;
        std::string path;
        path.reserve(folder.size() + e.name.size() + 1);
        path.append(folder).append(e.name).push_back(kPathSeparator);
        list.push_back(std::move(path));
    });
}

bool FolderExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int TCommon::EnsureFolder(const std::string& path) const {
    if (FolderExists(path)) return 0;
    ::mkdir(path.c_str(), 0777);
    return 1;
}

bool TCommon::EnsureUserFolder(const std::string& base, std::string& folder) {
    std::vector<char> buffer(16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        UserName = found->pw_name;
    }
    const std::string path = base + UserName;
    bool created = false;
    if (!FolderExists(path)) {
        // Only its user reads or writes the user folder.
        ::mkdir(path.c_str(), 0700);
        created = true;
    }
    folder = path;
    return created;
}

bool WaitForChild(pid_t pid, int& status) {
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

std::string ExecutableFolder() {
    std::string buffer(4096, '\0');
    const ssize_t len = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (len <= 0) return "./";
    buffer.resize(static_cast<size_t>(len));
    return buffer.substr(0, buffer.rfind(kPathSeparator) + 1);
}

}  // namespace tessarine
