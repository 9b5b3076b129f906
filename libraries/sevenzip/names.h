#pragma once
// Names as the 7-Zip library hands them to 7zz: relative to the base folder.
// A name listed with a leading "/" (from a base folder given without its
// closing separator) is the same entry as without it.
#include <string_view>
#include <vector>

namespace sevenzip {

inline std::string_view WithoutLeadingSlashes(std::string_view name) {
    const size_t start = name.find_first_not_of('/');
    return start == std::string_view::npos ? std::string_view() : name.substr(start);
}

inline std::vector<std::string_view> RelativeNames(const std::vector<std::string_view>& names) {
    std::vector<std::string_view> relative;
    relative.reserve(names.size());
    for (const std::string_view name : names) relative.push_back(WithoutLeadingSlashes(name));
    return relative;
}

}  // namespace sevenzip
