// The -lh5- encoder on its own: every stream it makes must decode to the
// input. The decoder here is a plain reading of the format, written for the
// tests only, and strict: it rejects code lengths over 16 bits, tables that
// overrun their alphabets and matches that reach before the start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "libraries/lha/lh5_encoder.h"
#include "libraries/lha/lh5_huffman.h"
#include "engine/crc16.h"

namespace {

using Bytes = std::vector<uint8_t>;

class BitReader {
public:
    explicit BitReader(const Bytes& data) : data_(data) {}
    uint32_t Get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) {
            const size_t byte = pos_ >> 3;
            const int bit = byte < data_.size() ? (data_[byte] >> (7 - (pos_ & 7))) & 1 : 0;
            if (byte >= data_.size()) overrun_ = true;
            v = (v << 1) | static_cast<uint32_t>(bit);
            ++pos_;
        }
        return v;
    }
    bool overrun() const { return overrun_; }

private:
    const Bytes& data_;
    size_t pos_ = 0;
    bool overrun_ = false;
};

struct Table {
    std::vector<uint8_t> len;  // code length of each symbol, 0 when unused
    int single = -1;           // the one symbol of a table sent without code bits
};

// Canonical decoding: symbols sorted by code length, then by value.
struct FastTable {
    int single = -1;
    int count[17] = {};
    std::vector<int> sorted;
    explicit FastTable(const Table& t) : single(t.single) {
        for (int l = 1; l <= 16; ++l)
            for (size_t s = 0; s < t.len.size(); ++s)
                if (t.len[s] == l) {
                    sorted.push_back(static_cast<int>(s));
                    ++count[l];
                }
    }
    int Decode(BitReader& in) const {
        if (single >= 0) return single;
        int code = 0, first = 0, index = 0;
        for (int l = 1; l <= 16; ++l) {
            code |= static_cast<int>(in.Get(1));
            if (code - first < count[l]) return sorted[static_cast<size_t>(index + code - first)];
            index += count[l];
            first = (first + count[l]) << 1;
            code <<= 1;
        }
        throw std::runtime_error("no code matches");
    }
};

Table ReadPtTable(BitReader& in, int size, int nbit, int special) {
    Table t;
    t.len.assign(static_cast<size_t>(size), 0);
    const int n = static_cast<int>(in.Get(nbit));
    if (n == 0) {
        t.single = static_cast<int>(in.Get(nbit));
        if (t.single >= size) throw std::runtime_error("single code out of range");
        return t;
    }
    if (n > size) throw std::runtime_error("table too long");
    int i = 0;
    while (i < n) {
        int c = static_cast<int>(in.Get(3));
        if (c == 7)
            while (in.Get(1) == 1) ++c;
        if (c > 16) throw std::runtime_error("code longer than 16 bits");
        t.len[static_cast<size_t>(i++)] = static_cast<uint8_t>(c);
        if (i == special) {
            int skip = static_cast<int>(in.Get(2));
            if (i + skip > n) throw std::runtime_error("zero run past the table");
            while (skip-- > 0) t.len[static_cast<size_t>(i++)] = 0;
        }
    }
    return t;
}

Table ReadCTable(BitReader& in, const FastTable& pre) {
    Table t;
    t.len.assign(510, 0);
    const int n = static_cast<int>(in.Get(9));
    if (n == 0) {
        t.single = static_cast<int>(in.Get(9));
        if (t.single >= 510) throw std::runtime_error("single code out of range");
        return t;
    }
    if (n > 510) throw std::runtime_error("table too long");
    int i = 0;
    while (i < n) {
        const int c = pre.Decode(in);
        if (c <= 2) {
            int count = c == 0 ? 1 : c == 1 ? static_cast<int>(in.Get(4)) + 3 : static_cast<int>(in.Get(9)) + 20;
            if (i + count > n) throw std::runtime_error("zero run past the table");
            while (count-- > 0) t.len[static_cast<size_t>(i++)] = 0;
        } else {
            if (c - 2 > 16) throw std::runtime_error("code longer than 16 bits");
            t.len[static_cast<size_t>(i++)] = static_cast<uint8_t>(c - 2);
        }
    }
    return t;
}

Bytes Decode(const Bytes& stream, size_t originalSize, int* blocks = nullptr) {
    BitReader in(stream);
    Bytes out;
    out.reserve(originalSize);
    int blockCount = 0;
    while (out.size() < originalSize) {
        int codes = static_cast<int>(in.Get(16));
        if (codes == 0) throw std::runtime_error("empty block");
        ++blockCount;
        const FastTable pre(ReadPtTable(in, 19, 5, 3));
        const FastTable c(ReadCTable(in, pre));
        const FastTable p(ReadPtTable(in, 14, 4, -1));
        while (codes-- > 0 && out.size() < originalSize) {
            const int sym = c.Decode(in);
            if (sym < 256) {
                out.push_back(static_cast<uint8_t>(sym));
                continue;
            }
            const int length = sym - 253;
            int bits = p.Decode(in);
            uint32_t back = bits <= 1 ? static_cast<uint32_t>(bits) : (1u << (bits - 1)) | in.Get(bits - 1);
            const size_t dist = back + 1;
            if (dist > out.size() || dist > 8192) throw std::runtime_error("match before the start");
            for (int k = 0; k < length; ++k) out.push_back(out[out.size() - dist]);
        }
    }
    if (in.overrun()) throw std::runtime_error("read past the end of the stream");
    if (blocks) *blocks = blockCount;
    return out;
}

Bytes TextLike(size_t size, uint32_t seed) {
    static const char* words[] = {"int ", "return ", "struct ",  "const ",  "char* ",    "void ",   "(", ");\n",
                                  "{\n",  "}\n",     "#define ", "static ", "unsigned ", "size_t ", "=", " "};
    std::mt19937 rng(seed);
    Bytes out;
    while (out.size() < size) {
        const char* w = words[rng() % 16];
        for (const char* p = w; *p && out.size() < size; ++p) out.push_back(static_cast<uint8_t>(*p));
        if (rng() % 5 == 0) out.push_back(static_cast<uint8_t>('a' + rng() % 26));
    }
    out.resize(size);
    return out;
}

Bytes Random(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(size);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

void ExpectRoundTrip(const Bytes& input, const lh5::EncoderOptions& options = {}) {
    const Bytes packed = lh5::Compress(input.data(), input.size(), options);
    Bytes back;
    ASSERT_NO_THROW(back = Decode(packed, input.size())) << "size " << input.size();
    ASSERT_EQ(back.size(), input.size());
    EXPECT_TRUE(back == input) << "size " << input.size();
}

}  // namespace

TEST(Lh5Encoder, RoundTripsSizesAroundWindowAndBlockBoundaries) {
    const std::vector<size_t> sizes = {0,    1,    2,    3,     4,     255,   256,   257,
                                       8191, 8192, 8193, 16384, 65535, 65536, 65537, 3 * 8192 + 1};
    for (const size_t size : sizes) {
        ExpectRoundTrip(TextLike(size, 1));
        ExpectRoundTrip(Bytes(size, 'x'));
        ExpectRoundTrip(Random(size, 2));
    }
}

TEST(Lh5Encoder, RoundTripsMatchesAtTheFarEdgeOfTheWindow) {
    // A random block repeated: every match is exactly 8192 bytes back, the
    // longest distance the format has.
    const Bytes block = Random(8192, 3);
    Bytes input;
    for (int i = 0; i < 5; ++i) input.insert(input.end(), block.begin(), block.end());
    ExpectRoundTrip(input);
    // One byte short of the window: matches 8191 back.
    Bytes shorter;
    for (int i = 0; i < 5; ++i) shorter.insert(shorter.end(), block.begin(), block.end() - 1);
    ExpectRoundTrip(shorter);
    const Bytes packed = lh5::Compress(input.data(), input.size());
    EXPECT_LT(packed.size(), 8192u + 8192u / 4) << "repeats beyond the first block should cost little";
}

TEST(Lh5Encoder, RoundTripsLongRunsAndMixedData) {
    const Bytes run(1 << 20, 0);
    ExpectRoundTrip(run);
    // 256-byte matches of one code each: a few bits per 256 bytes.
    EXPECT_LT(lh5::Compress(run.data(), run.size()).size(), 2000u);
    Bytes mixed = TextLike(100000, 5);
    const Bytes noise = Random(50000, 6);
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    mixed.insert(mixed.end(), 70000, 'z');
    const Bytes more = TextLike(90000, 7);
    mixed.insert(mixed.end(), more.begin(), more.end());
    ExpectRoundTrip(mixed);
}

TEST(Lh5Encoder, BlockSizesDownToOneCodeStillDecode) {
    // Tiny blocks give tables with a single symbol, sent without code bits.
    const Bytes input = TextLike(20000, 8);
    for (const int codes : {1, 2, 3, 100, 65535}) {
        lh5::EncoderOptions options;
        options.blockCodes = codes;
        ExpectRoundTrip(input, options);
    }
    int blocks = 0;
    const Bytes packed = lh5::Compress(input.data(), input.size(), {256, 256, 100});
    Decode(packed, input.size(), &blocks);
    EXPECT_GT(blocks, 10);
}

TEST(Lh5Encoder, PiecewiseInputGivesTheSameStreamAsOneWrite) {
    const Bytes input = TextLike(700000, 9);
    const Bytes whole = lh5::Compress(input.data(), input.size());
    for (const size_t piece : {size_t{1}, size_t{7}, size_t{8192}, size_t{100001}}) {
        lh5::VectorSink sink;
        lh5::Encoder encoder(sink);
        for (size_t at = 0; at < input.size(); at += piece)
            encoder.Write(input.data() + at, std::min(piece, input.size() - at));
        encoder.Finish();
        EXPECT_EQ(encoder.bytesIn(), input.size());
        EXPECT_EQ(encoder.bytesOut(), sink.bytes.size());
        EXPECT_TRUE(sink.bytes == whole) << "piece " << piece;
    }
}

TEST(Lh5Huffman, FibonacciFrequenciesAreFlattenedToSixteenBitsAndStayComplete) {
    // Fibonacci counts give an unrestricted Huffman tree 29 levels deep.
    std::vector<uint32_t> freq(510, 0);
    uint32_t a = 1, b = 1;
    for (int k = 0; k < 30; ++k) {
        freq[static_cast<size_t>(k * 17)] = a;
        const uint32_t next = a + b;
        a = b;
        b = next;
    }
    std::vector<uint8_t> len(510);
    int single = -1;
    ASSERT_EQ(lh5::detail::BuildLengths(freq.data(), 510, len.data(), single), 30);
    uint64_t kraft = 0;  // in units of 2^-16
    for (size_t s = 0; s < len.size(); ++s) {
        if (freq[s] == 0) {
            EXPECT_EQ(len[s], 0);
            continue;
        }
        ASSERT_GE(len[s], 1);
        ASSERT_LE(len[s], 16);
        kraft += uint64_t{1} << (16 - len[s]);
    }
    EXPECT_EQ(kraft, uint64_t{1} << 16) << "the code must be complete, neither over- nor under-full";
    // A more frequent symbol never gets a longer code.
    for (int k = 1; k < 30; ++k) EXPECT_LE(len[static_cast<size_t>(k * 17)], len[static_cast<size_t>((k - 1) * 17)]);
}

TEST(Lh5Huffman, OneOrNoSymbolNeedsNoCodeBits) {
    std::vector<uint32_t> freq(14, 0);
    std::vector<uint8_t> len(14, 9);
    int single = -1;
    EXPECT_EQ(lh5::detail::BuildLengths(freq.data(), 14, len.data(), single), 0);
    freq[5] = 42;
    EXPECT_EQ(lh5::detail::BuildLengths(freq.data(), 14, len.data(), single), 1);
    EXPECT_EQ(single, 5);
    for (const uint8_t l : len) EXPECT_EQ(l, 0);
}

TEST(Lh5Encoder, RoundTripsRepeatsOfThreeBytesAndNearerShorterMatches) {
    // Repeats that share only 3 bytes (found apart from the 4-byte chains),
    // and long repeats far back with shorter ones near, where the nearer,
    // shorter match is the one taken; both right at the window's far edge.
    std::mt19937 rng(11);
    Bytes input;
    const Bytes far = Random(300, 12);
    for (int i = 0; i < 400; ++i) {
        const uint8_t a = static_cast<uint8_t>(rng()), b = static_cast<uint8_t>(rng());
        for (int k = 0; k < 3; ++k) {
            input.insert(input.end(), {a, b, static_cast<uint8_t>(k), static_cast<uint8_t>(rng())});
        }
        if (i % 50 == 0) input.insert(input.end(), far.begin(), far.end());
        if (i % 7 == 0) input.insert(input.end(), far.begin(), far.begin() + 1 + i % 40);
    }
    while (input.size() % 8192 != 8189) input.push_back(static_cast<uint8_t>(rng()));
    input.insert(input.end(), input.begin(), input.begin() + 3);
    const Bytes copy = input;
    input.insert(input.end(), copy.begin(), copy.end());
    ExpectRoundTrip(input);
    for (const int chain : {1, 4, 4096}) ExpectRoundTrip(input, {chain, 256, 32768});
}

TEST(Lh5Encoder, RoundTripsMatchesThatReachBackIntoTheCodesBefore) {
    // Phrases of a few short words, repeated with changes: each match tends
    // to reach back into the one before it or over the literals before it,
    // and the one before is then coded anew, shorter or nearer. Past 256 KiB
    // the input buffer slides under the codes being chosen.
    std::mt19937 rng(21);
    std::vector<Bytes> words;
    for (int i = 0; i < 40; ++i) {
        Bytes w(2 + rng() % 9);
        for (auto& b : w) b = static_cast<uint8_t>('a' + rng() % 4);
        words.push_back(w);
    }
    Bytes input;
    while (input.size() < 700000) {
        const Bytes& w = words[rng() % (input.size() < 300000 ? 40 : 8)];
        input.insert(input.end(), w.begin(), w.end());
        if (rng() % 3 == 0) input.push_back(static_cast<uint8_t>('a' + rng() % 6));
    }
    for (const int chain : {1, 4, 144}) ExpectRoundTrip(input, {chain, 256, 32768});
    ExpectRoundTrip(Bytes(input.begin(), input.begin() + 5000), {144, 256, 7});
}

// The checksum of every member: eight bytes are taken at a time, so every
// length and start around that step must give what one byte at a time does.
TEST(Crc16, AgreesWithTheBytewiseDefinitionAtEveryLengthAndOffset) {
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(tessarine::Crc16(0, check, sizeof check), 0xBB3D);
    std::mt19937 rng(7);
    Bytes data(100);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    auto bytewise = [](uint16_t crc, const uint8_t* p, size_t n) {
        for (size_t i = 0; i < n; ++i) {
            crc ^= p[i];
            for (int j = 0; j < 8; ++j) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
        }
        return crc;
    };
    for (size_t start = 0; start < 9; ++start)
        for (size_t n = 0; start + n <= data.size(); ++n)
            ASSERT_EQ(tessarine::Crc16(0x1234, data.data() + start, n), bytewise(0x1234, data.data() + start, n))
                << start << " " << n;
}
