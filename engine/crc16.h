#pragma once
// CRC-16 as LHA archives use it (polynomial 0xA001, reflected, starting at
// 0): written by the LHA archiver library, checked by the job engine's
// verification.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tessarine {

namespace crc16_detail {

// kTables[0] is the usual byte table; kTables[k][b] is the CRC of byte b
// followed by k zero bytes, which lets eight bytes be taken in one step.
constexpr std::array<std::array<uint16_t, 256>, 8> MakeTables() {
    std::array<std::array<uint16_t, 256>, 8> t{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = i;
        for (int j = 0; j < 8; ++j) r = (r & 1) ? (r >> 1) ^ 0xA001u : r >> 1;
        t[0][i] = static_cast<uint16_t>(r);
    }
    for (int k = 1; k < 8; ++k)
        for (unsigned i = 0; i < 256; ++i)
            t[k][i] = static_cast<uint16_t>(t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8));
    return t;
}

// Internal linkage on purpose: each user holds its own copy, so the archiver
// library shares no symbol with the program that loads it.
constexpr std::array<std::array<uint16_t, 256>, 8> kTables = MakeTables();

}  // namespace crc16_detail

// `crc` carried on over `size` bytes.
inline uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t size) {
    const auto& t = crc16_detail::kTables;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, data + i, 4);
        std::memcpy(&hi, data + i + 4, 4);
        if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
            lo = __builtin_bswap32(lo);
            hi = __builtin_bswap32(hi);
        }
        lo ^= crc;
        crc =
            static_cast<uint16_t>(t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
                                  t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24]);
    }
    for (; i < size; ++i) crc = static_cast<uint16_t>(t[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}

}  // namespace tessarine
