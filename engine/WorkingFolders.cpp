#include "engine/WorkingFolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "engine/FileOperation.h"
#include "filters/filterfile.h"
#include "folders/folderlist.h"
#include "settings/ini_rw.h"

namespace tessarine {

namespace {

// The user folder's own folders and the seed files.
void PrepareInside(WorkingFolders& folders, TCommon& common) {
    common.EnsureFolder(folders.UserFolder + kPathSeparator + "data");
    common.EnsureFolder(folders.UserFolder + kPathSeparator + "tmp");
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

std::string ExecutableFolder() {
    std::string buffer(4096, '\0');
    const ssize_t len = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (len <= 0) return "./";
    buffer.resize(static_cast<size_t>(len));
    return buffer.substr(0, buffer.rfind(kPathSeparator) + 1);
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
    PrepareInside(folders, common);
    return folders;
}

WorkingFolders PrepareWorkingFoldersAt(const std::string& programFolder, const std::string& userFolder,
                                       TCommon& common) {
    WorkingFolders folders;
    folders.ProgramFolder = WithTrailingSeparator(programFolder);
    folders.UserFolder = userFolder;
    while (folders.UserFolder.size() > 1 && folders.UserFolder.back() == kPathSeparator) folders.UserFolder.pop_back();
    if (!FolderExists(folders.UserFolder)) {
        TFileOperation maker;
        maker.MakeFolder(folders.UserFolder);
        folders.NewUserFolder = true;
    }
    PrepareInside(folders, common);
    return folders;
}

}  // namespace tessarine
