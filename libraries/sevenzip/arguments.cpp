#include "libraries/sevenzip/arguments.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "libraries/name_set.h"
#include "libraries/sevenzip/names.h"
#include "engine/Common.h"
#include "engine/unique_fd.h"

namespace sevenzip {

using archivers::NameSet;
using tessarine::ArchiveType;
using tessarine::UniqueFd;

const char* TypeName(ArchiveType type) { return type == ArchiveType::kZip ? "zip" : "7z"; }

std::vector<std::string> SevenZipArguments(const char* command, const tessarine::ArchiveRequest& request,
                                           const std::string& partial) {
    std::vector<std::string> args{"7zz", command};
    if (std::string_view(command) == "a") args.push_back(std::string("-t") + TypeName(request.type));
    args.push_back("-spd");
    if (std::string_view(command) == "a") args.push_back("-snl");
    args.insert(args.end(), {"-bd", "-sccUTF-8"});
    // A ZIP's own time is DOS time, in steps of 2 seconds (7-Zip rounds an
    // odd second up). Unix time precision makes 7-Zip write the extended
    // time field (0x5455) instead of its NTFS times, which Info-ZIP's unzip
    // reads on Unix, so that files come back with their own second.
    if (request.type == ArchiveType::kZip) args.push_back("-mtp=1");
    if (request.password) {
        // 7z archives also hide the names; ZIP keeps 7-Zip's default
        // encryption, which the desktops' own ZIP support opens.
        if (request.type == ArchiveType::kSevenZip) args.push_back("-mhe=on");
        args.push_back("-p");
    }
    args.push_back("--");
    args.push_back(partial);
    return args;
}

std::string PasswordInput(const tessarine::ArchiveRequest& request) {
    // Unread lines do no harm.
    return request.password ? *request.password + "\n" + *request.password + "\n" : std::string();
}

size_t ArgumentCost(std::string_view s) { return s.size() + 1 + sizeof(char*); }

// The kernel's limit less the environment, the fixed arguments and a safety
// margin.
size_t NameBudget(const std::vector<std::string>& fixedArgs, const std::vector<std::string>& env) {
    long limit = ::sysconf(_SC_ARG_MAX);
    if (limit <= 0) limit = 128 * 1024;
    size_t used = 16 * 1024;
    for (const auto& a : fixedArgs) used += ArgumentCost(a);
    for (const auto& e : env) used += ArgumentCost(e);
    const size_t total = static_cast<size_t>(limit);
    return total > used + 4096 ? total - used : 4096;
}

namespace {

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

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

}  // namespace

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

namespace {

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

}  // namespace

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

}  // namespace sevenzip
