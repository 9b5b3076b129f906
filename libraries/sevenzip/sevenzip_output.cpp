#include "libraries/sevenzip/sevenzip_output.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>

#include "archive/archiver_status.h"
#include "libraries/sevenzip/names.h"
#include "engine/text_process.h"

namespace sevenzip {

using tessarine::LeftOutEntry;
using tessarine::MakeMessage;
using tessarine::MessageId;

bool HoldsErrorWord(std::string_view text) { return tessarine::FindNoCase(text, "error") != std::string_view::npos; }

const char* ExitMeaning(int code) {
    switch (code) {
        case 2: return "7-Zip could not go on";
        case 7: return "bad command line";
        case 8: return "out of memory";
        case 255: return "stopped by the user";
        default: return "unknown exit code";
    }
}

// What 7zz reports at exit code 1: the entries it could not add. Its
// standard output ends with sections such as
//
//   Scan WARNINGS for files and folders:
//
//   gone : errno=2 : No such file or directory
//   ----------------
//   Scan WARNINGS: 1
//
// (and "WARNINGS for files:" for files found but not opened), one line per
// entry, the name as 7-Zip shows it (line breaks and other control
// characters replaced). A shown name that is one of the names given (as
// listed, `given`, and as handed over, relative) is taken as that entry; a
// folder above given names, as each of them; any other line, and any entry counted but not listed, is left out under
// the name 7-Zip showed.
std::vector<LeftOutEntry> WarnedEntries(const std::string& out, const std::vector<std::string_view>& given) {
    std::unordered_map<std::string_view, size_t> index;
    index.reserve(given.size());
    for (size_t k = 0; k < given.size(); ++k) index.emplace(WithoutLeadingSlashes(given[k]), k);
    std::unordered_set<size_t> taken;
    std::vector<size_t> byName;  // places in `given` in the order of their names, made when first needed
    std::vector<LeftOutEntry> entries;
    size_t counted = 0;
    bool inSection = false;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string_view line(out.data() + pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line == "Scan WARNINGS for files and folders:" || line == "WARNINGS for files:") {
            inSection = true;
            continue;
        }
        if (line.rfind("----------------", 0) == 0) {
            inSection = false;
            continue;
        }
        unsigned long n = 0;
        if (std::sscanf(std::string(line).c_str(), "Scan WARNINGS: %lu", &n) == 1 ||
            std::sscanf(std::string(line).c_str(), "WARNING: Cannot open %lu file", &n) == 1) {
            counted += n;
            continue;
        }
        if (!inSection || line.empty()) continue;
        std::string_view shown = line;
        tessarine::Message reason = MakeMessage(MessageId::kArchiverNotAdded);
        const size_t mark = line.rfind(" : errno=");
        if (mark != std::string_view::npos) {
            shown = line.substr(0, mark);
            const int number = std::atoi(std::string(line.substr(mark + 9)).c_str());
            if (number > 0) reason = MakeMessage(MessageId::kSystemError, {}, number);
        }
        const auto hit = index.find(shown);
        if (hit != index.end() && taken.insert(hit->second).second) {
            entries.push_back(LeftOutEntry{std::string(given[hit->second]), reason});
            continue;
        }
        // A folder on the way of given names (one swapped for a link, say):
        // 7zz names it once and adds none of the names beneath it.
        if (byName.empty()) {
            byName.resize(given.size());
            for (size_t k = 0; k < given.size(); ++k) byName[k] = k;
            std::sort(byName.begin(), byName.end(), [&](size_t a, size_t b) {
                return WithoutLeadingSlashes(given[a]) < WithoutLeadingSlashes(given[b]);
            });
        }
        const std::string folder = std::string(shown) + "/";
        auto at = std::lower_bound(byName.begin(), byName.end(), folder, [&](size_t k, const std::string& name) {
            return WithoutLeadingSlashes(given[k]) < name;
        });
        bool beneath = false;
        for (; at != byName.end() && WithoutLeadingSlashes(given[*at]).starts_with(folder); ++at) {
            beneath = true;
            if (taken.insert(*at).second) entries.push_back(LeftOutEntry{std::string(given[*at]), reason});
        }
        if (!beneath) entries.push_back(LeftOutEntry{std::string(shown), MakeMessage(MessageId::kArchiverNotAdded)});
    }
    for (size_t k = entries.size(); k < counted; ++k)
        entries.push_back(LeftOutEntry{"", MakeMessage(MessageId::kArchiverNotAdded)});
    if (entries.empty()) entries.push_back(LeftOutEntry{"", MakeMessage(MessageId::kArchiverNotAdded)});
    return entries;
}

// 7-Zip's text for a failure, with the paths it quotes replaced by what they
// are: the report then names no folder or file of the user's.
std::string WithoutPaths(std::string text, const std::vector<std::pair<std::string, std::string>>& paths) {
    for (const auto& [path, word] : paths) {
        if (path.empty()) continue;
        for (size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + word.size()))
            text.replace(at, path.size(), word);
    }
    // Lines that still hold the word are 7-Zip's own and say the same as
    // the first line of the report; a name of the user's may be among them.
    std::string kept;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + pos, end - pos);
        if (!line.empty() && (!HoldsErrorWord(line) || line.rfind("ERROR:", 0) == 0)) kept.append(line).push_back('\n');
        pos = end + 1;
    }
    return kept;
}

// The number of files (links included) 7zz says it added in one call, from
// its line "Add new data to archive: 2 folders, 4 files, 7 bytes (1 KiB)".
size_t FilesAdded(const std::string& out) {
    const std::string_view mark = "Add new data to archive: ";
    const size_t at = out.find(mark);
    if (at == std::string::npos) return 0;
    const size_t end = out.find('\n', at);
    const std::string line = out.substr(at + mark.size(), end == std::string::npos ? end : end - at - mark.size());
    unsigned long folders = 0, files = 0;
    char word[16] = {};
    if (std::sscanf(line.c_str(), "%lu folder%15[s,] %lu file", &folders, word, &files) == 3) return files;
    if (std::sscanf(line.c_str(), "%lu file", &files) == 1) return files;
    return 0;
}

RunReading ReadSevenZipRun(int exitCode, const std::string& out, const std::string& err,
                           const std::vector<std::string_view>& given, const PathWords& paths) {
    RunReading reading;
    if (exitCode == 0 || exitCode == 1) {
        reading.status = exitCode == 0 ? tessarine::kArchiverDone : tessarine::kArchiverLeftOut;
        reading.filesAdded = FilesAdded(out);
        // Some entries could not be added (gone or made unreadable since
        // they were looked at); 7zz made the archive without them.
        if (exitCode == 1) reading.warned = WarnedEntries(out, given);
        return reading;
    }
    // 7zz out of memory fails the job as memory running out anywhere else does.
    reading.status = exitCode == 8 ? tessarine::kArchiverOutOfMemory : tessarine::kArchiverFailed;
    reading.failure = "7zz ended with exit code " + std::to_string(exitCode) + " (" + ExitMeaning(exitCode) + ")\n" +
                      WithoutPaths(err + out, paths);
    return reading;
}

}  // namespace sevenzip
