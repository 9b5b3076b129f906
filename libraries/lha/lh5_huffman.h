#pragma once
// Huffman code construction of the -lh5- encoder, open to its tests.
#include <cstdint>

namespace lh5::detail {

// Code lengths of a Huffman code for `freq` (n symbols, at most 510), none
// longer than 16 bits. Returns how many symbols occur; when exactly one
// does, `single` names it (the format sends such a table as that one symbol
// with no code bits).
int BuildLengths(const uint32_t* freq, int n, uint8_t* len, int& single);

// Canonical codes for the lengths: shorter codes first, equal lengths in
// symbol order.
void MakeCodes(const uint8_t* len, int n, uint16_t* code);

}  // namespace lh5::detail
