#pragma once
// CRC-16 as LHA archives use it (polynomial 0xA001, reflected, starting at
// 0): written by the LHA archiver library, checked by the job engine's
// verification.
#include <array>
#include <cstddef>
#include <cstdint>

namespace tessarine {

namespace crc16_detail {

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = i;
        for (int j = 0; j < 8; ++j) r = (r & 1) ? (r >> 1) ^ 0xA001u : r >> 1;
        table[i] = static_cast<uint16_t>(r);
    }
    return table;
}

// Internal linkage on purpose: each user holds its own copy, so the archiver
// library shares no symbol with the program that loads it.
constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace crc16_detail

// `crc` carried on over `size` bytes.
inline uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i)
        crc = static_cast<uint16_t>(crc16_detail::kTable[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
    return crc;
}

}  // namespace tessarine
