#include "engine/job_mode.h"

#include <stdexcept>
#include <string>

namespace tessarine {
namespace {

using enum ProductKind;
using enum ProductEntries;

constexpr JobModeInfo kRows[] = {
    {JobMode::kCopy, kCopyFolder, kFoldersAndFiles, ArchiveFormat::kNone, ArchiverLibrary::kNone, false, "",
     " をコピーしますか？", "copy", Verification::kCopyTree},
    {JobMode::kZip, kArchive, kFiles, ArchiveFormat::kZip, ArchiverLibrary::kSevenZip, false, ".zip",
     " をZIP圧縮しますか？", "zip", Verification::kSevenZipTestAndZipNames},
    {JobMode::kZipPassword, kArchive, kFiles, ArchiveFormat::kZip, ArchiverLibrary::kSevenZip, true, ".zip",
     " をZIP圧縮しますか？", "zip-pass", Verification::kSevenZipTestAndZipNames},
    {JobMode::kLha, kArchive, kFiles, ArchiveFormat::kLha, ArchiverLibrary::kLha, false, ".lzh", " をLha圧縮しますか？",
     "lha", Verification::kLhaTest},
    {JobMode::kSevenZip, kArchive, kFiles, ArchiveFormat::kSevenZip, ArchiverLibrary::kSevenZip, false, ".7z",
     " を7-ZIP圧縮しますか？", "7z", Verification::kSevenZipTest},
    {JobMode::kSevenZipPassword, kArchive, kFiles, ArchiveFormat::kSevenZip, ArchiverLibrary::kSevenZip, true, ".7z",
     " を7-ZIP圧縮しますか？", "7z-pass", Verification::kSevenZipTest},
    {JobMode::kFileList, kList, kFiles, ArchiveFormat::kNone, ArchiverLibrary::kNone, false, ".txt",
     " のファイルリストを作成しますか？", "filelist", Verification::kListFile},
    {JobMode::kFolderList, kList, kFolders, ArchiveFormat::kNone, ArchiverLibrary::kNone, false, ".txt",
     " のフォルダリストを作成しますか？", "folderlist", Verification::kListFile},
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
