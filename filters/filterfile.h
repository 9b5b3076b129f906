#pragma once
// Filter files: DataFolder + "/" + name + ".dat", a constant date-filter row
// followed by one extension row per entry:
//   "2","0","日付フィルタ","0","0"
//   "1","Enabled","SettingName","Extension",
#include <string>
#include <string_view>
#include <vector>

#include "engine/message.h"

namespace tessarine {

class TCommon;

// The first line of every filter file the editor writes; readers skip it
// like every row whose kind is not "1".
inline constexpr std::string_view kDateFilterRow = "\"2\",\"0\",\"日付フィルタ\",\"0\",\"0\"";
inline constexpr std::string_view kFilterPattern = "*.dat";

struct ExtensionRow {
    bool Enabled = true;
    std::string SettingName;
    std::string Extension;  // without the leading dot
};

// The filter name of a file name: the name without its last dot and what
// follows ("a.b.dat" gives "a.b", ".dat" gives "").
std::string FilterNameOf(std::string_view fileName);

// The file of a filter name: dataFolder + "/" + name + ".dat" when that file
// exists or no entry of the folder is name + ".dat" in another letter case
// (such as "Foo.DAT", which the listing also gives as "Foo"); that entry
// otherwise.
std::string FilterFilePath(const std::string& dataFolder, std::string_view name);

// The names of the entries of the data folder matching "*.dat", each without
// its extension, in the order the file system lists them. False when the
// folder cannot be read.
bool ListFilterNames(const TCommon& common, const std::string& dataFolder, std::vector<std::string>& names);

// One line as an extension row when its kind (field 1) is exactly "1".
bool ParseExtensionRow(std::string_view line, ExtensionRow& row);

// The line the writer stores for a row, ending with `",`.
std::string FormatExtensionRow(const ExtensionRow& row);

// The extension rows of a filter file in file order; other rows skipped.
// Raises "ファイル %s は開けません" when the file cannot be read.
std::vector<ExtensionRow> ReadFilterRows(const std::string& path);

// Replaces the file with the date-filter row and one line per row, each
// ended by CR LF. Raises "ファイル %s を作成できません" on failure.
void WriteFilterRows(const std::string& path, const std::vector<ExtensionRow>& rows);

// Creates a new, empty filter file. False when a file of that name exists
// already (nothing is touched then); raises "ファイル %s を作成できません"
// when it cannot be created.
bool CreateFilterFile(const std::string& path);

// Why a name typed for a new filter cannot be used, or none when it can:
// an empty name would make the file ".dat", which lists like "no filter",
// and a name with "/" would point outside the data folder.
Message CheckNewFilterName(std::string_view name);

}  // namespace tessarine
