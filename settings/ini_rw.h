#pragma once
// set.ini: the settings record on disk, and the small profile-file (INI)
// reader and writer behind it.
//
// Layout: "[section]" header lines followed by "key=value" lines. Section
// and key names match regardless of letter case (ASCII), blanks around
// names and values are ignored, the first of duplicate keys is the one read,
// lines outside any section and lines starting with ";" or "#" are kept but
// never read.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/SetData.h"

namespace tessarine {

// Name of the settings file in the user folder, and its section.
inline constexpr std::string_view kSettingsFileName = "set.ini";
inline constexpr std::string_view kSettingsSection = "set";

// The value of a key, trimmed of surrounding blanks; nullopt when the
// section or the key is missing.
std::optional<std::string> ReadProfileValue(const std::vector<std::string>& lines, std::string_view section,
                                            std::string_view key);

// Sets a key in place: the line of an existing key is replaced, a missing
// key is added after the last entry of its section, a missing section is
// added at the end. Every other line stays as it is.
void WriteProfileValue(std::vector<std::string>& lines, std::string_view section, std::string_view key,
                       std::string_view value);

// A settings integer: decimal, or hexadecimal after "$" or "0x"/"0X", with
// an optional sign, in the 32-bit signed range (hexadecimal up to FFFFFFFF,
// read as two's complement); nullopt for anything else.
std::optional<int32_t> ParseProfileInteger(std::string_view text);

// Fills the 14 persisted fields from the file. Never fails: a missing or
// unreadable file, section or key, or a value that does not convert, gives
// the field's default.
void LoadSettings(const std::string& path, TSetData& data);

// Writes the 14 keys in their fixed order into the file's "set" section,
// keeping every other line, and replaces the file atomically. Raises
// "%s に書き込めません" (the full path) when the file cannot be written, and
// also when an existing file cannot be read, so that its other content is
// never lost.
void SaveSettings(const std::string& path, TSetData data);

}  // namespace tessarine
