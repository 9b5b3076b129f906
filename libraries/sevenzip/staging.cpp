#include "libraries/sevenzip/staging.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "libraries/plain_reason.h"
#include "engine/Common.h"
#include "engine/unique_fd.h"

namespace sevenzip {

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::string cwd(PATH_MAX, '\0');
    if (!::getcwd(cwd.data(), cwd.size())) return path;
    cwd.resize(std::strlen(cwd.c_str()));
    if (cwd.back() != '/') cwd.push_back('/');
    return cwd + path;
}

TempFolder::TempFolder(const std::string& archive) {
    const size_t slash = archive.rfind('/');
    std::string pattern = archive.substr(0, slash + 1) + ".tessarine-XXXXXX";
    if (::mkdtemp(pattern.data()))
        path_ = pattern;
    else
        error_ = errno;
}

TempFolder::~TempFolder() {
    if (path_.empty()) return;
    tessarine::UniqueFd folder(::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
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

std::string PlaceArchive(const std::string& partial, const std::string& archive) {
    struct stat st {};
    if (::lstat(partial.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "7zz made no archive";
    if (::rename(partial.c_str(), archive.c_str()) != 0)
        return "cannot put the archive in place: " + archivers::PlainReason(errno);
    return {};
}

}  // namespace sevenzip
