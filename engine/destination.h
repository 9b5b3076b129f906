#pragma once
// What a job's destination can hold, looked at once the entries are
// collected and before anything is written: its free space against what a
// copy needs, names and file sizes its file system refuses, and the size
// limit of an LHA archive. What cannot be held is taken out of the job's
// lists and named before the job starts, never discovered half way.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/JobHost.h"
#include "engine/path_list.h"

namespace tessarine {

// The file-system type of the folder at `path` (or of its nearest existing
// parent): "vfat", "exfat", "ntfs", "cifs" for the kinds that limit what a
// copy can hold, looked through FUSE mounts (fusefat, exfat-fuse, ntfs-3g);
// the mount table's type for any other ("ext4", "tmpfs"); empty when it
// cannot be told.
std::string FileSystemOf(const std::string& path);

// True where the file system refuses the Windows-reserved characters
// "*:<>?\| and control characters in names, and names ending in a dot or
// a blank (FAT, exFAT, NTFS, SMB shares).
bool RefusesWindowsNames(std::string_view fileSystem);
// True where a file may be at most 4 GiB - 1 bytes long (FAT).
bool HoldsOnlySmallFiles(std::string_view fileSystem);
// The name is one such a file system refuses.
bool IsWindowsRefusedName(std::string_view name);

struct PreflightResult {
    std::string destination;  // the folder the product is made in
    std::string fileSystem;   // as FileSystemOf
    bool spaceChecked = false;
    uint64_t needed = 0;           // bytes a copy takes there, rounded up to whole blocks
    uint64_t available = 0;        // bytes free for the user there
    std::vector<Problem> leftOut;  // entries taken out of the lists, each with its reason (source paths)
    bool ShortOfSpace() const { return spaceChecked && needed > available; }
};

// Looks at the destination of `request` and takes out of `folders` and
// `files` what it cannot hold (for a folder, everything beneath it too).
// The sizes are read (one lstat per file, on worker threads) only where a
// check needs them: for a copy and for an LHA archive.
PreflightResult Preflight(const JobRequest& request, std::vector<std::string>& folders, PathList& files);

// "Not enough space" with both figures and the destination, for the job's
// failure message.
Message NotEnoughSpaceText(const PreflightResult& result);

}  // namespace tessarine
