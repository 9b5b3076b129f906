#pragma once
// Reads the names of a ZIP archive's central directory: the end record (and
// its ZIP64 locator and record where the counts or offsets do not fit 16 or
// 32 bits), then every central header in turn. Nothing is decompressed; the
// names are what `unzip` and 7-Zip would extract to.
#include <optional>
#include <string>
#include <vector>

#include "engine/message.h"

namespace tessarine {

struct ZipEntryName {
    std::string name;   // the stored bytes, "/" between folders
    bool utf8 = false;  // general-purpose flag bit 11: the name is UTF-8
};

// The names in central-directory order, or the reason the directory cannot
// be read.
struct ZipDirectory {
    std::vector<ZipEntryName> entries;
    Message error;  // none when every header was read
};

ZipDirectory ReadZipDirectory(const std::string& archive);

}  // namespace tessarine
