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
#include "engine/message.h"

namespace tessarine {

struct WorkingFolders {
    std::string ProgramFolder;
    std::string UserFolder;
    std::string DataFolder;
    bool NewUserFolder = false;  // the user folder was made by this start
    // Why the user folder is not used (UserFolderHazard); none when it is.
    // Nothing was created or seeded in a refused folder.
    Message Refusal;

    std::string SettingsPath() const;    // UserFolder + "/set.ini"
    std::string FolderListPath() const;  // UserFolder + "/folderlist.dat"
};

// The file that the installation puts into the program folder it installs.
// A program folder holding it is never written: every user, root included,
// keeps the user folders in the per-user data folder.
inline constexpr const char* kInstalledMarkerName = "installed";
bool IsInstalledProgramFolder(const std::string& programFolder);

// The platform's per-user data folder for the program:
// $XDG_DATA_HOME/tessarine when XDG_DATA_HOME is absolute (a relative one is
// ignored, as the XDG rules say), else ~/.local/share/tessarine.
std::string PerUserDataFolder();

// Why the user folder cannot be trusted with the settings, the registered
// folders and the filters; empty when it can. The folder itself, set.ini,
// folderlist.dat, the "data" folder and every entry in it, and the "tmp"
// folder must each belong to this process's user, be no symbolic link, and
// not be writable by group or others (a folder made 0755 by an earlier
// version is fine). What is missing is fine: it is made by the program. The
// message names the first path found at fault; none when nothing is.
Message UserFolderHazard(const std::string& userFolder);

// Makes sure the user folder and its "data" and "tmp" folders exist, and
// seeds them from the installation's data folder: the file "folderlist"
// becomes folderlist.dat when that is missing, and a new user folder gets a
// copy of every "*.dat" filter. Failures to create or copy are not fatal:
// the steps that need a missing file fail later in their own way. A new user
// folder is made 0700. An existing one that UserFolderHazard refuses is left
// as it is, with the reason in Refusal.
// `fallbackBase` replaces the per-user data folder of the platform (tests).
WorkingFolders PrepareWorkingFolders(const std::string& programFolder, TCommon& common,
                                     const std::string& fallbackBase = {});

// The same folders for a user folder named explicitly (no fallback, no
// "user/<login>" under the program folder).
WorkingFolders PrepareWorkingFoldersAt(const std::string& programFolder, const std::string& userFolder,
                                       TCommon& common);

}  // namespace tessarine
