#include "settings/ini_rw.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <sys/stat.h>

#include "engine/datafile.h"
#include "engine/errors.h"
#include "engine/text_process.h"

namespace tessarine {

namespace {

// Longest value a key yields, in bytes (the profile functions' 2048-byte
// buffer less its terminator).
constexpr size_t kMaxValueLength = 2047;

std::string_view TrimSpaces(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// The section name of a header line "[name]", or nullopt for other lines.
std::optional<std::string_view> SectionOf(std::string_view line) {
    const std::string_view t = TrimSpaces(line);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const size_t close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return TrimSpaces(t.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    const std::string_view t = TrimSpaces(line);
    return !t.empty() && (t.front() == ';' || t.front() == '#');
}

// Splits "key=value"; false for lines without "=" and for comments.
bool SplitEntry(std::string_view line, std::string_view& key, std::string_view& value) {
    if (IsComment(line)) return false;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) return false;
    key = TrimSpaces(line.substr(0, eq));
    value = TrimSpaces(line.substr(eq + 1));
    return true;
}

// Cuts a value to the longest prefix of at most kMaxValueLength bytes that
// does not end inside a character.
std::string CutValue(std::string_view value) {
    if (value.size() <= kMaxValueLength) return std::string(value);
    size_t end = 0;
    while (end < value.size()) {
        const size_t next = end + static_cast<size_t>(CharLength(value, end));
        if (next > kMaxValueLength) break;
        end = next;
    }
    return std::string(value.substr(0, end));
}

std::vector<std::string> ReadSettingsLines(const std::string& path, bool& readable) {
    std::string bytes;
    readable = ReadWholeFile(path, bytes);
    if (!readable) return {};
    // A byte-order mark that a text editor put in front would hide the
    // first section header. A NUL byte (junk left by a crash or an editor)
    // stays inside its line: ending the text there would make the next save
    // drop every line after it, other sections included.
    return SplitLines(DecodeDataText(WithoutByteOrderMark(bytes)), false);
}

int32_t IntegerKey(const std::vector<std::string>& lines, std::string_view key, int32_t fallback) {
    const auto value = ReadProfileValue(lines, kSettingsSection, key);
    if (!value) return fallback;
    std::string text = *value;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.replace(0, 2, "$");
    return ParseProfileInteger(text).value_or(fallback);
}

uint8_t ByteKey(const std::vector<std::string>& lines, std::string_view key, uint8_t fallback) {
    return static_cast<uint8_t>(IntegerKey(lines, key, fallback) & 0xFF);
}

std::string TextKey(const std::vector<std::string>& lines, std::string_view key) {
    const auto value = ReadProfileValue(lines, kSettingsSection, key);
    return value ? std::string(TrimBlanks(*value)) : std::string();
}

}  // namespace

std::optional<std::string> ReadProfileValue(const std::vector<std::string>& lines, std::string_view section,
                                            std::string_view key) {
    bool inSection = false;
    for (const auto& line : lines) {
        if (const auto name = SectionOf(line)) {
            inSection = EqualsNoCase(*name, section);
            continue;
        }
        if (!inSection) continue;
        std::string_view k, v;
        if (SplitEntry(line, k, v) && EqualsNoCase(k, key)) return CutValue(v);
    }
    return std::nullopt;
}

void WriteProfileValue(std::vector<std::string>& lines, std::string_view section, std::string_view key,
                       std::string_view value) {
    // A line break inside a value would end its line and start a new entry
    // in the file; such bytes are left out.
    std::string entry(key);
    entry += '=';
    for (const char c : value) {
        if (c != '\r' && c != '\n') entry += c;
    }

    bool inSection = false;
    std::optional<size_t> insertAfter;  // last header or entry line of the section
    for (size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = SectionOf(lines[i])) {
            inSection = EqualsNoCase(*name, section);
            if (inSection && !insertAfter) insertAfter = i;
            continue;
        }
        if (!inSection) continue;
        std::string_view k, v;
        if (!SplitEntry(lines[i], k, v)) continue;
        if (EqualsNoCase(k, key)) {
            lines[i] = std::move(entry);
            return;
        }
        insertAfter = i;
    }
    if (insertAfter) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(*insertAfter + 1), std::move(entry));
        return;
    }
    lines.push_back("[" + std::string(section) + "]");
    lines.push_back(std::move(entry));
}

std::optional<int32_t> ParseProfileInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    uint64_t limit = negative ? 2147483648ULL : 2147483647ULL;
    if (!text.empty() && text.front() == '$') {
        base = 16;
        limit = 0xFFFFFFFFULL;
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    uint64_t magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (ec != std::errc() || end != text.data() + text.size() || magnitude > limit) return std::nullopt;
    // Hexadecimal values above 7FFFFFFF wrap to negative numbers.
    uint32_t bits = static_cast<uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    return static_cast<int32_t>(bits);
}

void LoadSettings(const std::string& path, TSetData& data) {
    bool readable = false;
    const std::vector<std::string> lines = ReadSettingsLines(path, readable);
    data.PosX = IntegerKey(lines, "PosX", 0);
    data.PosY = IntegerKey(lines, "PosY", 0);
    data.SelectFileName = TextKey(lines, "SelectFileName");
    data.Mode = IntegerKey(lines, "Mode", 0);
    data.AutoMode = ByteKey(lines, "AutoMode", 0);
    data.HiddenFolder = ByteKey(lines, "HiddenFolder", 0);
    data.HiddenFile = ByteKey(lines, "HiddenFile", 0);
    data.OpenFolder = ByteKey(lines, "OpenFolder", 1);
    data.SelectSaveFolderName = TextKey(lines, "SelectSaveFolderName");
    data.SelectSaveMode = ByteKey(lines, "SelectSaveMode", 0);
    data.ActMode1 = ByteKey(lines, "ActMode1", 1);
    data.NoFileMsg = ByteKey(lines, "NoFileMsg", 0);
    data.FNameSelect1 = ByteKey(lines, "FNameSelect1", 0);
    data.FNameSelect2 = ByteKey(lines, "FNameSelect2", 0);
    data.VerifyAfterJob = ByteKey(lines, "VerifyAfterJob", 0);
}

void SaveSettings(const std::string& path, TSetData data) {
    const TessarineError cannotWrite(MakeMessage(MessageId::kCannotWriteTo, {path}));
    bool readable = false;
    std::vector<std::string> lines = ReadSettingsLines(path, readable);
    if (!readable) {
        // Rewriting a file that exists but cannot be read would drop its
        // other sections; only a missing file starts empty.
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) throw cannotWrite;
    }
    const auto put = [&lines](std::string_view key, std::string_view value) {
        WriteProfileValue(lines, kSettingsSection, key, value);
    };
    const auto number = [](auto value) { return std::to_string(static_cast<long long>(value)); };
    put("PosX", number(data.PosX));
    put("PosY", number(data.PosY));
    put("SelectFileName", data.SelectFileName);
    put("Mode", number(data.Mode));
    put("AutoMode", number(data.AutoMode));
    put("HiddenFolder", number(data.HiddenFolder));
    put("HiddenFile", number(data.HiddenFile));
    put("OpenFolder", number(data.OpenFolder));
    put("SelectSaveFolderName", data.SelectSaveFolderName);
    put("SelectSaveMode", number(data.SelectSaveMode));
    put("ActMode1", number(data.ActMode1));
    put("NoFileMsg", number(data.NoFileMsg));
    put("FNameSelect1", number(data.FNameSelect1));
    put("FNameSelect2", number(data.FNameSelect2));
    put("VerifyAfterJob", number(data.VerifyAfterJob));
    try {
        WriteLinesAtomically(path, lines);
    } catch (const TessarineError&) {
        throw cannotWrite;
    }
}

}  // namespace tessarine
