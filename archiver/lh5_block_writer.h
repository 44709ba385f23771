// The block writer and its cost model: Huffman tables for a run of tokens, their coded lengths,
// then the codes; and the bits per symbol the parser reads off those tables.
#pragma once

#include "bit_writer.h"
#include "lh5_format.h"

#include <cstddef>
#include <cstdint>

namespace unlha::lh5 {

// Writes one block: its token count, the three tables, then the codes.
void writeBlock(BitWriter &bits, const Token *first, size_t count);

// Cost guesses before any statistics: text-like literals, mid-range lengths and positions.
void defaultCosts(uint32_t *symbolCost, uint32_t *classCost);
// Cost of each symbol under the code lengths of a block; a symbol the block did not use is
// given a length just past the longest, so the parse may still try it.
void costsFromTokens(const Token *tokens, size_t count, uint32_t *symbolCost, uint32_t *classCost);

} // namespace unlha::lh5
