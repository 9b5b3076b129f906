#include "libraries/lha/lh5_encoder.h"

#include "libraries/lha/lh5_huffman.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <climits>
#include <cstring>
#include <utility>

namespace lh5 {

namespace {

constexpr int kDicBits = 13;
constexpr int kDicSize = 1 << kDicBits;  // 8192: the farthest a match may reach
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 256;
// Literal/length alphabet: 256 bytes plus the lengths 3..256.
constexpr int kNC = 256 + kMaxMatch - kMinMatch + 1;  // 510
constexpr int kCBit = 9;
// Code-length alphabet used to send the literal/length lengths.
constexpr int kNT = 16 + 3;  // 19
constexpr int kTBit = 5;
// Position alphabet: the bit length of (distance - 1), 0..13.
constexpr int kNP = kDicBits + 1;  // 14
constexpr int kPBit = 4;
constexpr int kMaxCodeLength = 16;

// Input buffer: the 8 KiB history plus room to read ahead. Sliding keeps the
// hash-chain slots in place because it always moves by a multiple of the
// chain table size.
constexpr int kChainSize = 2 * kDicSize;  // chain slots outlive the window, so no slot is reused early
constexpr int kChainMask = kChainSize - 1;
constexpr int kBufSize = 1 << 18;
constexpr int kLookahead = kMaxMatch + kMinMatch + 1;
constexpr int kHashBits = 15;
constexpr int kHash3Bits = 14;
constexpr int kNil = -1;

int BitLength(unsigned v) { return v == 0 ? 0 : 32 - __builtin_clz(v); }

// What a match code costs, in sixteenths of a bit, as the codes of typical
// text come out: the length's code, and the position's code with its low
// bits. Nearby positions are rarer than those a few hundred bytes back, so
// their codes are the longer ones.
struct MatchPrices {
    std::array<int32_t, kMaxMatch + 1> length{};
    std::array<int32_t, kNP> position{};
    MatchPrices() {
        static constexpr double kShort[] = {4.9, 4.4, 4.9, 5.1, 5.5, 5.7, 6.1, 6.2, 6.5, 6.7, 6.8, 6.9, 6.95, 7.0};
        static constexpr double kPosition[] = {6.6, 8.5, 7.2, 6.6, 5.5, 4.3, 3.1, 2.8, 3.0, 3.0, 3.1, 3.3, 3.2, 3.1};
        for (int l = kMinMatch; l <= kMaxMatch; ++l) {
            const double bits = l <= 16 ? kShort[l - kMinMatch] : std::min(12.0, 7.0 + 1.35 * std::log2(l / 16.0));
            length[static_cast<size_t>(l)] = static_cast<int32_t>(std::lround(16 * bits));
        }
        for (int b = 0; b < kNP; ++b)
            position[static_cast<size_t>(b)] =
                static_cast<int32_t>(std::lround(16 * (kPosition[b] + (b > 1 ? b - 1 : 0))));
    }
    int32_t PositionOf(int dist) const {
        return position[static_cast<size_t>(BitLength(static_cast<unsigned>(dist - 1)))];
    }
};
const MatchPrices kPrices;

}  // namespace

namespace detail {

int BuildLengths(const uint32_t* freq, int n, uint8_t* len, int& single) {
    std::fill(len, len + n, 0);
    if (n > kNC) return 0;
    // Each leaf as one key, its count above its symbol: sorting the keys
    // orders by count, then by symbol.
    std::array<uint64_t, kNC> keys;
    int m = 0;
    for (int i = 0; i < n; ++i)
        if (freq[i] != 0) keys[static_cast<size_t>(m++)] = uint64_t{freq[i]} << 16 | static_cast<unsigned>(i);
    single = m == 1 ? static_cast<int>(keys[0] & 0xFFFF) : 0;
    if (m < 2) return m;
    std::sort(keys.begin(), keys.begin() + m);
    std::array<int, kNC> leaves;
    for (int i = 0; i < m; ++i)
        leaves[static_cast<size_t>(i)] = static_cast<int>(keys[static_cast<size_t>(i)] & 0xFFFF);
    // Two-queue construction: leaves in ascending order, then internal
    // nodes in the order they are made (which is ascending too).
    std::array<uint64_t, 2 * kNC> weight{};
    std::array<int, 2 * kNC> parent{};
    for (int i = 0; i < m; ++i) weight[i] = keys[static_cast<size_t>(i)] >> 16;
    int nextLeaf = 0, nextNode = m, made = m;
    auto takeSmallest = [&]() {
        if (nextLeaf < m && (nextNode >= made || weight[nextLeaf] <= weight[nextNode])) return nextLeaf++;
        return nextNode++;
    };
    while (made < 2 * m - 1) {
        const int a = takeSmallest();
        const int b = takeSmallest();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = made;
        ++made;
    }
    std::array<int, 2 * kNC> depth{};
    depth[2 * m - 2] = 0;
    for (int i = 2 * m - 3; i >= 0; --i) depth[i] = depth[parent[i]] + 1;
    std::array<int, kMaxCodeLength + 2> count{};
    for (int i = 0; i < m; ++i) ++count[std::min(depth[i], kMaxCodeLength)];
    // Clipping deep leaves to 16 bits overfills the code space; move leaves
    // down one level at a time until the code is complete again.
    uint32_t cum = 0;
    for (int i = 1; i <= kMaxCodeLength; ++i) cum += static_cast<uint32_t>(count[i]) << (kMaxCodeLength - i);
    while (cum > (1u << kMaxCodeLength)) {
        --count[kMaxCodeLength];
        for (int i = kMaxCodeLength - 1; i > 0; --i) {
            if (count[i] != 0) {
                --count[i];
                count[i + 1] += 2;
                break;
            }
        }
        --cum;
    }
    // Rarest symbols get the longest codes.
    int k = 0;
    for (int l = kMaxCodeLength; l > 0; --l)
        for (int c = 0; c < count[l]; ++c) len[leaves[k++]] = static_cast<uint8_t>(l);
    return m;
}

void MakeCodes(const uint8_t* len, int n, uint16_t* code) {
    std::array<uint32_t, kMaxCodeLength + 2> count{}, start{};
    for (int i = 0; i < n; ++i) ++count[len[i]];
    count[0] = 0;
    for (int i = 1; i <= kMaxCodeLength; ++i) start[i + 1] = (start[i] + count[i]) << 1;
    for (int i = 0; i < n; ++i)
        if (len[i] != 0) code[i] = static_cast<uint16_t>(start[len[i]]++);
}

}  // namespace detail

using detail::BuildLengths;
using detail::MakeCodes;

struct Encoder::State {
    ByteSink& sink;
    EncoderOptions opt;

    // Input and match finding. Most inputs are one small file each, so the
    // buffer grows with the input (up to kBufSize), and the tables are made
    // when coding starts: as small as an input that is complete by then
    // allows, full size otherwise. Memory is thus in proportion to the
    // input, and several encoders a second on small files touch little.
    // The buffer is left uninitialised: only bytes below `fill` are read.
    std::unique_ptr<uint8_t[]> buf;
    int capacity = 0;  // bytes allocated for buf
    int fill = 0;      // valid bytes in buf
    int pos = 0;       // next position to code
    std::vector<int32_t> head;
    std::vector<int32_t> head3;
    std::vector<int32_t> prev;
    int hashShift = 32 - kHashBits;
    int hash3Shift = 32 - kHash3Bits;
    int chainMask = kChainMask;
    std::unique_ptr<int32_t[]> literalCost;
    int literalCapacity = 0;
    int matchDist = 0;
    // The matches the last search met, each longer than those before it.
    struct Found {
        int count = 0;
        std::array<uint16_t, kMaxMatch + 1> len;
        std::array<uint16_t, kMaxMatch + 1> dist;
    };
    // Three lists in turn: that of the search that gave the match being
    // chosen, that of the match coded last, and one for the search being
    // tried. The searches write into `found`.
    std::array<Found, 3> lists;
    Found* found = &lists[0];
    Found* chosenFound = &lists[0];
    Found* lastFound = &lists[1];
    Found* trialFound = &lists[2];
    int previousEnd = -1;  // where the match coded last ends
    uint64_t totalIn = 0;
    uint64_t totalOut = 0;

    // The codes of the block being gathered.
    std::vector<uint16_t> codes;
    std::vector<uint16_t> positions;  // distance - 1 of each match, in order
    std::array<uint32_t, kNC> cFreq{};
    std::array<uint32_t, kNP> pFreq{};

    // Bit output.
    uint64_t bitBuf = 0;
    int bitCount = 0;
    // out holds outLen bytes; its size is room made ahead by Room(), so that
    // PutBits writes without a size check.
    std::vector<uint8_t> out;
    size_t outLen = 0;

    State(ByteSink& s, const EncoderOptions& o) : sink(s), opt(o) {
        opt.blockCodes = std::clamp(opt.blockCodes, 1, 65535);
        opt.maxChain = std::max(opt.maxChain, 1);
        opt.niceLength = std::clamp(opt.niceLength, kMinMatch, kMaxMatch);
    }

    // Makes room for `more` bytes of input beyond `fill`, up to kBufSize.
    void Reserve(size_t more) {
        const size_t want = std::min<size_t>(kBufSize, static_cast<size_t>(fill) + more);
        if (want <= static_cast<size_t>(capacity)) return;
        const int grown =
            static_cast<int>(std::max(want, std::min<size_t>(kBufSize, 2 * static_cast<size_t>(capacity))));
        // A few bytes more than the input may fill: a hash reads 4 bytes at
        // positions 3 bytes before the end.
        std::unique_ptr<uint8_t[]> bigger(new uint8_t[static_cast<size_t>(grown) + 8]);
        if (fill > 0) std::memcpy(bigger.get(), buf.get(), static_cast<size_t>(fill));
        buf = std::move(bigger);
        capacity = grown;
    }

    // The match-finding tables, made once, before the first position is
    // entered. When all input is there (`complete`), they are sized to it:
    // positions then never reach past `fill`, so a chain table of that size
    // never reuses a slot.
    void MakeTables(bool complete) {
        if (!head.empty()) return;
        int bits = kHashBits, chainSize = kChainSize;
        if (complete) {
            const int need = std::max(fill, 1);
            bits = std::clamp(BitLength(static_cast<unsigned>(need - 1)) + 1, 10, kHashBits);
            chainSize = std::min(kChainSize, 1 << std::max(10, BitLength(static_cast<unsigned>(need - 1))));
        }
        hashShift = 32 - bits;
        hash3Shift = 32 - std::min(bits, kHash3Bits);
        chainMask = chainSize - 1;
        head.assign(size_t{1} << bits, kNil);
        head3.assign(size_t{1} << (32 - hash3Shift), kNil);
        prev.assign(static_cast<size_t>(chainSize), kNil);
    }

    // The 4 bytes at p; the last of them may lie past the input.
    uint32_t Load4(int p) const {
        uint32_t v;
        std::memcpy(&v, buf.get() + p, 4);
        return v;
    }

    // Enters position p (at least 3 bytes before the end of the input):
    // the last position with its first 3 bytes becomes p, and p is linked
    // into the chain of positions that share its first 4. Returns the
    // previous last position of each.
    std::pair<int, int> Insert(int p) {
        // Both hashes from one load. A position 3 bytes before the end is
        // entered by 4 bytes too, with the byte after the input: no later
        // position is looked up, so that entry is never read.
        const uint32_t v = Load4(p);
        int32_t& h3 = head3[((v & 0xFFFFFF) * 2654435761u) >> hash3Shift];
        int32_t& h4 = head[(v * 2654435761u) >> hashShift];
        const int last3 = h3;
        const int last4 = fill - p >= 4 ? h4 : kNil;
        h3 = p;
        h4 = p;
        prev[p & chainMask] = last4;
        return {last3, last4};
    }

    // How many bytes from `m` on match those from `scan` on, up to maxLen.
    static int MatchLength(const uint8_t* m, const uint8_t* scan, int maxLen) {
        int len = 0;
        while (len + 8 <= maxLen) {
            uint64_t a, b;
            std::memcpy(&a, m + len, 8);
            std::memcpy(&b, scan + len, 8);
            if (a != b) return len + (__builtin_ctzll(a ^ b) >> 3);
            len += 8;
        }
        while (len < maxLen && m[len] == scan[len]) ++len;
        return len;
    }

    // Sixteenths of a bit saved by coding the `length` bytes at `at` as a
    // match `dist` back rather than as literals. Literals are priced by how
    // often their byte occurs in the buffer (see PriceLiterals), lengths and
    // distances by the codes typical text gets (kPrices).
    int Gain(int length, int dist, int at) const {
        return literalCost[static_cast<size_t>(at + length)] - literalCost[static_cast<size_t>(at)] -
               kPrices.length[static_cast<size_t>(length)] - kPrices.PositionOf(dist);
    }

    // literalCost[p]: what the bytes before p would cost as literals, each
    // priced at its information content in the buffer plus half a bit (the
    // code tables and the rounding of code lengths), 1 to 16 bits.
    void PriceLiterals() {
        // Four tables, so that runs of one byte (indentation, padding) do
        // not each wait on the increment just before.
        const uint8_t* const in = buf.get();
        const int n = fill;
        std::array<std::array<uint32_t, 256>, 4> counts{};
        int q = 0;
        for (; q + 4 <= n; q += 4) {
            ++counts[0][in[q]];
            ++counts[1][in[q + 1]];
            ++counts[2][in[q + 2]];
            ++counts[3][in[q + 3]];
        }
        for (; q < n; ++q) ++counts[0][in[q]];
        std::array<uint32_t, 256> count{};
        for (int c = 0; c < 256; ++c) count[c] = counts[0][c] + counts[1][c] + counts[2][c] + counts[3][c];
        std::array<int32_t, 256> price{};
        for (int c = 0; c < 256; ++c)
            price[c] = count[c] == 0 ? 16 * 12
                                     : std::clamp(static_cast<int>(16 * std::log2(double(fill) / count[c])) + 8, 16,
                                                  16 * kMaxCodeLength);
        // Every entry is written below: no need to clear them first.
        if (literalCapacity < fill + 1) {
            literalCapacity = fill + 1;
            literalCost.reset(new int32_t[static_cast<size_t>(literalCapacity)]);
        }
        // The sum is kept in a register: stores to the table could alias fill.
        int32_t* const cost = literalCost.get();
        int32_t sum = 0;
        cost[0] = 0;
        for (int p = 0; p < n; ++p) {
            sum += price[in[p]];
            cost[p + 1] = sum;
        }
    }

    // The match for pos that saves the most bits among those longer than
    // `best`: the nearest 3-byte match (the last position sharing 3 bytes)
    // and the chain of positions sharing 4, nearest first, each taken when
    // longer than all before it, at most `chain` of them. Sets matchDist when
    // one is found; returns its length, or `best` when there is none.
    // Inlined at both calls: each then keeps its own constants and tables in
    // registers through the chain walk.
    [[gnu::always_inline]] int LongestMatch(std::pair<int, int> last, int best, int chain) {
        const int maxLen = std::min(kMaxMatch, fill - pos);
        if (best >= maxLen) return kMinMatch - 1;
        const int limit = std::max(0, pos - kDicSize);
        const uint8_t* scan = buf.get() + pos;
        int chosen = best, chosenGain = INT_MIN;
        Found& met = *found;
        met.count = 0;
        auto consider = [&](int candidate) {
            const uint8_t* m = buf.get() + candidate;
            // A longer match agrees on the bytes up to `best`; the last four
            // of them turn most candidates away with one compare.
            if (best >= 3) {
                uint32_t x, y;
                std::memcpy(&x, m + best - 3, 4);
                std::memcpy(&y, scan + best - 3, 4);
                if (x != y) return false;
            } else if (m[best] != scan[best]) {
                return false;
            }
            const int len = MatchLength(m, scan, maxLen);
            if (len <= best) return false;
            best = len;
            met.len[static_cast<size_t>(met.count)] = static_cast<uint16_t>(len);
            met.dist[static_cast<size_t>(met.count++)] = static_cast<uint16_t>(pos - candidate);
            const int gain = Gain(len, pos - candidate, pos);
            if (gain > chosenGain) {
                chosenGain = gain;
                chosen = len;
                matchDist = pos - candidate;
            }
            return len >= opt.niceLength || len >= maxLen;
        };
        if (best < kMinMatch && last.first >= limit && consider(last.first)) return chosen;
        // Already long enough to be worth having: a shorter search for a
        // longer one.
        if (best >= 8) chain >>= 2;
        // The walk itself, with the tables in locals (the stores to matchDist
        // would otherwise make the compiler reload them at every step):
        // candidates that differ in the four bytes ending at `best` are
        // passed over without leaving this loop.
        const int32_t* link = prev.data();
        const int mask = chainMask;
        const uint8_t* base = buf.get();
        int candidate = last.second;
        while (candidate >= limit && chain > 0) {
            if (best >= 3) {
                // The bytes to agree on only change when best does.
                const uint8_t* const probe = base + best - 3;
                uint32_t y;
                std::memcpy(&y, scan + best - 3, 4);
                for (;;) {
                    uint32_t x;
                    std::memcpy(&x, probe + candidate, 4);
                    if (x == y) break;
                    --chain;
                    candidate = link[candidate & mask];
                    if (candidate < limit || chain <= 0) return chosen;
                }
            }
            --chain;
            if (consider(candidate)) break;
            candidate = link[candidate & mask];
        }
        return chosen;
    }

    void PutBits(int n, uint32_t v) {
        bitBuf = (bitBuf << n) | (v & ((1u << n) - 1));
        bitCount += n;
        if (bitCount >= 32) {
            bitCount -= 32;
            const uint32_t word = static_cast<uint32_t>(bitBuf >> bitCount);
            // No size check here (SendBlock made the room): this stays small
            // enough to be inlined at every call.
            const uint32_t be = __builtin_bswap32(word);
            std::memcpy(out.data() + outLen, &be, 4);
            outLen += 4;
        }
    }

    // Makes room for `bits` more bits of output.
    void Room(size_t bits) {
        const size_t want = outLen + bits / 8 + 8;
        if (out.size() < want) out.resize(std::max(want, 2 * out.size()));
    }

    void FlushBytes() {
        if (outLen == 0) return;
        sink.Put(out.data(), outLen);
        totalOut += outLen;
        outLen = 0;
    }

    void EmitLiteral(uint8_t c) {
        codes.push_back(c);
        ++cFreq[c];
        if (static_cast<int>(codes.size()) >= opt.blockCodes) SendBlock();
    }

    void EmitMatch(int length, int dist) {
        const uint16_t c = static_cast<uint16_t>(length - kMinMatch + 256);
        codes.push_back(c);
        ++cFreq[c];
        const unsigned p = static_cast<unsigned>(dist - 1);
        positions.push_back(static_cast<uint16_t>(p));
        ++pFreq[BitLength(p)];
        if (static_cast<int>(codes.size()) >= opt.blockCodes) SendBlock();
    }

    // A table of small code lengths (the position table, or the table that
    // codes the literal/length lengths): 3 bits for lengths up to 6, longer
    // ones in unary. After entry `special`, 2 bits skip up to three zeros.
    void WritePtLengths(const uint8_t* len, int n, int nbit, int special) {
        while (n > 0 && len[n - 1] == 0) --n;
        PutBits(nbit, static_cast<uint32_t>(n));
        int i = 0;
        while (i < n) {
            const int k = len[i++];
            if (k <= 6)
                PutBits(3, static_cast<uint32_t>(k));
            else
                PutBits(k - 3, 0xFFFEu);
            if (i == special) {
                // Never skip past the last length sent.
                while (i < std::min(n, 6) && len[i] == 0) ++i;
                PutBits(2, static_cast<uint32_t>(i - special));
            }
        }
    }

    // The literal/length lengths as a run-length coded sequence over the
    // 19-symbol table: 0 = one zero, 1 = 3..18 zeros, 2 = 20..531 zeros,
    // k + 2 = length k. `emit` receives (symbol, extra bit count, extra value).
    template <typename Emit>
    static void WalkCLengths(const uint8_t* cLen, Emit emit) {
        int n = kNC;
        while (n > 0 && cLen[n - 1] == 0) --n;
        int i = 0;
        while (i < n) {
            const int k = cLen[i++];
            if (k != 0) {
                emit(k + 2, 0, 0);
                continue;
            }
            int count = 1;
            while (i < n && cLen[i] == 0) {
                ++i;
                ++count;
            }
            if (count <= 2) {
                for (int j = 0; j < count; ++j) emit(0, 0, 0);
            } else if (count <= 18) {
                emit(1, 4, count - 3);
            } else if (count == 19) {
                emit(0, 0, 0);
                emit(1, 4, 15);
            } else {
                emit(2, kCBit, count - 20);
            }
        }
    }

    void SendBlock() {
        if (codes.empty()) return;
        std::array<uint8_t, kNC> cLen{};
        std::array<uint16_t, kNC> cCode{};
        std::array<uint8_t, kNP> pLen{};
        std::array<uint16_t, kNP> pCode{};
        int cSingle = 0, pSingle = 0;
        const int cUsed = BuildLengths(cFreq.data(), kNC, cLen.data(), cSingle);
        // The tables take at most 16 + 5 + 19 * 16 + 9 + 510 * (16 + 9) + 4 + 14 * 16 bits; each code at most
        // 16 bits for the literal or length, 16 for the distance's bit length and 12 for its low bits.
        Room(16 + 5 + kNT * 16 + kCBit + kNC * (16 + kCBit) + kPBit + kNP * 16 + codes.size() * (16 + 16 + 12));
        PutBits(16, static_cast<uint32_t>(codes.size()));
        if (cUsed >= 2) {
            MakeCodes(cLen.data(), kNC, cCode.data());
            std::array<uint32_t, kNT> tFreq{};
            WalkCLengths(cLen.data(), [&](int sym, int, int) { ++tFreq[sym]; });
            std::array<uint8_t, kNT> tLen{};
            std::array<uint16_t, kNT> tCode{};
            int tSingle = 0;
            if (BuildLengths(tFreq.data(), kNT, tLen.data(), tSingle) >= 2) {
                MakeCodes(tLen.data(), kNT, tCode.data());
                WritePtLengths(tLen.data(), kNT, kTBit, 3);
            } else {
                PutBits(kTBit, 0);
                PutBits(kTBit, static_cast<uint32_t>(tSingle));
            }
            PutBits(kCBit, static_cast<uint32_t>(
                               std::find_if(cLen.rbegin(), cLen.rend(), [](uint8_t l) { return l != 0; }).base() -
                               cLen.begin()));
            WalkCLengths(cLen.data(), [&](int sym, int bits, int extra) {
                PutBits(tLen[sym], tCode[sym]);
                if (bits != 0) PutBits(bits, static_cast<uint32_t>(extra));
            });
        } else {
            PutBits(kTBit, 0);
            PutBits(kTBit, 0);
            PutBits(kCBit, 0);
            PutBits(kCBit, static_cast<uint32_t>(cSingle));
        }
        if (BuildLengths(pFreq.data(), kNP, pLen.data(), pSingle) >= 2) {
            MakeCodes(pLen.data(), kNP, pCode.data());
            WritePtLengths(pLen.data(), kNP, kPBit, -1);
        } else {
            PutBits(kPBit, 0);
            PutBits(kPBit, static_cast<uint32_t>(pSingle));
        }
        size_t next = 0;
        for (const uint16_t c : codes) {
            PutBits(cLen[c], cCode[c]);
            if (c < 256) continue;
            // The position's code and its low bits (at most 16 + 12) in one.
            const unsigned p = positions[next++];
            const int bits = BitLength(p);
            const int low = bits > 1 ? bits - 1 : 0;
            PutBits(pLen[bits] + low, static_cast<uint32_t>(pCode[bits]) << low | (p & ((1u << low) - 1)));
        }
        codes.clear();
        positions.clear();
        cFreq.fill(0);
        pFreq.fill(0);
        FlushBytes();
    }

    // Moves the last 8 KiB (and what follows) to the front of the buffer.
    void Slide() {
        const int delta = std::max(0, pos - kDicSize) & ~kChainMask;
        if (delta == 0) return;
        std::memmove(buf.get(), buf.get() + delta, static_cast<size_t>(fill - delta));
        fill -= delta;
        pos -= delta;
        previousEnd -= delta;
        for (auto& h : head) h = h >= delta ? h - delta : kNil;
        for (auto& h : head3) h = h >= delta ? h - delta : kNil;
        for (auto& p : prev) p = p >= delta ? p - delta : kNil;
    }

    // The match (at, length, dist) comes right after the match coded last
    // and also reaches back into it. The earlier one may then end sooner
    // (a nearer match met at its start may do for what is left), or shrink
    // to literals, or go: the cheapest way, priced with kPrices, is taken.
    // The earlier match is then taken back and coded anew; returns how far
    // the later one moves back.
    int Overlap(int at, int length, int dist) {
        const int lastLen = codes.back() - 256 + kMinMatch;
        const int lastDist = positions.back() + 1;
        const int lastAt = at - lastLen;
        int reach = 0;
        const int most = std::min(lastLen, kMaxMatch - length);
        while (reach < most && at - reach - 1 - dist >= 0 && buf[at - reach - 1] == buf[at - reach - 1 - dist]) ++reach;
        if (reach == 0) return 0;
        const int32_t distPrice = kPrices.PositionOf(dist);
        const int32_t lastDistPrice = kPrices.PositionOf(lastDist);
        int32_t bestCost = kPrices.length[static_cast<size_t>(lastLen)] + lastDistPrice +
                           kPrices.length[static_cast<size_t>(length)] + distPrice;
        int bestBack = 0, bestDist = lastDist;
        auto consider = [&](int rest, int32_t restCost, int near) {
            const int32_t cost = kPrices.length[static_cast<size_t>(length + lastLen - rest)] + distPrice + restCost;
            if (cost < bestCost) {
                bestCost = cost;
                bestBack = lastLen - rest;
                bestDist = near;
            }
        };
        // The earlier match left with 0, 1 or 2 bytes, as literals...
        for (int rest = std::max(0, lastLen - reach); rest < std::min(lastLen, kMinMatch); ++rest)
            consider(rest, literalCost[static_cast<size_t>(lastAt + rest)] - literalCost[static_cast<size_t>(lastAt)],
                     lastDist);
        // ...or as short as the later one allows, or just long enough for
        // a nearer match met at its start (their lengths rise, and so do
        // their distances).
        const Found& there = *lastFound;
        const int shortest = std::max(kMinMatch, lastLen - reach);
        int j = 0;
        while (j < there.count && there.len[static_cast<size_t>(j)] < shortest) ++j;
        if (shortest < lastLen) {
            const int near = j < there.count ? std::min<int>(there.dist[static_cast<size_t>(j)], lastDist) : lastDist;
            consider(shortest, kPrices.length[static_cast<size_t>(shortest)] + kPrices.PositionOf(near), near);
        }
        for (; j < there.count && there.len[static_cast<size_t>(j)] < lastLen; ++j) {
            const int rest = there.len[static_cast<size_t>(j)];
            const int near = there.dist[static_cast<size_t>(j)];
            if (rest > shortest && near < lastDist)
                consider(rest, kPrices.length[static_cast<size_t>(rest)] + kPrices.PositionOf(near), near);
        }
        if (bestBack == 0) return 0;
        --cFreq[codes.back()];
        codes.pop_back();
        --pFreq[static_cast<size_t>(BitLength(positions.back()))];
        positions.pop_back();
        const int rest = lastLen - bestBack;
        if (rest >= kMinMatch)
            EmitMatch(rest, bestDist);
        else
            for (int p = lastAt; p < lastAt + rest; ++p) EmitLiteral(buf[p]);
        return bestBack;
    }

    // Codes input up to where look-ahead runs short (or all of it at the end).
    // At each position the best match is looked for; before it is taken, the
    // next position is tried, and a match there that saves more, once the
    // byte it skips is paid for as a literal, replaces it.
    void Process(bool finishing) {
        MakeTables(finishing);
        PriceLiterals();
        // The byte after the input, which the last hashes read (see Insert).
        if (finishing && buf) buf[static_cast<size_t>(fill)] = 0;
        for (;;) {
            const int avail = fill - pos;
            if (avail == 0 || (!finishing && avail < kLookahead)) break;
            found = chosenFound;
            int length = avail >= kMinMatch ? LongestMatch(Insert(pos), kMinMatch - 1, opt.maxChain) : 0;
            int dist = matchDist;
            int gain = length >= kMinMatch ? Gain(length, dist, pos) : 0;
            if (gain <= 0) {
                EmitLiteral(buf[pos]);
                ++pos;
                continue;
            }
            const int start = pos;
            int at = pos;  // where the match chosen so far begins
            // The next position, while its best match saves more, once the
            // byte it skips is paid for as a literal. Matches as long as this
            // one count there too: a nearer one may cost fewer bits. (Looking
            // two bytes on as well finds little that the reach back below
            // does not.)
            while (length < opt.niceLength) {
                const int next = at + 1;
                if (fill - next < kMinMatch || (!finishing && fill - next < kLookahead)) break;
                pos = next;
                const auto last = Insert(next);
                found = trialFound;
                const int l = LongestMatch(last, std::max(length - 1, kMinMatch - 1), opt.maxChain);
                if (l < kMinMatch) break;
                const int g = Gain(l, matchDist, next);
                if (g - (literalCost[next] - literalCost[at]) <= gain) break;
                gain = g;
                length = l;
                dist = matchDist;
                at = next;
                std::swap(chosenFound, trialFound);
            }
            const int inserted = pos + 1;  // positions below this are in the tables
            // The match may reach back over the literals before it (the
            // chain walks stop short of some): they join it.
            const int searched = at;
            while (length < kMaxMatch && at - dist > 0 && buf[at - 1] == buf[at - 1 - dist]) {
                if (at <= start) {
                    // A literal already coded: taken back.
                    if (codes.empty() || codes.back() >= 256) break;
                    --cFreq[codes.back()];
                    codes.pop_back();
                }
                --at;
                ++length;
            }
            for (int p = start; p < at; ++p) EmitLiteral(buf[p]);
            if (at == start && previousEnd == at && !codes.empty() && codes.back() >= 256 && at - 1 - dist >= 0 &&
                buf[at - 1] == buf[at - 1 - dist]) {
                const int back = Overlap(at, length, dist);
                at -= back;
                length += back;
            }
            if (at != searched) chosenFound->count = 0;  // its matches were met further on
            EmitMatch(length, dist);
            std::swap(lastFound, chosenFound);
            const int end = at + length;
            previousEnd = end;
            for (int p = inserted; p < end; ++p)
                if (fill - p >= kMinMatch) Insert(p);
            pos = end;
        }
    }
};

Encoder::Encoder(ByteSink& out, const EncoderOptions& options) : state_(std::make_unique<State>(out, options)) {}

Encoder::~Encoder() = default;

void Encoder::Write(const uint8_t* data, size_t size) {
    State& s = *state_;
    s.totalIn += size;
    while (size > 0) {
        if (s.fill == kBufSize) {
            s.Process(false);
            s.Slide();
        }
        s.Reserve(size);
        const size_t room = static_cast<size_t>(kBufSize - s.fill);
        const size_t take = std::min(room, size);
        std::memcpy(s.buf.get() + s.fill, data, take);
        s.fill += static_cast<int>(take);
        data += take;
        size -= take;
    }
}

void Encoder::Finish() {
    State& s = *state_;
    s.Process(true);
    s.SendBlock();
    if (s.bitCount > 0) {
        s.Room(64);
        // Pad the last byte with zero bits.
        while (s.bitCount % 8 != 0) s.PutBits(1, 0);
        while (s.bitCount > 0) {
            s.bitCount -= 8;
            s.out[s.outLen++] = static_cast<uint8_t>(s.bitBuf >> s.bitCount);
        }
    }
    s.FlushBytes();
}

uint64_t Encoder::bytesIn() const { return state_->totalIn; }
uint64_t Encoder::bytesOut() const { return state_->totalOut; }

std::vector<uint8_t> Compress(const uint8_t* data, size_t size, const EncoderOptions& options) {
    VectorSink sink;
    Encoder encoder(sink, options);
    encoder.Write(data, size);
    encoder.Finish();
    return std::move(sink.bytes);
}

}  // namespace lh5
