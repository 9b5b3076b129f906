#include "filters/filterfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "engine/Common.h"
#include "engine/datafile.h"
#include "engine/errors.h"
#include "engine/text_process.h"
#include "engine/unique_fd.h"
#include "engine/wildcard.h"

namespace tessarine {

std::string FilterNameOf(std::string_view fileName) {
    const size_t dot = fileName.rfind('.');
    return std::string(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
}

std::string FilterFilePath(const std::string& dataFolder, std::string_view name) {
    std::string path = dataFolder;
    path += kPathSeparator;
    path += name;
    path += ".dat";
    // The listing matches "*.dat" without regard to letter case, so a name
    // may come from "Foo.DAT". The file spelled exactly wins; otherwise the
    // entry that the listing would have given this name is taken.
    if (FileExists(path)) return path;
    std::string found;
    ReadFolder(dataFolder, [&](const FolderEntry& entry) {
        if (!found.empty() || entry.isFolder || entry.name.size() != name.size() + 4) return;
        if (entry.name.substr(0, name.size()) != name) return;
        if (!MatchesWildcard(entry.name.substr(name.size()), ".dat")) return;
        found = dataFolder + kPathSeparator + std::string(entry.name);
    });
    return found.empty() ? path : found;
}

bool ListFilterNames(const TCommon& common, const std::string& dataFolder, std::vector<std::string>& names) {
    std::vector<std::string> files;
    const bool ok = common.ListNames(dataFolder, std::string(kFilterPattern), files);
    names.clear();
    for (const auto& file : files) names.push_back(FilterNameOf(file));
    return ok;
}

bool ParseExtensionRow(std::string_view line, ExtensionRow& row) {
    if (ReadField(1, line) != "1") return false;
    row.Enabled = ReadField(2, line) == "1";
    row.SettingName = ReadField(3, line);
    row.Extension = ReadField(4, line);
    return true;
}

std::string FormatExtensionRow(const ExtensionRow& row) {
    std::string line = "\"1\",\"";
    line += row.Enabled ? "1" : "0";
    line += "\",\"";
    line += row.SettingName;
    line += "\",\"";
    line += row.Extension;
    line += "\",";
    return line;
}

std::vector<ExtensionRow> ReadFilterRows(const std::string& path) {
    std::vector<ExtensionRow> rows;
    for (const auto& line : ReadDataLines(path)) {
        ExtensionRow row;
        if (ParseExtensionRow(line, row)) rows.push_back(std::move(row));
    }
    return rows;
}

void WriteFilterRows(const std::string& path, const std::vector<ExtensionRow>& rows) {
    std::vector<std::string> lines;
    lines.reserve(rows.size() + 1);
    lines.emplace_back(kDateFilterRow);
    for (const auto& row : rows) lines.push_back(FormatExtensionRow(row));
    WriteLinesAtomically(path, lines);
}

bool CreateFilterFile(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!fd) {
        if (errno == EEXIST) return false;
        throw CannotCreateFile(path);
    }
    return true;
}

Message CheckNewFilterName(std::string_view name) {
    if (TrimBlanks(name).empty()) return MakeMessage(MessageId::kFilterNameEmpty);
    if (name.find(kPathSeparator) != std::string_view::npos) return MakeMessage(MessageId::kFilterNameHasSeparator);
    return {};
}

}  // namespace tessarine
