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

// True when every byte outside ASCII lies in A1-DF, the range of the
// half-width katakana of code page 932. Such text is valid UTF-8 only by
// accident: as UTF-8 it reads as pairs of Latin letters (lead C2-DF, trail
// A1-BF), which is what a short Windows file holding a name like "ﾃｽﾄ"
// looks like.
bool OnlyHalfWidthKatakanaBytes(std::string_view bytes) {
    bool any = false;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) continue;
        if (c < 0xA1 || c > 0xDF) return false;
        any = true;
    }
    return any;
}

}  // namespace

std::string DecodeDataText(std::string_view bytes) {
    // The encoding is judged once, for the whole file. Text that is not
    // valid UTF-8 but is valid code page 932 is converted. Valid UTF-8 stays
    // as it is, unless every byte outside ASCII is a half-width katakana of
    // code page 932: UTF-8 Japanese text always has three-byte characters
    // (E3 lead bytes), so a file made only of such pairs is taken as code
    // page 932. The price is that a UTF-8 file whose only non-ASCII text is
    // Latin letters from U+00E1..U+07FF in that narrow byte range (for
    // example "é", C3 A9, alone) reads as half-width katakana too.
    std::string converted;
    if (IsValidUtf8(bytes)) {
        if (OnlyHalfWidthKatakanaBytes(bytes) && Cp932ToUtf8(bytes, converted)) return converted;
        return std::string(bytes);
    }
    if (Cp932ToUtf8(bytes, converted)) return converted;
    return std::string(bytes);
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
