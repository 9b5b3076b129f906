#include "engine/datafile.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/errors.h"
#include "engine/temp_file.h"
#include "engine/unique_fd.h"

namespace tessarine {

bool IsValidUtf8(std::string_view s) {
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        unsigned min;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
            min = 0x10000;
        } else
            return false;
        if (i + len > n) return false;
        for (int k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

bool ConvertEncoding(std::string_view text, const char* to, const char* from, std::string& out) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    // No character of these encodings takes more than four bytes, nor more
    // than three times its bytes in the other one.
    std::string result(text.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* dst = result.data();
    size_t outLeft = result.size();
    const size_t rc = ::iconv(cd, &in, &inLeft, &dst, &outLeft);
    const size_t flushed = ::iconv(cd, nullptr, nullptr, &dst, &outLeft);
    ::iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || flushed == static_cast<size_t>(-1) || inLeft != 0) return false;
    result.resize(result.size() - outLeft);
    out = std::move(result);
    return true;
}

namespace {

// One line of a data file: valid UTF-8 as it is, else valid code page 932
// converted, else its bytes as they are.
void AppendDecodedLine(std::string_view line, std::string& out) {
    std::string converted;
    if (!IsValidUtf8(line) && Cp932ToUtf8(line, converted)) {
        out += converted;
    } else {
        out += line;
    }
}

}  // namespace

std::string DecodeDataText(std::string_view bytes) {
    // Judged line by line, UTF-8 first. Text valid in both encodings is
    // common ("ü" is C3 BC, which code page 932 reads as two half-width
    // katakana), and the two mistakes differ: a code page 932 line taken as
    // UTF-8 is written back byte for byte, while a UTF-8 line taken as code
    // page 932 would be rewritten and its path lost. Per line, a UTF-8 file
    // with one Shift-JIS line added by hand keeps its UTF-8 lines and gains
    // the converted one, and a line that is neither goes back unchanged.
    // Line ends (CR, LF) are single bytes in both encodings and never part
    // of a character, so splitting before decoding cuts no character.
    if (IsValidUtf8(bytes)) return std::string(bytes);
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 2);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = bytes.size();
        AppendDecodedLine(bytes.substr(start, end - start), text);
        while (end < bytes.size() && (bytes[end] == '\r' || bytes[end] == '\n')) text += bytes[end++];
        start = end;
    }
    return text;
}

std::vector<std::string> SplitLines(std::string_view text, bool nulEndsText) {
    if (nulEndsText) {
        const size_t nul = text.find('\0');
        if (nul != std::string_view::npos) text = text.substr(0, nul);
    }
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
    // Opened without blocking, so that a FIFO in place of a data file cannot
    // stall the caller waiting for a writer; only regular files are read.
    const UniqueFd fd(OpenLongPath(AT_FDCWD, path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return false;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::string data;
    data.reserve(st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0);
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) break;
        data.append(buffer, static_cast<size_t>(got));
    }
    out = std::move(data);
    return true;
}

std::string_view WithoutByteOrderMark(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return bytes;
}

std::vector<std::string> ReadDataLines(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) throw CannotOpenFile(path);
    const size_t nul = bytes.find('\0');
    if (nul != std::string::npos) bytes.resize(nul);
    // A byte-order mark that a text editor put in front would otherwise
    // become part of the first row.
    return SplitLines(DecodeDataText(WithoutByteOrderMark(bytes)));
}

namespace {

// A file written under a temporary name in the target's folder and renamed
// over the target once complete and flushed.
class AtomicFile {
public:
    explicit AtomicFile(const std::string& path) : path_(path), file_(path) {
        // The new file takes the old one's permission bits, or the usual
        // ones for a new file (0666 less the umask).
        mode_t mode;
        struct stat old {};
        if (::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
            mode = old.st_mode & 07777;
        } else {
            mode = 0666 & ~CurrentUmask();
        }
        if (!file_.Valid()) throw CannotCreateFile(path_);
        // A file system without permission bits (FAT, some network mounts)
        // refuses the change; the file is written all the same.
        ok_ = ::fchmod(file_.Get(), mode) == 0 || errno == ENOSYS || errno == EPERM || errno == ENOTSUP ||
              errno == EOPNOTSUPP;
    }
    void Write(const char* data, size_t size) { ok_ = ok_ && WriteFull(file_.Get(), data, size); }
    void Commit() {
        ok_ = ok_ && ::fsync(file_.Get()) == 0;
        ok_ = file_.Close() && ok_;
        if (!ok_ || !file_.RenameIntoPlace()) throw CannotCreateFile(path_);
    }

private:
    std::string path_;
    TempFileBeside file_;
    bool ok_ = false;
};

}  // namespace

void WriteFileAtomically(const std::string& path, std::string_view contents) {
    AtomicFile file(path);
    file.Write(contents.data(), contents.size());
    file.Commit();
}

void WriteLinesAtomically(const std::string& path, size_t count, const std::function<std::string_view(size_t)>& line) {
    // Streamed through a buffer: a list of a million paths needs no second
    // copy of itself in memory.
    AtomicFile file(path);
    std::string buffer;
    constexpr size_t kChunk = 64 * 1024;
    buffer.reserve(kChunk + 4096);
    for (size_t k = 0; k < count; ++k) {
        buffer += line(k);
        buffer += "\r\n";
        if (buffer.size() >= kChunk) {
            file.Write(buffer.data(), buffer.size());
            buffer.clear();
        }
    }
    file.Write(buffer.data(), buffer.size());
    file.Commit();
}

void WriteLinesAtomically(const std::string& path, const std::vector<std::string>& lines) {
    WriteLinesAtomically(path, lines.size(), [&lines](size_t k) { return std::string_view(lines[k]); });
}

}  // namespace tessarine
