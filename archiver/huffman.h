// Length-limited Huffman code lengths and their canonical codes, as LHA's static blocks use
// them: shorter codes first, ties in symbol order, read most significant bit first.
#pragma once

#include <cstdint>

namespace unlha {

// Code lengths (at most maxLength) for symbols with these frequencies; unused symbols get 0.
// With fewer than two symbols in use every length is 0: the format writes such a table as the
// lone symbol, and codes it with no bits at all. Otherwise the code space is filled exactly.
void huffmanLengths(const uint32_t *freq, int count, int maxLength, uint8_t *lengths);

// Canonical codes for the given lengths.
void canonicalCodes(const uint8_t *lengths, int count, uint16_t *codes);

} // namespace unlha
