#include "engine/WorkingFolders.h"

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "engine/FileOperation.h"

namespace tessarine {

namespace {

const char* const kSettingsName = "set.ini";
const char* const kFolderListName = "folderlist.dat";
const char* const kFolderListSeed = "folderlist";

// The user folder's own folders and the seed files.
void PrepareInside(WorkingFolders& folders, TCommon& common) {
    common.EnsureFolder(folders.UserFolder + kPathSeparator + "data");
    common.EnsureFolder(folders.UserFolder + kPathSeparator + "tmp");
    folders.DataFolder = folders.UserFolder + kPathSeparator + "data";

    const std::string seedFolder = folders.ProgramFolder + "data";
    TFileOperation copier;
    const std::string seedList = seedFolder + kPathSeparator + kFolderListSeed;
    if (!FileExists(folders.FolderListPath()) && FileExists(seedList)) {
        copier.CopyOneFile(seedList, folders.FolderListPath());
    }
    if (folders.NewUserFolder) {
        std::vector<std::string> names;
        common.ListNames(seedFolder, "*.dat", names);
        for (const auto& name : names) {
            const std::string from = seedFolder + kPathSeparator + name;
            if (FileExists(from)) copier.CopyOneFile(from, folders.DataFolder + kPathSeparator + name);
        }
    }
}

}  // namespace

std::string WorkingFolders::SettingsPath() const { return UserFolder + kPathSeparator + kSettingsName; }
std::string WorkingFolders::FolderListPath() const { return UserFolder + kPathSeparator + kFolderListName; }

std::string ExecutableFolder() {
    std::string buffer(4096, '\0');
    const ssize_t len = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (len <= 0) return "./";
    buffer.resize(static_cast<size_t>(len));
    return buffer.substr(0, buffer.rfind(kPathSeparator) + 1);
}

WorkingFolders PrepareWorkingFolders(const std::string& programFolder, TCommon& common,
                                     const std::string& fallbackBase) {
    WorkingFolders folders;
    folders.ProgramFolder = WithTrailingSeparator(programFolder);
    if (common.EnsureFolder(folders.ProgramFolder + "user") == 1) folders.NewUserFolder = true;
    if (common.EnsureUserFolder(folders.ProgramFolder + "user" + kPathSeparator, folders.UserFolder)) {
        folders.NewUserFolder = true;
    }
    if (!FolderExists(folders.UserFolder)) {
        // The program folder is not writable (an installed copy): the
        // platform's per-user data folder takes the user folders.
        std::string base = fallbackBase;
        if (base.empty()) {
            const char* data = std::getenv("XDG_DATA_HOME");
            const char* home = std::getenv("HOME");
            base = data && *data ? std::string(data) + "/tessarine"
                                 : std::string(home ? home : "") + "/.local/share/tessarine";
        }
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
