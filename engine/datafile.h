#pragma once
// Reading and writing the program's text files: settings, registered folders,
// filters and list files.
#include <string>
#include <string_view>
#include <functional>
#include <vector>

namespace tessarine {

// True when the bytes are well-formed UTF-8.
bool IsValidUtf8(std::string_view bytes);

// The text converted between two iconv encodings ("UTF-8", "CP932"); false,
// with `out` untouched, when the converter is missing or any byte of the text
// does not convert.
bool ConvertEncoding(std::string_view text, const char* to, const char* from, std::string& out);

// Shift-JIS (code page 932) text converted to UTF-8; false when the bytes are
// not valid code page 932.
inline bool Cp932ToUtf8(std::string_view bytes, std::string& out) {
    return ConvertEncoding(bytes, "UTF-8", "CP932", out);
}

// Text of a data file as the program holds it, judged line by line: a line
// that is valid UTF-8 as it is; one that is not but is valid code page 932
// (written by the Windows version) converted to UTF-8; any other line byte
// for byte. Line ends are kept as they are.
std::string DecodeDataText(std::string_view bytes);

// The lines of a text: lines end at CR LF, CR or LF; a last line without an
// end counts; a NUL byte ends the text unless `nulEndsText` is false (the
// NUL then stays inside its line).
std::vector<std::string> SplitLines(std::string_view text, bool nulEndsText = true);

// Reads a whole regular file; false when it cannot be opened or read, and for
// anything that is not a regular file (a folder, a FIFO, a device), which is
// never opened in a way that could wait.
bool ReadWholeFile(const std::string& path, std::string& out);

// The text without a UTF-8 byte-order mark in front.
std::string_view WithoutByteOrderMark(std::string_view bytes);

// The decoded lines of a data file, a leading byte-order mark skipped; raises "ファイル %s は開けません" when the
// file cannot be read.
std::vector<std::string> ReadDataLines(const std::string& path);

// Writes the lines, each followed by CR LF, replacing the file as a whole:
// the text goes to a temporary file in the same folder which is flushed and
// renamed over the target, so a crash or a full disk leaves either the old
// file or the new one. Raises "ファイル %s を作成できません" on failure.
void WriteLinesAtomically(const std::string& path, const std::vector<std::string>& lines);
// Same, for `count` lines, the one at each place given by `line`.
void WriteLinesAtomically(const std::string& path, size_t count, const std::function<std::string_view(size_t)>& line);

// Same, for text that is already complete.
void WriteFileAtomically(const std::string& path, std::string_view contents);

}  // namespace tessarine
