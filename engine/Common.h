#pragma once
// Folder utilities: listing one folder and making sure a folder exists.
// Used by the job engine, the main window and the filter dialogs.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessarine {

// The platform's path separator; folder paths that are to be extended end
// with it.
inline constexpr char kPathSeparator = '/';

// A name is hidden when it begins with "." (the platform's convention).
inline bool IsHiddenName(std::string_view name) { return !name.empty() && name.front() == '.'; }

// The folder's own entry "." and its parent's "..", which a listing returns
// but a walk skips.
inline bool IsDotOrDotDot(std::string_view name) { return name == "." || name == ".."; }

// One entry of a folder. A link is never a folder here, whatever it points
// to, so walks never follow one (no cycles, no escape from the tree).
struct FolderEntry {
    std::string_view name;
    bool isFolder;
};

// Calls `visit` for every entry of the folder in the order the file system
// returns them, "." and ".." included. The folder's path may be longer than
// PATH_MAX. False, with the errno in `error`, when the folder cannot be
// read; entries seen before a read error were visited.
bool ReadFolder(const std::string& folder, const std::function<void(const FolderEntry&)>& visit, int* error = nullptr);

// Adds "/" when the text does not end with it.
std::string WithTrailingSeparator(std::string path);

class TCommon {
public:
    // The login name of the effective user, as last read by EnsureUserFolder.
    std::string UserName;

    // The bare names of all entries of the folder matching the pattern;
    // nothing is dropped ("." and ".." included when they match).
    bool ListNames(const std::string& folder, const std::string& pattern, std::vector<std::string>& list) const;

    // folder + name for every non-folder entry matching the pattern that the
    // hidden rule keeps. The folder must end with the separator.
    bool ListFiles(const std::string& folder, const std::string& pattern, bool includeHidden,
                   std::vector<std::string>& list) const;

    // folder + name + separator for every immediate subfolder that the hidden
    // rule keeps. The folder must end with the separator.
    bool ListSubfolders(const std::string& folder, bool includeHidden, std::vector<std::string>& list) const;

    // 1 when no folder existed at the path (it is created, the outcome is not
    // checked), 0 when one existed.
    int EnsureFolder(const std::string& path) const;

    // Reads the user's login name into UserName; `folder` := base + UserName,
    // created when missing. True when it had to be created.
    bool EnsureUserFolder(const std::string& base, std::string& folder);
};

// The first absolute folder of the executable search path (PATH; a usual
// one when it is unset or empty) holding an executable regular file `name`;
// empty when none does. Relative and empty entries are skipped: they name
// folders relative to wherever the caller happens to be, which for a child
// process started in a source folder could hold a program of that name.
std::string FindProgramOnPath(const std::string& name);

// Waits until the child process ends, going on after interrupting signals:
// its wait status in `status`, which stays as it was when the wait fails
// (false then).
bool WaitForChild(pid_t pid, int& status);

// True when a folder (not a file, following links) exists at the path.
bool FolderExists(const std::string& path);
// True when a file that is not a folder exists at the path.
bool FileExists(const std::string& path);

// The folder of the running executable, ending with "/".
std::string ExecutableFolder();

}  // namespace tessarine
