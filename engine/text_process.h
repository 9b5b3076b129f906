#pragma once
// Text routines for the quoted-field records of the data files:
//   "field1","field2","field3",
// Readers take field n with GetField(n, line, "\",") and strip the remaining
// quote with ReplaceAll(field, "\"", "").
#include <string>
#include <string_view>

namespace tessarine {

// Separator of the data files: a double quote followed by a comma.
inline constexpr std::string_view kFieldSeparator = "\",";

// Field n (from 1) of the line, the line trimmed of bytes <= 32 at both ends.
// The field keeps its opening double quote; its last S-1 characters (S the
// separator's length in characters) are dropped, which removes the closing
// quote. Empty when the line has fewer than n fields or n < 1. At most 25
// fields are kept; later fields read as empty.
std::string GetField(int n, std::string_view line, std::string_view separator);

// Every occurrence of `find` in `source` replaced by `replacement`, left to
// right without overlap; an empty `find` returns the source unchanged.
std::string ReplaceAll(std::string_view source, std::string_view find, std::string_view replacement);

// Field n of a record with its quotes removed: the readers' combination of
// GetField and ReplaceAll.
std::string ReadField(int n, std::string_view line);

// The text without leading and trailing blanks and control characters
// (bytes of value 32 or less).
std::string_view TrimBlanks(std::string_view text);

// The letter in lower case for A-Z; every other byte as it is. Names and
// keywords compare this way, so a UTF-8 multi-byte character never changes.
inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when the texts are equal but for the case of ASCII letters.
bool EqualsNoCase(std::string_view a, std::string_view b);

// Where `word` first stands in `text` at or after `from`, ignoring the case
// of ASCII letters; npos when it does not.
size_t FindNoCase(std::string_view text, std::string_view word, size_t from = 0);

// Length in bytes of the character that starts with byte `lead` in the
// program's narrow encoding (UTF-8): 1 for ASCII and for stray bytes.
int CharLength(std::string_view text, size_t at);

}  // namespace tessarine
