#include "archive/left_out.h"

namespace tessarine {

std::string EncodeLeftOut(const std::vector<LeftOutEntry>& entries) {
    std::string records;
    for (const auto& e : entries) {
        records.append(e.name).push_back('\0');
        records.append(e.reason).push_back('\0');
    }
    return records;
}

std::vector<LeftOutEntry> DecodeLeftOut(std::string_view records) {
    std::vector<LeftOutEntry> entries;
    while (true) {
        const size_t nameEnd = records.find('\0');
        if (nameEnd == std::string_view::npos) break;
        const size_t reasonEnd = records.find('\0', nameEnd + 1);
        if (reasonEnd == std::string_view::npos) break;
        entries.push_back(LeftOutEntry{std::string(records.substr(0, nameEnd)),
                                       std::string(records.substr(nameEnd + 1, reasonEnd - nameEnd - 1))});
        records.remove_prefix(reasonEnd + 1);
    }
    return entries;
}

}  // namespace tessarine
