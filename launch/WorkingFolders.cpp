#include "launch/WorkingFolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "engine/errors.h"
#include "engine/unique_fd.h"

#include "engine/FileOperation.h"
#include "filters/filterfile.h"
#include "folders/folderlist.h"
#include "settings/ini_rw.h"

namespace tessarine {

namespace {

// Why one entry of the user folder cannot be trusted; none when it can.
Message EntryHazard(const std::string& path, const struct stat& st) {
    if (S_ISLNK(st.st_mode)) return MakeMessage(MessageId::kUserFolderIsLink, {path});
    if (st.st_uid != ::geteuid()) return MakeMessage(MessageId::kUserFolderOwnedByOther, {path});
    if (st.st_mode & (S_IWGRP | S_IWOTH)) return MakeMessage(MessageId::kUserFolderWritableByOthers, {path});
    return {};
}

// The same for a path; a missing one is fine.
Message PathHazard(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return {};
    return EntryHazard(path, st);
}

// The user folder's own folders (0700, as the folder itself) and the seed
// files.
void PrepareInside(WorkingFolders& folders, TCommon& common) {
    for (const char* name : {"data", "tmp"}) {
        const std::string path = folders.UserFolder + kPathSeparator + name;
        if (!FolderExists(path)) ::mkdir(path.c_str(), 0700);
    }
    folders.DataFolder = folders.UserFolder + kPathSeparator + "data";

    const std::string seedFolder = folders.ProgramFolder + "data";
    TFileOperation copier;
    const std::string seedList = seedFolder + kPathSeparator + std::string(kFolderListSeedName);
    if (!FileExists(folders.FolderListPath()) && FileExists(seedList)) {
        copier.CopyOneFile(seedList, folders.FolderListPath());
    }
    if (folders.NewUserFolder) {
        std::vector<std::string> names;
        common.ListNames(seedFolder, std::string(kFilterPattern), names);
        for (const auto& name : names) {
            const std::string from = seedFolder + kPathSeparator + name;
            if (FileExists(from)) copier.CopyOneFile(from, folders.DataFolder + kPathSeparator + name);
        }
    }
}

}  // namespace

std::string WorkingFolders::SettingsPath() const {
    return UserFolder + kPathSeparator + std::string(kSettingsFileName);
}
std::string WorkingFolders::FolderListPath() const {
    return UserFolder + kPathSeparator + std::string(kFolderListFileName);
}

std::string PerUserDataFolder() {
    // The XDG rules: XDG_DATA_HOME counts only when it is an absolute path;
    // otherwise ~/.local/share. Without an absolute HOME the home folder of
    // the account (user database) is used, not the current folder.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return std::string(data) + "/tessarine";
    std::string home;
    if (const char* value = std::getenv("HOME"); value && value[0] == '/') home = value;
    if (home.empty()) {
        if (const passwd* account = ::getpwuid(::geteuid()); account && account->pw_dir) home = account->pw_dir;
    }
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (home == "/") home.clear();
    return home + "/.local/share/tessarine";
}

Message UserFolderHazard(const std::string& userFolder) {
    const std::string base = userFolder + kPathSeparator;
    for (const std::string& path : {userFolder, base + std::string(kSettingsFileName),
                                    base + std::string(kFolderListFileName), base + "data", base + "tmp"}) {
        if (Message hazard = PathHazard(path)) return hazard;
    }
    // The filters: read relative to the data folder checked above, which
    // is opened without following a link.
    const std::string data = base + "data";
    UniqueFd fd(::open(data.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) return {};
    DIR* dir = ::fdopendir(fd.Get());
    if (!dir) return {};
    fd.Release();
    Message hazard;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        hazard = EntryHazard(data + kPathSeparator + name, st);
        if (hazard) break;
    }
    ::closedir(dir);
    return hazard;
}

bool IsInstalledProgramFolder(const std::string& programFolder) {
    return FileExists(WithTrailingSeparator(programFolder) + kInstalledMarkerName);
}

WorkingFolders PrepareWorkingFolders(const std::string& programFolder, TCommon& common,
                                     const std::string& fallbackBase) {
    WorkingFolders folders;
    folders.ProgramFolder = WithTrailingSeparator(programFolder);
    // An installed program folder is never written, whoever runs the
    // program (root can write it, but its data belongs in its own home).
    if (!IsInstalledProgramFolder(folders.ProgramFolder)) {
        if (common.EnsureFolder(folders.ProgramFolder + "user") == 1) folders.NewUserFolder = true;
        if (common.EnsureUserFolder(folders.ProgramFolder + "user" + kPathSeparator, folders.UserFolder)) {
            folders.NewUserFolder = true;
        }
    }
    if (folders.UserFolder.empty() || !FolderExists(folders.UserFolder)) {
        // An installed copy, or a program folder that is not writable: the
        // platform's per-user data folder takes the user folders.
        const std::string base = fallbackBase.empty() ? PerUserDataFolder() : fallbackBase;
        TFileOperation maker;
        maker.MakeFolder(base + "/user/");
        folders.NewUserFolder = common.EnsureUserFolder(base + "/user/", folders.UserFolder);
    }
    folders.Refusal = UserFolderHazard(folders.UserFolder);
    if (!folders.Refusal) PrepareInside(folders, common);
    return folders;
}

WorkingFolders PrepareWorkingFoldersAt(const std::string& programFolder, const std::string& userFolder,
                                       TCommon& common) {
    WorkingFolders folders;
    folders.ProgramFolder = WithTrailingSeparator(programFolder);
    folders.UserFolder = userFolder;
    while (folders.UserFolder.size() > 1 && folders.UserFolder.back() == kPathSeparator) folders.UserFolder.pop_back();
    struct stat st {};
    if (::lstat(folders.UserFolder.c_str(), &st) != 0) {
        TFileOperation maker;
        maker.MakeFolder(folders.UserFolder);
        ::chmod(folders.UserFolder.c_str(), 0700);
        folders.NewUserFolder = true;
    }
    folders.Refusal = UserFolderHazard(folders.UserFolder);
    if (!folders.Refusal) PrepareInside(folders, common);
    return folders;
}

}  // namespace tessarine
