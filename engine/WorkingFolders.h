#pragma once
// The program folder and the per-user working folders:
//   ProgramFolder  the executable's folder, ending with "/"
//   UserFolder     ProgramFolder + "user/" + login name (no trailing "/"),
//                  or, for an installed copy or a program folder that cannot
//                  hold it, ~/.local/share/tessarine/user/<login name>
//   DataFolder     UserFolder + "/data", the filter files
// The window program and the command-line program share them.
#include <string>

#include "engine/Common.h"

namespace tessarine {

struct WorkingFolders {
    std::string ProgramFolder;
    std::string UserFolder;
    std::string DataFolder;
    bool NewUserFolder = false;  // the user folder was made by this start

    std::string SettingsPath() const;    // UserFolder + "/set.ini"
    std::string FolderListPath() const;  // UserFolder + "/folderlist.dat"
};

// The folder of the running executable, ending with "/".
std::string ExecutableFolder();

// The file that the installation puts into the program folder it installs.
// A program folder holding it is never written: every user, root included,
// keeps the user folders in the per-user data folder.
inline constexpr const char* kInstalledMarkerName = "installed";
bool IsInstalledProgramFolder(const std::string& programFolder);

// The platform's per-user data folder for the program:
// $XDG_DATA_HOME/tessarine when XDG_DATA_HOME is absolute (a relative one is
// ignored, as the XDG rules say), else ~/.local/share/tessarine.
std::string PerUserDataFolder();

// Makes sure the user folder and its "data" and "tmp" folders exist, and
// seeds them from the installation's data folder: the file "folderlist"
// becomes folderlist.dat when that is missing, and a new user folder gets a
// copy of every "*.dat" filter. Failures to create or copy are not fatal:
// the steps that need a missing file fail later in their own way.
// `fallbackBase` replaces the per-user data folder of the platform (tests).
WorkingFolders PrepareWorkingFolders(const std::string& programFolder, TCommon& common,
                                     const std::string& fallbackBase = {});

// The same folders for a user folder named explicitly (no fallback, no
// "user/<login>" under the program folder).
WorkingFolders PrepareWorkingFoldersAt(const std::string& programFolder, const std::string& userFolder,
                                       TCommon& common);

}  // namespace tessarine
