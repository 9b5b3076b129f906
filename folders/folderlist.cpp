#include "folders/folderlist.h"

#include "engine/datafile.h"
#include "engine/text_process.h"

namespace tessarine {

namespace {
std::string Quoted(std::string_view value) {
    std::string field;
    field.reserve(value.size() + 3);
    field += '"';
    field += value;
    field += "\",";
    return field;
}
}  // namespace

RegisteredFolder ParseRegisteredFolder(std::string_view line) {
    RegisteredFolder folder;
    folder.Enabled = ReadField(1, line) == "1";
    folder.Name = ReadField(2, line);
    folder.SaveFileName = ReadField(3, line);
    folder.FilterName = ReadField(4, line);
    folder.FolderPath = ReadField(5, line);
    return folder;
}

std::string FormatRegisteredFolder(const RegisteredFolder& folder) {
    return Quoted(folder.Enabled ? "1" : "0") + Quoted(folder.Name) + Quoted(folder.SaveFileName) +
           Quoted(folder.FilterName) + Quoted(folder.FolderPath);
}

std::vector<RegisteredFolder> ReadFolderList(const std::string& path) {
    std::vector<RegisteredFolder> folders;
    for (const auto& line : ReadDataLines(path)) folders.push_back(ParseRegisteredFolder(line));
    return folders;
}

void WriteFolderList(const std::string& path, const std::vector<RegisteredFolder>& folders) {
    std::vector<std::string> lines;
    lines.reserve(folders.size());
    for (const auto& folder : folders) lines.push_back(FormatRegisteredFolder(folder));
    WriteLinesAtomically(path, lines);
}

std::vector<RegisteredFolder> EnabledFolders(const std::vector<std::string>& lines) {
    std::vector<RegisteredFolder> shown;
    for (const auto& line : lines) {
        RegisteredFolder folder = ParseRegisteredFolder(line);
        if (folder.Enabled) shown.push_back(std::move(folder));
    }
    return shown;
}

std::optional<std::string> RegisteredFilterName(const std::vector<std::string>& lines, std::string_view sourcePath) {
    std::optional<std::string> filter;
    for (const auto& line : lines) {
        if (ReadField(5, line) == sourcePath) filter = ReadField(4, line);
    }
    return filter;
}

}  // namespace tessarine
