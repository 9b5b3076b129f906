#pragma once
// folderlist.dat: the registered folders, one quoted-field line each:
//   "Enabled","Name","SaveFileName","FilterName","FolderPath",
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessarine {

// The list file in the user folder, and its seed in the installation's data
// folder (the seed name has no extension).
inline constexpr std::string_view kFolderListFileName = "folderlist.dat";
inline constexpr std::string_view kFolderListSeedName = "folderlist";

struct RegisteredFolder {
    bool Enabled = false;      // ticked: listed in the main window
    std::string Name;          // display name
    std::string SaveFileName;  // kept and edited, not used for output names
    std::string FilterName;    // filter file name without ".dat"; empty: none
    std::string FolderPath;    // the folder, as the folder dialog returned it
};

// One line read as a record: fields 1-5, missing fields empty, fields past
// the fifth ignored, Enabled exactly when field 1 is "1".
RegisteredFolder ParseRegisteredFolder(std::string_view line);

// The line the writer stores for a record, ending with `",`.
std::string FormatRegisteredFolder(const RegisteredFolder& folder);

// Every line of the file as a record, blank lines included. Raises
// "ファイル %s は開けません" when the file cannot be read.
std::vector<RegisteredFolder> ReadFolderList(const std::string& path);

// Replaces the file with one line per record, each ended by CR LF. Raises
// "ファイル %s を作成できません" when it cannot be written.
void WriteFolderList(const std::string& path, const std::vector<RegisteredFolder>& folders);

// The records of the ticked lines, in file order: the main window's list.
std::vector<RegisteredFolder> EnabledFolders(const std::vector<std::string>& lines);

// The filter name registered for a source path: every line whose FolderPath
// equals the path byte for byte is looked at, ticked or not, and the last
// one decides. nullopt when no line matches.
std::optional<std::string> RegisteredFilterName(const std::vector<std::string>& lines, std::string_view sourcePath);

}  // namespace tessarine
