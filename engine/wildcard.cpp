#include "engine/wildcard.h"

#include "engine/text_process.h"

namespace tessarine {

namespace {

// Byte-wise glob with one backtracking point per "*"; "?" takes one whole
// character so that it never splits a multi-byte character.
bool Glob(std::string_view name, std::string_view pattern) {
    size_t n = 0, p = 0;
    size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && pattern[p] == '?') {
            ++p;
            n += static_cast<size_t>(CharLength(name, n));
        } else if (p < pattern.size() && LowerAscii(pattern[p]) == LowerAscii(name[n])) {
            ++p;
            ++n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
    if (pattern == "*" || pattern == "*.*") return true;
    if (Glob(name, pattern)) return true;
    // "name.*" also matches "name": the extension part may be absent.
    if (pattern.size() >= 2 && pattern.substr(pattern.size() - 2) == ".*") {
        return Glob(name, pattern.substr(0, pattern.size() - 2));
    }
    // "*." matches the names that have no extension at all.
    if (pattern.size() >= 2 && pattern.back() == '.' && name.find('.') == std::string_view::npos) {
        return Glob(name, pattern.substr(0, pattern.size() - 1));
    }
    return false;
}

}  // namespace tessarine
