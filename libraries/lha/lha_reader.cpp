#include "libraries/lha/lha_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/crc16.h"
#include "engine/datafile.h"
#include "engine/unique_fd.h"

namespace tessarine {

namespace {

// -lh5-: an 8 KiB window, lengths 3..256, blocks of static Huffman codes.
constexpr int kNC = 510;  // literal/length alphabet
constexpr int kCBit = 9;
constexpr int kNT = 19;  // code-length alphabet
constexpr int kTBit = 5;
constexpr int kNP = 14;  // position alphabet (bit lengths 0..13)
constexpr int kPBit = 4;
constexpr int kMaxLength = 16;
constexpr int kLookBits = 10;  // codes up to this long are decoded by one table look-up

uint32_t LE(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// The compressed bytes of one member, from a file or from memory.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes; 0 at the end, -1 on a read error.
    virtual ssize_t Read(uint8_t* data, size_t size) = 0;
};

class MemorySource : public ByteSource {
public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), left_(size) {}
    ssize_t Read(uint8_t* data, size_t size) override {
        const size_t n = std::min(size, left_);
        std::memcpy(data, data_, n);
        data_ += n;
        left_ -= n;
        return static_cast<ssize_t>(n);
    }

private:
    const uint8_t* data_;
    size_t left_;
};

class FileSource : public ByteSource {
public:
    FileSource(int fd, uint64_t offset, uint64_t size) : fd_(fd), offset_(offset), left_(size) {}
    ssize_t Read(uint8_t* data, size_t size) override {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(size, left_));
        if (want == 0) return 0;
        ssize_t n;
        do n = ::pread(fd_, data, want, static_cast<off_t>(offset_));
        while (n < 0 && errno == EINTR);
        if (n <= 0) return n < 0 ? -1 : 0;
        offset_ += static_cast<uint64_t>(n);
        left_ -= static_cast<uint64_t>(n);
        return n;
    }

private:
    int fd_;
    uint64_t offset_;
    uint64_t left_;
};

// Bits first to last, most significant bit of each byte first. Past the
// end of the data it yields zero bits and counts them, so that a stream
// that needs more than it holds is told apart from one that ends cleanly.
class BitReader {
public:
    explicit BitReader(ByteSource& source) : source_(source) {}

    uint32_t Peek(int n) {
        if (bits_ < n) Fill();
        return n == 0 ? 0 : static_cast<uint32_t>(buffer_ >> (64 - n));
    }
    void Skip(int n) {
        if (bits_ < n) Fill();
        if (n == 0) return;
        buffer_ = n == 64 ? 0 : buffer_ << n;
        bits_ -= n;
        consumed_ += static_cast<uint64_t>(n);
    }
    uint32_t Get(int n) {
        const uint32_t v = Peek(n);
        Skip(n);
        return v;
    }
    uint64_t ConsumedBits() const { return consumed_; }
    bool ReadFailed() const { return failed_; }

private:
    ByteSource& source_;
    std::array<uint8_t, 1 << 16> bytes_{};
    size_t pos_ = 0, len_ = 0;
    uint64_t buffer_ = 0;
    int bits_ = 0;
    uint64_t consumed_ = 0;
    bool ended_ = false;
    bool failed_ = false;

    void Fill() {
        while (bits_ <= 56) {
            if (pos_ == len_ && !ended_) {
                const ssize_t n = source_.Read(bytes_.data(), bytes_.size());
                if (n <= 0) {
                    ended_ = true;
                    failed_ = n < 0;
                }
                pos_ = 0;
                len_ = n > 0 ? static_cast<size_t>(n) : 0;
            }
            const uint64_t byte = pos_ < len_ ? bytes_[pos_++] : 0;
            buffer_ |= byte << (56 - bits_);
            bits_ += 8;
        }
    }
};

// A canonical Huffman code as the format defines it: shorter codes first,
// equal lengths in symbol order; the code must be complete.
class Huffman {
public:
    bool Build(const uint8_t* lengths, int n) {
        single_ = -1;
        std::array<uint32_t, kMaxLength + 2> count{};
        for (int i = 0; i < n; ++i) ++count[lengths[i]];
        uint32_t code = 0, total = 0;
        uint32_t offset = 0;
        for (int l = 1; l <= kMaxLength; ++l) {
            first_[l] = code;
            offset_[l] = offset;
            count_[l] = count[l];
            code = (code + count[l]) << 1;
            offset += count[l];
            total += count[l] << (kMaxLength - l);
        }
        if (total != (1u << kMaxLength)) return false;
        std::array<uint32_t, kMaxLength + 1> next{};
        for (int l = 1; l <= kMaxLength; ++l) next[l] = offset_[l];
        for (int s = 0; s < n; ++s)
            if (lengths[s] != 0) sorted_[next[lengths[s]]++] = static_cast<uint16_t>(s);
        table_.fill(-1);
        for (int l = 1; l <= kLookBits; ++l) {
            for (uint32_t k = 0; k < count_[l]; ++k) {
                const uint32_t c = first_[l] + k;
                const int32_t entry = (static_cast<int32_t>(sorted_[offset_[l] + k]) << 5) | l;
                const uint32_t from = c << (kLookBits - l), to = (c + 1) << (kLookBits - l);
                for (uint32_t t = from; t < to; ++t) table_[t] = entry;
            }
        }
        return true;
    }
    void Single(int symbol) { single_ = symbol; }

    // The next symbol, or -1 for a bit pattern that is no code.
    int Decode(BitReader& in) const {
        if (single_ >= 0) return single_;
        const int32_t entry = table_[in.Peek(kLookBits)];
        if (entry >= 0) {
            in.Skip(entry & 31);
            return entry >> 5;
        }
        const uint32_t bits = in.Peek(kMaxLength);
        for (int l = kLookBits + 1; l <= kMaxLength; ++l) {
            const uint32_t c = bits >> (kMaxLength - l);
            if (c >= first_[l] && c - first_[l] < count_[l]) {
                in.Skip(l);
                return sorted_[offset_[l] + c - first_[l]];
            }
        }
        return -1;
    }

private:
    int single_ = -1;
    std::array<uint32_t, kMaxLength + 1> first_{}, offset_{}, count_{};
    std::array<uint16_t, kNC> sorted_{};
    std::array<int32_t, 1 << kLookBits> table_{};
};

// The lengths of the code-length or position code; false when damaged.
bool ReadPtLengths(BitReader& in, int nn, int nbit, int special, Huffman& code) {
    std::array<uint8_t, kNT> lengths{};
    const int n = static_cast<int>(in.Get(nbit));
    if (n == 0) {
        const int c = static_cast<int>(in.Get(nbit));
        if (c >= nn) return false;
        code.Single(c);
        return true;
    }
    if (n > nn) return false;
    int i = 0;
    while (i < n) {
        int c = static_cast<int>(in.Get(3));
        if (c == 7) {
            while (in.Get(1) == 1) {
                if (++c > kMaxLength) return false;
            }
        }
        lengths[i++] = static_cast<uint8_t>(c);
        if (i == special) {
            const int zeros = static_cast<int>(in.Get(2));
            if (i + zeros > nn) return false;
            i += zeros;
        }
    }
    return code.Build(lengths.data(), nn);
}

bool ReadCLengths(BitReader& in, const Huffman& pt, Huffman& code) {
    std::array<uint8_t, kNC> lengths{};
    const int n = static_cast<int>(in.Get(kCBit));
    if (n == 0) {
        const int c = static_cast<int>(in.Get(kCBit));
        if (c >= kNC) return false;
        code.Single(c);
        return true;
    }
    if (n > kNC) return false;
    int i = 0;
    while (i < n) {
        const int c = pt.Decode(in);
        if (c < 0) return false;
        if (c <= 2) {
            // 0: one zero length; 1: 3 to 18 of them; 2: 20 to 531 of them.
            const int zeros = c == 0   ? 1
                              : c == 1 ? static_cast<int>(in.Get(4)) + 3
                                       : static_cast<int>(in.Get(kCBit)) + 20;
            if (i + zeros > n) return false;
            i += zeros;
        } else {
            lengths[i++] = static_cast<uint8_t>(c - 2);
        }
    }
    return code.Build(lengths.data(), kNC);
}

// Decodes `size` bytes, handing them to `sink` in pieces; the reason when
// the stream is damaged.
template <class Sink>
std::optional<Message> DecodeStream(BitReader& in, uint64_t size, Sink&& sink) {
    constexpr size_t kRing = 1 << 16;
    constexpr size_t kMask = kRing - 1;
    constexpr size_t kFlushAt = 1 << 15;
    std::vector<uint8_t> ring(kRing);
    Huffman pt, c, p;
    uint64_t produced = 0, handed = 0;
    uint32_t blockLeft = 0;
    const auto flush = [&] {
        while (handed < produced) {
            const size_t at = handed & kMask;
            const size_t n = static_cast<size_t>(std::min<uint64_t>(produced - handed, kRing - at));
            sink(ring.data() + at, n);
            handed += n;
        }
    };
    while (produced < size) {
        if (blockLeft == 0) {
            blockLeft = in.Get(16);
            if (blockLeft == 0) return MakeMessage(MessageId::kDecodeNoCodes);
            if (!ReadPtLengths(in, kNT, kTBit, 3, pt) || !ReadCLengths(in, pt, c) ||
                !ReadPtLengths(in, kNP, kPBit, -1, p)) {
                return MakeMessage(MessageId::kDecodeDamagedTables);
            }
        }
        --blockLeft;
        const int symbol = c.Decode(in);
        if (symbol < 0) return MakeMessage(MessageId::kDecodeInvalidCode);
        if (symbol < 256) {
            ring[produced++ & kMask] = static_cast<uint8_t>(symbol);
        } else {
            const uint32_t length = static_cast<uint32_t>(symbol) - 253;
            int j = p.Decode(in);
            if (j < 0) return MakeMessage(MessageId::kDecodeInvalidCode);
            if (j != 0) j = (1 << (j - 1)) + static_cast<int>(in.Get(j - 1));
            const uint64_t distance = static_cast<uint64_t>(j) + 1;
            if (distance > produced) return MakeMessage(MessageId::kDecodeMatchBeforeStart);
            if (produced + length > size) return MakeMessage(MessageId::kDecodeTooMuchData);
            for (uint32_t k = 0; k < length; ++k, ++produced) {
                ring[produced & kMask] = ring[(produced - distance) & kMask];
            }
        }
        if (produced - handed >= kFlushAt) flush();
        if (in.ReadFailed()) return MakeMessage(MessageId::kDecodeReadError);
    }
    flush();
    return std::nullopt;
}

std::string ToUtf8(const std::string& bytes, uint32_t codePage) {
    bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
    if (ascii || codePage != 932) return bytes;
    std::string out;
    return Cp932ToUtf8(bytes, out) ? out : bytes;
}

bool ReadAt(int fd, uint64_t offset, uint8_t* data, size_t size) {
    return ReadFullAt(fd, data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
}

}  // namespace

std::optional<std::string> DecodeLh5(const uint8_t* data, size_t packed, size_t size) {
    MemorySource source(data, packed);
    BitReader in(source);
    std::string out;
    out.reserve(size);
    const auto damaged =
        DecodeStream(in, size, [&out](const uint8_t* p, size_t n) { out.append(reinterpret_cast<const char*>(p), n); });
    if (damaged || in.ConsumedBits() > uint64_t{packed} * 8) return std::nullopt;
    return out;
}

std::optional<LhaDefect> CheckLhaArchive(const std::string& path, size_t* members) {
    if (members) *members = 0;
    const UniqueFd fd(OpenLongPath(AT_FDCWD, path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat st {};
    if (!fd || ::fstat(fd.Get(), &st) != 0) {
        return LhaDefect{{}, MakeMessage(MessageId::kDefectUnreadable, {}, errno)};
    }
    const uint64_t fileSize = static_cast<uint64_t>(st.st_size);
    uint64_t offset = 0;
    std::vector<uint8_t> header;
    while (true) {
        uint8_t first = 0;
        if (offset >= fileSize || !ReadAt(fd.Get(), offset, &first, 1)) {
            return LhaDefect{{}, MakeMessage(MessageId::kDefectLhaNoEndMark)};
        }
        if (first == 0) {
            if (offset + 1 != fileSize) return LhaDefect{{}, MakeMessage(MessageId::kDefectLhaDataAfterEnd)};
            return std::nullopt;
        }
        uint8_t base[26];
        if (offset + sizeof base > fileSize || !ReadAt(fd.Get(), offset, base, sizeof base)) {
            return LhaDefect{{}, MakeMessage(MessageId::kDefectLhaEndsInHeader)};
        }
        if (base[20] != 2)
            return LhaDefect{{}, MakeMessage(MessageId::kDefectLhaHeaderLevel, {std::to_string(base[20])})};
        const uint32_t headerSize = LE(base, 2);
        if (headerSize < sizeof base || offset + headerSize > fileSize)
            return LhaDefect{{}, MakeMessage(MessageId::kDefectLhaEndsInHeader)};
        header.resize(headerSize);
        if (!ReadAt(fd.Get(), offset, header.data(), headerSize))
            return LhaDefect{{}, MakeMessage(MessageId::kDefectLhaCannotRead)};

        const std::string method(reinterpret_cast<const char*>(&header[2]), 5);
        const uint32_t packed = LE(&header[7], 4);
        const uint32_t original = LE(&header[11], 4);
        const uint16_t crc = static_cast<uint16_t>(LE(&header[21], 2));
        std::string name, dir;
        uint32_t codePage = 932;
        std::optional<size_t> headerCrcAt;
        size_t at = 24;
        uint32_t next = LE(&header[at], 2);
        at += 2;
        bool broken = false;
        while (next != 0) {
            if (next < 3 || at + next > headerSize) {
                broken = true;
                break;
            }
            const uint8_t type = header[at];
            const uint8_t* data = &header[at + 1];
            const size_t dataSize = next - 3;
            if (type == 0x00 && dataSize >= 2) headerCrcAt = at + 1;
            if (type == 0x01) name.assign(reinterpret_cast<const char*>(data), dataSize);
            if (type == 0x02) {
                dir.assign(reinterpret_cast<const char*>(data), dataSize);
                std::replace(dir.begin(), dir.end(), '\xFF', '/');
            }
            if (type == 0x46 && dataSize >= 4) codePage = LE(data, 4);
            at += next;
            next = LE(&header[at - 2], 2);
        }
        const std::string entry = ToUtf8(dir + name, codePage);
        if (broken) return LhaDefect{entry, MakeMessage(MessageId::kDefectLhaHeaderDamaged)};
        if (headerCrcAt) {
            const uint16_t stored = static_cast<uint16_t>(LE(&header[*headerCrcAt], 2));
            header[*headerCrcAt] = header[*headerCrcAt + 1] = 0;
            if (Crc16(0, header.data(), header.size()) != stored)
                return LhaDefect{entry, MakeMessage(MessageId::kDefectLhaHeaderCrc)};
        }
        const uint64_t dataAt = offset + headerSize;
        if (dataAt + packed > fileSize) return LhaDefect{entry, MakeMessage(MessageId::kDefectLhaCutShort)};

        FileSource source(fd.Get(), dataAt, packed);
        uint16_t computed = 0;
        uint64_t size = 0;
        if (method == "-lhd-") {
            if (packed != 0) return LhaDefect{entry, MakeMessage(MessageId::kDefectLhaFolderWithData)};
        } else if (method == "-lh0-") {
            if (packed != original) return LhaDefect{entry, MakeMessage(MessageId::kDefectLhaTwoSizes)};
            std::vector<uint8_t> chunk(1 << 16);
            uint64_t left = packed;
            while (left > 0) {
                const ssize_t n = source.Read(chunk.data(), chunk.size());
                if (n <= 0) return LhaDefect{entry, MakeMessage(MessageId::kDefectLhaCannotRead)};
                computed = Crc16(computed, chunk.data(), static_cast<size_t>(n));
                size += static_cast<uint64_t>(n);
                left -= static_cast<uint64_t>(n);
            }
        } else if (method == "-lh5-") {
            BitReader in(source);
            const auto damaged = DecodeStream(in, original, [&](const uint8_t* p, size_t n) {
                computed = Crc16(computed, p, n);
                size += n;
            });
            if (damaged) return LhaDefect{entry, Because(MessageId::kDefectLhaDoesNotDecode, *damaged)};
            if (in.ConsumedBits() > uint64_t{packed} * 8)
                return LhaDefect{entry, MakeMessage(MessageId::kDefectLhaNeedsMoreData)};
        } else {
            return LhaDefect{entry, MakeMessage(MessageId::kDefectLhaMethodNotChecked, {method})};
        }
        if (size != original) return LhaDefect{entry, MakeMessage(MessageId::kDefectLhaWrongSize)};
        if (computed != crc) return LhaDefect{entry, MakeMessage(MessageId::kDefectLhaWrongCrc)};
        if (members) ++*members;
        offset = dataAt + packed;
    }
}

}  // namespace tessarine
