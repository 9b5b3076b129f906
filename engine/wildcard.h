#pragma once
// File-name matching with the wildcard rules users know from Windows file
// dialogs: "*" any run of characters, "?" one character, letter case
// ignored, "*.*" every name (also names without a dot), a pattern ending in
// "." matches names without an extension.
#include <string_view>

namespace tessarine {

bool MatchesWildcard(std::string_view name, std::string_view pattern);

}  // namespace tessarine
