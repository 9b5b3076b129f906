#pragma once
// Reads an LHA archive back: walks its level-2 headers, decodes every
// member (-lh0- stored, -lh5- compressed; -lhd- folders and links carry no
// data) and checks each member's size and CRC-16.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/message.h"

namespace tessarine {

// A member that failed, or the archive as a whole when `entry` is empty.
struct LhaDefect {
    std::string entry;  // the stored path, "/" between folders, as UTF-8 where it was Shift-JIS
    Message reason;
};

// nullopt when every member decodes to its stored size and CRC-16 and the
// archive ends with its end mark; otherwise the first defect. `members`
// receives how many members were read.
std::optional<LhaDefect> CheckLhaArchive(const std::string& path, size_t* members = nullptr);

// Decodes a -lh5- stream held in memory into `size` bytes (tests).
std::optional<std::string> DecodeLh5(const uint8_t* data, size_t packed, size_t size);

}  // namespace tessarine
