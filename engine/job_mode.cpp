#include "engine/job_mode.h"

#include <stdexcept>
#include <string>

namespace tessarine {
namespace {

using enum ProductKind;
using enum ProductEntries;

constexpr JobModeInfo kRows[] = {
    {JobMode::kCopy, kCopyFolder, kFoldersAndFiles, ArchiveFormat::kNone, ArchiverLibrary::kNone, false, "",
     MessageId::kConfirmCopy, "copy", Verification::kCopyTree},
    {JobMode::kZip, kArchive, kFiles, ArchiveFormat::kZip, ArchiverLibrary::kSevenZip, false, ".zip",
     MessageId::kConfirmZip, "zip", Verification::kSevenZipTestAndZipNames},
    {JobMode::kZipPassword, kArchive, kFiles, ArchiveFormat::kZip, ArchiverLibrary::kSevenZip, true, ".zip",
     MessageId::kConfirmZip, "zip-pass", Verification::kSevenZipTestAndZipNames},
    {JobMode::kLha, kArchive, kFiles, ArchiveFormat::kLha, ArchiverLibrary::kLha, false, ".lzh", MessageId::kConfirmLha,
     "lha", Verification::kLhaTest},
    {JobMode::kSevenZip, kArchive, kFiles, ArchiveFormat::kSevenZip, ArchiverLibrary::kSevenZip, false, ".7z",
     MessageId::kConfirmSevenZip, "7z", Verification::kSevenZipTest},
    {JobMode::kSevenZipPassword, kArchive, kFiles, ArchiveFormat::kSevenZip, ArchiverLibrary::kSevenZip, true, ".7z",
     MessageId::kConfirmSevenZip, "7z-pass", Verification::kSevenZipTest},
    {JobMode::kFileList, kList, kFiles, ArchiveFormat::kNone, ArchiverLibrary::kNone, false, ".txt",
     MessageId::kConfirmFileList, "filelist", Verification::kListFile},
    {JobMode::kFolderList, kList, kFolders, ArchiveFormat::kNone, ArchiverLibrary::kNone, false, ".txt",
     MessageId::kConfirmFolderList, "folderlist", Verification::kListFile},
};

}  // namespace

std::span<const JobModeInfo> JobModes() { return kRows; }

const JobModeInfo* FindJobMode(JobMode mode) {
    for (const JobModeInfo& row : kRows) {
        if (row.mode == mode) return &row;
    }
    return nullptr;
}

const JobModeInfo* FindJobMode(int32_t number) { return FindJobMode(JobModeOfNumber(number)); }

const JobModeInfo* FindJobModeByName(std::string_view name) {
    for (const JobModeInfo& row : kRows) {
        if (row.commandLineName == name) return &row;
    }
    return nullptr;
}

const JobModeInfo& JobModeRow(JobMode mode) {
    if (const JobModeInfo* row = FindJobMode(mode)) return *row;
    throw std::invalid_argument("unknown job mode " + std::to_string(NumberOf(mode)));
}

}  // namespace tessarine
