#include "archive/archive_request.h"

#include <algorithm>
#include <array>

#include "archive/command_line.h"
#include "engine/text_process.h"

namespace tessarine {

namespace {

constexpr std::array<std::string_view, 7> kLhaSwitches = {"-a1", "-r2", "-x1", "-l1", "-jp1", "-o2", "-ji0"};

// Takes one switch into the request; false when the dialect has no such
// switch.
bool TakeSwitch(std::string_view token, ArchiverDialect dialect, ArchiveRequest& request,
                std::optional<ArchiveType>& type) {
    if (dialect == ArchiverDialect::kLha)
        return std::find(kLhaSwitches.begin(), kLhaSwitches.end(), token) != kLhaSwitches.end();
    if (EqualsNoCase(token, "-tzip")) {
        type = ArchiveType::kZip;
    } else if (EqualsNoCase(token, "-t7z")) {
        type = ArchiveType::kSevenZip;
    } else if (token.size() >= 2 && (token[1] == 'p' || token[1] == 'P')) {
        request.password = std::string(token.substr(2));
    } else if (!EqualsNoCase(token, "-r")) {
        // -r asks for nothing: the list names every file itself.
        return false;
    }
    return true;
}

}  // namespace

ParsedArchiveRequest ParseArchiveRequest(std::string_view line, ArchiverDialect dialect) {
    ParsedArchiveRequest parsed;
    ArchiveRequest& request = parsed.request;
    std::vector<std::string_view> tokens = SplitCommandLineViews(line, *request.rewritten);
    if (tokens.empty()) {
        parsed.failure = MakeMessage(MessageId::kArchiverNoCommandLine);
        return parsed;
    }
    if (!EqualsNoCase(tokens[0], "a")) {
        parsed.failure = MakeMessage(MessageId::kArchiverUnknownCommand, {std::string(tokens[0])});
        return parsed;
    }
    std::optional<ArchiveType> type;
    if (dialect == ArchiverDialect::kLha) type = ArchiveType::kLha;
    size_t i = 1;
    for (; i < tokens.size() && !tokens[i].empty() && tokens[i][0] == '-'; ++i) {
        if (!TakeSwitch(tokens[i], dialect, request, type)) {
            parsed.failure = MakeMessage(MessageId::kArchiverUnknownSwitch, {std::string(tokens[i])});
            return parsed;
        }
    }
    if (i + 2 > tokens.size()) {
        parsed.failure = MakeMessage(MessageId::kArchiverNoArchivePath);
        return parsed;
    }
    request.archive = std::string(tokens[i++]);
    request.baseFolder = std::string(tokens[i++]);
    if (!type) {
        // Without -t the archive's extension tells: ".zip" or else 7z.
        const auto dot = request.archive.rfind('.');
        const bool zip =
            dot != std::string::npos && EqualsNoCase(std::string_view(request.archive).substr(dot), ".zip");
        type = zip ? ArchiveType::kZip : ArchiveType::kSevenZip;
    }
    request.type = *type;
    if (tokens.size() - i > kMaxArchiveEntries) {
        parsed.failure = MakeMessage(MessageId::kArchiverTooManyNames);
        return parsed;
    }
    // The token list becomes the list of names.
    tokens.erase(tokens.begin(), tokens.begin() + static_cast<std::ptrdiff_t>(i));
    request.entries = std::move(tokens);
    if (request.entries.empty()) parsed.failure = MakeMessage(MessageId::kArchiverNothingToAdd);
    return parsed;
}

}  // namespace tessarine
