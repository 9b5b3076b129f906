#pragma once
// What a job does, and everything that follows from it: one row per mode.
// Code that needs to know whether a mode makes an archive, which library
// makes it, what its product is called or how it is read back asks this
// table rather than comparing mode numbers.
#include <cstdint>
#include <span>
#include <string_view>

#include "engine/message.h"

namespace tessarine {

// The numbers are the ones set.ini's Mode key and the command line carry.
// A value read from outside may hold a number no row has (a hand-edited
// set.ini); FindJobMode answers nullptr for it.
enum class JobMode : int32_t {
    kCopy = 0,
    kZip = 1,
    kZipPassword = 2,
    kLha = 3,
    kSevenZip = 4,
    kSevenZipPassword = 5,
    kFileList = 11,
    kFolderList = 12,
};

// What the job leaves in the destination.
enum class ProductKind { kCopyFolder, kArchive, kList };

// What the product is made of: a copy holds the whole tree, an archive and
// a file list the collected files, a folder list the folders (its job does
// not collect files at all).
enum class ProductEntries { kFoldersAndFiles, kFiles, kFolders };

enum class ArchiveFormat { kNone, kZip, kSevenZip, kLha };

// The archiver library that makes the product.
enum class ArchiverLibrary { kNone, kSevenZip, kLha };

// How a product is read back when the job is to verify it.
enum class Verification {
    kCopyTree,                 // the copy against the source, entry by entry
    kSevenZipTest,             // 7-Zip tests the archive (with the job's password)
    kSevenZipTestAndZipNames,  // the same, then the names in the ZIP directory
    kLhaTest,                  // every LHA member's header and CRC
    kListFile,                 // the list file against the collected entries
};

struct JobModeInfo {
    JobMode mode;
    ProductKind kind;
    ProductEntries entries;
    ArchiveFormat format;
    ArchiverLibrary library;
    bool password;                     // the user is asked for one
    std::string_view extension;        // of the product, empty for a copy folder
    MessageId question;                // the confirmation, with the display path
    std::string_view commandLineName;  // tessarine-cli --mode
    Verification verification;
};

// Every mode, in the order of their numbers.
std::span<const JobModeInfo> JobModes();

// The row of a mode; nullptr for a number no mode has.
const JobModeInfo* FindJobMode(JobMode mode);
const JobModeInfo* FindJobMode(int32_t number);
// The row of a tessarine-cli --mode name; nullptr for an unknown name.
const JobModeInfo* FindJobModeByName(std::string_view name);

// The number a mode is stored as, and the mode a stored number names
// (kept as it is when no mode has it, so that it can still be named).
constexpr int32_t NumberOf(JobMode mode) { return static_cast<int32_t>(mode); }
constexpr JobMode JobModeOfNumber(int32_t number) { return static_cast<JobMode>(number); }

// The row of a mode that must be known; raises std::invalid_argument for a
// number no mode has.
const JobModeInfo& JobModeRow(JobMode mode);

}  // namespace tessarine
