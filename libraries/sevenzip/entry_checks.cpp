#include "libraries/sevenzip/entry_checks.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "libraries/sevenzip/names.h"
#include "engine/Common.h"
#include "engine/unique_fd.h"

namespace sevenzip {

using tessarine::Message;
using tessarine::MessageId;
using tessarine::UniqueFd;

namespace {

Message Reason(MessageId id) { return tessarine::MakeMessage(id); }
Message SystemReason(int error) { return tessarine::MakeMessage(MessageId::kSystemError, {}, error); }

// The folder that holds the names of PATH_MAX bytes or more being looked
// at: consecutive names of one folder share one look-up of it.
struct DeepParent {
    std::string folder;
    UniqueFd fd;
    int error = 0;
};

// What kind of entry a listed name is, and whether 7zz may be given it.
// Named pipes, devices and sockets are never handed over: reading them
// blocks or never ends. A name of PATH_MAX bytes or more is looked at from
// its folder; only files are taken from there (see AddDeepFiles). No
// message when 7zz may have it, else the reason; `folder` tells whether it
// is a folder.
Message CheckEntry(int baseFd, const std::string& name, uid_t user, DeepParent& parent, bool& folder) {
    folder = false;
    int at = baseFd;
    const char* leaf = name.c_str();
    const bool deep = name.size() >= PATH_MAX;
    if (deep) {
        if (name.size() > kMaxDeepName) return Reason(MessageId::kArchiverNameTooLong);
        const size_t cut = name.rfind('/');
        if (cut == std::string::npos) return SystemReason(ENAMETOOLONG);
        const std::string_view folderName = std::string_view(name).substr(0, cut);
        if ((!parent.fd && parent.error == 0) || parent.folder != folderName) {
            parent.folder = folderName;
            parent.fd.Reset(tessarine::OpenLongPath(baseFd, folderName, O_PATH | O_DIRECTORY));
            parent.error = parent.fd ? 0 : errno;
        }
        if (!parent.fd) return SystemReason(parent.error);
        at = parent.fd.Get();
        leaf = name.c_str() + cut + 1;
    }
    struct stat st {};
    if (::fstatat(at, leaf, &st, AT_SYMLINK_NOFOLLOW) != 0) return SystemReason(errno);
    switch (st.st_mode & S_IFMT) {
        case S_IFREG:
            // The owner's read bit alone decides for the owner (access lists
            // never narrow it), which saves the kernel a second look-up for
            // the user's own files.
            if (st.st_uid == user && (st.st_mode & S_IRUSR)) return {};
            if (::faccessat(at, leaf, R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) return SystemReason(errno);
            return {};
        case S_IFDIR:
            if (deep) return Reason(MessageId::kArchiverFolderDeep);
            folder = true;
            return {};  // folders as they are
        case S_IFLNK:
            if (deep) return Reason(MessageId::kArchiverLinkDeep);
            return {};  // links stored as links
        case S_IFIFO: return Reason(MessageId::kArchiverNamedPipe);
        case S_IFCHR:
        case S_IFBLK: return Reason(MessageId::kArchiverDevice);
        case S_IFSOCK: return Reason(MessageId::kArchiverSocket);
        default: return Reason(MessageId::kArchiverSpecialFile);
    }
}

}  // namespace

CheckedEntries CheckEntries(int baseFd, std::vector<std::string_view> names) {
    // The names 7zz may have stay in the list's own place.
    CheckedEntries checked;
    size_t kept = 0;
    const uid_t user = ::geteuid();
    DeepParent parent;
    std::string path;  // the name being looked at, NUL-terminated for the system
    for (const std::string_view name : names) {
        const std::string_view relative = WithoutLeadingSlashes(name);
        path.assign(relative);
        bool folder = false;
        Message why =
            relative.empty() ? Reason(MessageId::kArchiverNoName) : CheckEntry(baseFd, path, user, parent, folder);
        if (why) {
            checked.leftOut.push_back(tessarine::LeftOutEntry{std::string(name), std::move(why)});
            continue;
        }
        checked.anyFolder = checked.anyFolder || folder;
        if (relative.size() >= PATH_MAX) {
            checked.deep.push_back(name);
            continue;
        }
        names[kept++] = name;
    }
    names.resize(kept);
    checked.given = std::move(names);
    return checked;
}

}  // namespace sevenzip
