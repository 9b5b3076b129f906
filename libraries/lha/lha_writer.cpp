#include "libraries/lha/lha_writer.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "libraries/lha/lh5_encoder.h"
#include "engine/crc16.h"
#include "engine/datafile.h"

namespace lha {

using tessarine::Crc16;
using tessarine::Message;
using tessarine::MessageId;
using tessarine::ReadFull;

namespace {

Message Reason(MessageId id) { return tessarine::MakeMessage(id); }
Message SystemReason(int error) { return tessarine::MakeMessage(MessageId::kSystemError, {}, error); }

constexpr uint64_t kSizeLimit = uint64_t{1} << 32;  // sizes are 32-bit fields
constexpr size_t kChunk = 1 << 18;
// Files up to this size are read and compressed whole in memory, which lets
// several be prepared at once; larger ones are streamed into the archive.
constexpr uint64_t kHoldLimit = 8u << 20;
// While a streamed file is compressed, it is also kept in memory up to this
// size, so the stored fallback needs no second read.
constexpr size_t kKeepInMemory = 8u << 20;

void PutLE(std::vector<uint8_t>& v, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) v.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

[[noreturn]] void ThrowErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

StoredName StoredNameBytes(const std::string& path) {
    bool ascii = true;
    for (const unsigned char c : path) ascii = ascii && c < 0x80;
    if (ascii) return {path, kCodePageShiftJis};
    if (!tessarine::IsValidUtf8(path)) return {path, kCodePageRawBytes};
    std::string sjis;
    if (tessarine::ConvertEncoding(path, "CP932", "UTF-8", sjis)) {
        // Some characters (the yen sign, the overline) map onto ASCII bytes
        // and would come back as different characters; such a name stays
        // UTF-8.
        std::string back;
        if (tessarine::ConvertEncoding(sjis, "UTF-8", "CP932", back) && back == path) return {sjis, kCodePageShiftJis};
    }
    return {path, kCodePageUtf8};
}

std::string CleanRelativePath(const std::string& path) {
    std::string out;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        const std::string part = path.substr(i, j - i);
        if (part == "..") return {};
        if (!part.empty() && part != ".") {
            if (!out.empty()) out.push_back('/');
            out += part;
        }
        i = j + 1;
    }
    return out;
}

size_t HeaderSize(const MemberHeader& h) {
    // The base header (size, method, two sizes, time, attribute, level,
    // CRC, OS), the common (5), file name (3 + name) and mode (5) extended
    // headers, the folder header (3 + folder) of a path with a folder, the
    // code page header (7) of a name that is not ASCII, and the closing
    // size field; name and folder together are the path without its last
    // "/".
    const bool inFolder = h.path.find('/') != std::string::npos;
    size_t size = 2 + h.method.size() + 4 + 4 + 4 + 1 + 1 + 2 + 1 + 5 + 3 + h.path.size() + (inFolder ? 3 : 0) +
                  (IsAscii(h.path) ? 0 : 7) + 5 + 2;
    if ((size & 0xFF) == 0) ++size;  // the padding byte, see BuildHeader
    return size;
}

std::vector<uint8_t> BuildHeader(const MemberHeader& h) {
    const size_t size = HeaderSize(h);
    // Its size field would wrap around and the archive read wrong from here.
    if (size > kMaxHeaderSize) throw std::length_error("LHA header longer than 64 KiB");
    std::string dir, name = h.path;
    const size_t slash = h.path.rfind('/');
    if (slash != std::string::npos) {
        dir = h.path.substr(0, slash + 1);
        name = h.path.substr(slash + 1);
        // Folders are separated by 0xFF in the directory header.
        for (auto& c : dir)
            if (c == '/') c = static_cast<char>(0xFF);
    }
    std::vector<uint8_t> v;
    v.reserve(size);
    PutLE(v, 0, 2);  // header size, filled in below
    v.insert(v.end(), h.method.begin(), h.method.end());
    PutLE(v, h.packedSize, 4);
    PutLE(v, h.originalSize, 4);
    PutLE(v, h.mtime, 4);
    v.push_back(0x20);  // MS-DOS attribute: archive
    v.push_back(2);     // header level
    PutLE(v, h.crc, 2);
    v.push_back('U');
    // Extended headers; each size counts its type byte, its data and the
    // size field of the header after it.
    const size_t crcAt = v.size() + 3;
    auto extended = [&v](uint8_t type, const void* data, size_t size) {
        PutLE(v, 1 + size + 2, 2);
        v.push_back(type);
        const auto* p = static_cast<const uint8_t*>(data);
        v.insert(v.end(), p, p + size);
    };
    const uint8_t noCrc[2] = {0, 0};
    extended(0x00, noCrc, 2);  // common header: header CRC
    extended(0x01, name.data(), name.size());
    if (!dir.empty()) extended(0x02, dir.data(), dir.size());
    // The code page of a name that is not plain ASCII. Readers that know
    // this header (libarchive) decode the name with it; others take the
    // bytes as they are. ASCII reads the same in every code page used here.
    if (!IsAscii(h.path)) {
        const uint8_t codePage[4] = {static_cast<uint8_t>(h.codePage), static_cast<uint8_t>(h.codePage >> 8), 0, 0};
        extended(0x46, codePage, 4);
    }
    const uint8_t mode[2] = {static_cast<uint8_t>(h.mode), static_cast<uint8_t>(h.mode >> 8)};
    extended(0x50, mode, 2);
    // The time stamp needs no extended header: at level 2 the base header
    // holds it as Unix time already.
    PutLE(v, 0, 2);  // no further extended header
    // A header size with a zero low byte would read as the end mark to
    // programs that look at the first byte only.
    if ((v.size() & 0xFF) == 0) v.push_back(0);
    v[0] = static_cast<uint8_t>(v.size());
    v[1] = static_cast<uint8_t>(v.size() >> 8);
    const uint16_t hcrc = Crc16(0, v.data(), v.size());
    v[crcAt] = static_cast<uint8_t>(hcrc);
    v[crcAt + 1] = static_cast<uint8_t>(hcrc >> 8);
    return v;
}

tessarine::Message ReasonFor(AddResult result) {
    switch (result) {
        case AddResult::Added: break;
        case AddResult::Unreadable: return Reason(MessageId::kArchiverUnreadable);
        case AddResult::TooLarge: return Reason(MessageId::kArchiverTooLarge);
        case AddResult::UnsafeName: return Reason(MessageId::kArchiverUnsafeName);
        case AddResult::NameTooLong: return Reason(MessageId::kArchiverHeaderTooLong);
    }
    return {};
}

// Buffered archive output that can go back: patch a header written earlier,
// or cut the archive back to where a member began.
class ArchiveWriter::Output : public lh5::ByteSink {
public:
    explicit Output(int fd) : fd_(fd) { buf_.reserve(kCapacity); }

    uint64_t Tell() const { return flushed_ + buf_.size(); }

    void Put(const uint8_t* data, size_t size) override {
        if (buf_.size() + size > kCapacity) Flush();
        if (size >= kCapacity) {
            WriteAt(data, size, flushed_);
            flushed_ += size;
            return;
        }
        buf_.insert(buf_.end(), data, data + size);
    }

    void Patch(uint64_t offset, const std::vector<uint8_t>& bytes) {
        if (offset >= flushed_) {
            std::memcpy(buf_.data() + (offset - flushed_), bytes.data(), bytes.size());
        } else {
            Flush();
            WriteAt(bytes.data(), bytes.size(), offset);
        }
    }

    void TruncateTo(uint64_t offset) {
        if (offset >= flushed_) {
            buf_.resize(offset - flushed_);
            return;
        }
        buf_.clear();
        if (::ftruncate(fd_, static_cast<off_t>(offset)) != 0) ThrowErrno("truncate archive");
        flushed_ = offset;
    }

    void Flush() {
        if (buf_.empty()) return;
        WriteAt(buf_.data(), buf_.size(), flushed_);
        flushed_ += buf_.size();
        buf_.clear();
    }

private:
    static constexpr size_t kCapacity = 1 << 20;

    void WriteAt(const uint8_t* data, size_t size, uint64_t offset) {
        if (!tessarine::WriteFullAt(fd_, data, size, static_cast<off_t>(offset))) ThrowErrno("write archive");
    }

    int fd_;
    uint64_t flushed_ = 0;
    std::vector<uint8_t> buf_;
};

namespace {

MemberHeader BaseHeader(const struct ::stat& st, const std::string& storedPath) {
    MemberHeader h;
    h.mtime = static_cast<uint32_t>(std::clamp<int64_t>(st.st_mtime, 0, UINT32_MAX));
    h.mode = static_cast<uint16_t>(S_IFREG | (st.st_mode & 07777));
    const StoredName name = StoredNameBytes(storedPath);
    h.path = name.bytes;
    h.codePage = name.codePage;
    return h;
}

// The header of a link, or why the link cannot have one. The level-2 form
// is "name|target" split like any path into folder and file name headers,
// and readers (lhasa, libarchive) take the first "|" as the end of the name
// and every 0xFF in the folder header as a separator. Name and target share
// the header's code page, which libarchive converts both with.
Message LinkHeader(const struct ::stat& st, const std::string& storedPath, const std::string& target, MemberHeader& h) {
    if (storedPath.find('|') != std::string::npos) return Reason(MessageId::kArchiverLinkBar);
    if (target.empty()) return Reason(MessageId::kArchiverLinkEmptyTarget);
    if ((storedPath + target).find('\xFF') != std::string::npos) return Reason(MessageId::kArchiverLinkByteFF);
    const StoredName name = StoredNameBytes(storedPath);
    const StoredName link = StoredNameBytes(target);
    h.method = "-lhd-";  // links, like folders, carry no data
    h.mtime = static_cast<uint32_t>(std::clamp<int64_t>(st.st_mtime, 0, UINT32_MAX));
    h.mode = static_cast<uint16_t>(S_IFLNK | 0777);
    // Shift-JIS only when both have it and the name's Shift-JIS bytes hold
    // no "|" (the second byte of a character such as "ポ" is 0x7C); the
    // target may, as only the first "|" counts.
    if (name.codePage == kCodePageShiftJis && link.codePage == kCodePageShiftJis &&
        name.bytes.find('|') == std::string::npos) {
        h.path = name.bytes + "|" + link.bytes;
        h.codePage = kCodePageShiftJis;
        return {};
    }
    h.path = storedPath + "|" + target;
    h.codePage =
        name.codePage == kCodePageRawBytes || link.codePage == kCodePageRawBytes ? kCodePageRawBytes : kCodePageUtf8;
    // Bytes that are not UTF-8 are named code page 437, through which
    // libarchive turns any non-ASCII target into another one.
    if (h.codePage == kCodePageRawBytes && !IsAscii(target)) return Reason(MessageId::kArchiverLinkNotUtf8);
    return {};
}

// Why an entry of this type is not read.
Message TypeReason(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFDIR: return Reason(MessageId::kArchiverFolder);
        case S_IFIFO: return Reason(MessageId::kArchiverNamedPipe);
        case S_IFCHR:
        case S_IFBLK: return Reason(MessageId::kArchiverDevice);
        case S_IFSOCK: return Reason(MessageId::kArchiverSocket);
        default: return Reason(MessageId::kArchiverSpecialFile);
    }
}

// Where an entry is: a folder descriptor and a name relative to it. Paths
// the kernel takes in one piece are used as they are; for a longer one the
// folder holding the entry is opened a stretch at a time.
struct Location {
    tessarine::UniqueFd folder;
    int dirFd = AT_FDCWD;
    std::string leaf;
};

bool Locate(const std::string& path, Location& at) {
    if (path.size() < PATH_MAX) {
        at.leaf = path;
        return true;
    }
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        errno = ENAMETOOLONG;
        return false;
    }
    at.folder.Reset(
        tessarine::OpenLongPath(AT_FDCWD, std::string_view(path).substr(0, slash + 1), O_PATH | O_DIRECTORY));
    if (!at.folder) return false;
    at.dirFd = at.folder.Get();
    at.leaf = path.substr(slash + 1);
    return true;
}

// The entry `rel` beneath the folder `base`: its folder is opened beneath
// `base` without following a link, so a folder that was swapped for a link
// after the collection is not read through.
bool LocateBeneath(int base, std::string_view rel, Location& at) {
    while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
    const size_t slash = rel.rfind('/');
    at.leaf = std::string(slash == std::string_view::npos ? rel : rel.substr(slash + 1));
    at.folder.Reset(tessarine::OpenBeneath(base, slash == std::string_view::npos ? "" : rel.substr(0, slash), O_PATH));
    if (!at.folder) {
        if (errno == ELOOP || errno == ENOTDIR || errno == EXDEV) errno = ELOOP;
        return false;
    }
    at.dirFd = at.folder.Get();
    return !at.leaf.empty() || (errno = ENOENT, false);
}

// Opens the regular file `leaf` (whose lstat/stat is `seen`) for reading,
// never blocking and never reading anything else: the file opened must be
// the one that was looked at, and never through a link.
AddResult OpenRegular(const Location& at, struct ::stat& st, tessarine::UniqueFd& file, Message& reason) {
    if (!S_ISREG(st.st_mode)) {
        reason = TypeReason(st.st_mode);
        return AddResult::Unreadable;
    }
    if (static_cast<uint64_t>(st.st_size) >= kSizeLimit) {
        reason = ReasonFor(AddResult::TooLarge);
        return AddResult::TooLarge;
    }
    const int flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW;
    file.Reset(::openat(at.dirFd, at.leaf.c_str(), flags));
    struct ::stat opened {};
    if (!file || ::fstat(file.Get(), &opened) != 0) {
        reason = SystemReason(errno);
        file.Reset();
        return AddResult::Unreadable;
    }
    if (!S_ISREG(opened.st_mode) || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
        reason = Reason(MessageId::kArchiverChangedWhileRead);
        file.Reset();
        return AddResult::Unreadable;
    }
    st = opened;
    if (static_cast<uint64_t>(st.st_size) >= kSizeLimit) {
        reason = ReasonFor(AddResult::TooLarge);
        file.Reset();
        return AddResult::TooLarge;
    }
    ::fcntl(file.Get(), F_SETFL, ::fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK);
    return AddResult::Added;
}

// A member whose path its header cannot hold, left out.
PreparedMember TooLongForHeader(PreparedMember m) {
    m.result = AddResult::NameTooLong;
    m.reason = ReasonFor(m.result);
    return m;
}

}  // namespace

PreparedMember PrepareMember(const std::string& fullPath, const std::string& storedPath) {
    return PrepareMember(-1, fullPath, storedPath);
}

PreparedMember PrepareMember(int base, const std::string& path, const std::string& storedPath) {
    PreparedMember m;
    const std::string clean = CleanRelativePath(storedPath);
    if (clean.empty()) {
        m.result = AddResult::UnsafeName;
        m.reason = ReasonFor(m.result);
        return m;
    }
    Location at;
    struct ::stat st {};
    const bool located = base >= 0 ? LocateBeneath(base, path, at) : Locate(path, at);
    if (!located || ::fstatat(at.dirFd, at.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        m.reason = errno == ELOOP ? Reason(MessageId::kArchiverChangedWhileRead) : SystemReason(errno);
        return m;
    }
    if (S_ISLNK(st.st_mode)) {
        std::string target(4096, '\0');
        const ssize_t n = ::readlinkat(at.dirFd, at.leaf.c_str(), target.data(), target.size());
        if (n < 0) {
            m.reason = SystemReason(errno);
            return m;
        }
        target.resize(static_cast<size_t>(n));
        // A link is stored as a link or left out, never as what it points to.
        m.reason = LinkHeader(st, clean, target, m.header);
        if (m.reason) return m;
        if (HeaderSize(m.header) > kMaxHeaderSize) return TooLongForHeader(std::move(m));
        m.held = true;
        m.result = AddResult::Added;
        return m;
    }
    tessarine::UniqueFd fd;
    m.result = OpenRegular(at, st, fd, m.reason);
    if (m.result != AddResult::Added) return m;
    m.header = BaseHeader(st, clean);
    if (HeaderSize(m.header) > kMaxHeaderSize) return TooLongForHeader(std::move(m));
    if (static_cast<uint64_t>(st.st_size) > kHoldLimit) {
        m.file = std::move(fd);
        m.streamed = true;  // the writer reads it straight into the archive
        return m;
    }
    std::vector<uint8_t> raw(static_cast<size_t>(st.st_size) + 1);
    size_t got = 0;
    for (;;) {
        if (got == raw.size()) {
            if (raw.size() > 2 * kHoldLimit) {  // grew a lot since fstat
                if (::lseek(fd.Get(), 0, SEEK_SET) != 0) {
                    m.result = AddResult::Unreadable;
                    m.reason = SystemReason(errno);
                    return m;
                }
                m.file = std::move(fd);
                m.streamed = true;
                return m;
            }
            raw.resize(raw.size() * 2);
        }
        const ssize_t n = ReadFull(fd.Get(), raw.data() + got, raw.size() - got);
        if (n < 0) {
            m.result = AddResult::Unreadable;
            m.reason = SystemReason(errno);
            return m;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    fd.Reset();
    raw.resize(got);
    std::vector<uint8_t> packed = lh5::Compress(raw.data(), raw.size());
    m.header.crc = Crc16(0, raw.data(), raw.size());
    m.header.originalSize = static_cast<uint32_t>(got);
    if (packed.size() < raw.size()) {
        m.header.method = "-lh5-";
        m.data = std::move(packed);
    } else {
        // Compression did not pay: store the bytes as they are.
        m.header.method = "-lh0-";
        m.data = std::move(raw);
    }
    m.header.packedSize = static_cast<uint32_t>(m.data.size());
    m.held = true;
    return m;
}

ArchiveWriter::ArchiveWriter(int fd) : out_(new Output(fd)) {}

ArchiveWriter::~ArchiveWriter() { delete out_; }

AddResult ArchiveWriter::AddFile(const std::string& fullPath, const std::string& storedPath) {
    PreparedMember m = PrepareMember(fullPath, storedPath);
    return Add(m);
}

AddResult ArchiveWriter::Add(PreparedMember& m) {
    if (m.result != AddResult::Added) return m.result;
    if (m.held) {
        const std::vector<uint8_t> header = BuildHeader(m.header);
        out_->Put(header.data(), header.size());
        out_->Put(m.data.data(), m.data.size());
        last_ = m.header;
        return AddResult::Added;
    }
    const AddResult result = AddContent(m.file.Get(), m.header);
    m.file.Reset();
    if (result != AddResult::Added) {
        m.result = result;
        m.reason = ReasonFor(result);
    }
    return result;
}

AddResult ArchiveWriter::AddContent(int fd, MemberHeader h) {
    const uint64_t entryStart = out_->Tell();
    // The header's length does not depend on the sizes, method or CRC, so a
    // placeholder is written now and completed when the data is known.
    const std::vector<uint8_t> placeholder = BuildHeader(h);
    out_->Put(placeholder.data(), placeholder.size());
    const uint64_t dataStart = out_->Tell();

    std::vector<uint8_t> kept;  // the whole file while it stays small
    std::vector<uint8_t> chunk(kChunk);
    uint64_t total = 0;
    uint16_t crc = 0;
    bool keep = true;
    {
        lh5::Encoder encoder(*out_);
        for (;;) {
            const ssize_t n = ReadFull(fd, chunk.data(), chunk.size());
            if (n < 0) {
                out_->TruncateTo(entryStart);
                return AddResult::Unreadable;
            }
            if (n == 0) break;
            total += static_cast<uint64_t>(n);
            if (total >= kSizeLimit) {  // grew while being read
                out_->TruncateTo(entryStart);
                return AddResult::TooLarge;
            }
            crc = Crc16(crc, chunk.data(), static_cast<size_t>(n));
            if (keep && total <= kKeepInMemory)
                kept.insert(kept.end(), chunk.begin(), chunk.begin() + n);
            else
                keep = false;
            encoder.Write(chunk.data(), static_cast<size_t>(n));
        }
        encoder.Finish();
    }
    uint64_t packed = out_->Tell() - dataStart;
    if (packed >= total) {
        // Compression did not pay: store the bytes as they are.
        out_->TruncateTo(dataStart);
        h.method = "-lh0-";
        if (keep) {
            out_->Put(kept.data(), kept.size());
        } else {
            if (::lseek(fd, 0, SEEK_SET) != 0) {
                out_->TruncateTo(entryStart);
                return AddResult::Unreadable;
            }
            uint64_t again = 0;
            uint16_t crcAgain = 0;
            for (;;) {
                const ssize_t n =
                    ReadFull(fd, chunk.data(), static_cast<size_t>(std::min<uint64_t>(chunk.size(), total - again)));
                if (n < 0) {
                    out_->TruncateTo(entryStart);
                    return AddResult::Unreadable;
                }
                if (n == 0) break;
                again += static_cast<uint64_t>(n);
                crcAgain = Crc16(crcAgain, chunk.data(), static_cast<size_t>(n));
                out_->Put(chunk.data(), static_cast<size_t>(n));
            }
            if (again != total || crcAgain != crc) {  // changed between the two reads
                out_->TruncateTo(entryStart);
                return AddResult::Unreadable;
            }
        }
        packed = total;
    }
    h.packedSize = static_cast<uint32_t>(packed);
    h.originalSize = static_cast<uint32_t>(total);
    h.crc = crc;
    out_->Patch(entryStart, BuildHeader(h));
    last_ = h;
    return AddResult::Added;
}

void ArchiveWriter::Finish() {
    const uint8_t endMark = 0;
    out_->Put(&endMark, 1);
    out_->Flush();
}

}  // namespace lha
