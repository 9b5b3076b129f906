#pragma once
// An archiver command line read into what it asks for. Both archiver
// libraries take the adapter's command line
//
//   a <switches> "<archive>" "<base folder>" "<name>" "<name>" ...
//
// and read it once, here, into an ArchiveRequest; their writers then work
// from the request. Switches come between the command and the archive path;
// every token after the base folder is a name, whatever it looks like.
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/message.h"

namespace tessarine {

// Whose switches a line is read with.
enum class ArchiverDialect {
    kSevenZip,  // -tzip, -t7z, -p<password>, -r
    kLha,       // the adapter's fixed LHA switches, which ask for what the writer always does
};

enum class ArchiveType { kZip, kSevenZip, kLha };

struct ArchiveRequest {
    ArchiveType type = ArchiveType::kLha;
    std::string archive;
    std::string baseFolder;
    // The names after the base folder, in order, as listed (empty ones and
    // repeats included): views into the command line, which the caller
    // keeps throughout, or into `rewritten` for tokens that held escapes.
    std::vector<std::string_view> entries;
    // Given on the command line with -p (maybe empty): the archive is
    // encrypted with it.
    std::optional<std::string> password;
    // Holds the tokens that are not in the line as they stand; its own
    // allocation, so that moving the request keeps the views valid.
    std::unique_ptr<std::deque<std::string>> rewritten = std::make_unique<std::deque<std::string>>();
};

struct ParsedArchiveRequest {
    ArchiveRequest request;
    Message failure;  // set when the line cannot be carried out; `request` is then incomplete
};

// The most names a command line may hold: the libraries keep places in the
// list in 4 bytes.
inline constexpr size_t kMaxArchiveEntries = UINT32_MAX - 1;

ParsedArchiveRequest ParseArchiveRequest(std::string_view line, ArchiverDialect dialect);

}  // namespace tessarine
