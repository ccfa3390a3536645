#pragma once
// The Huffman code of a VMX payload: 257 symbols (the byte values and symbol 256, the end
// mark), a tree built by repeatedly joining the two nodes of smallest count, and per symbol the
// code read from the root (left edge 1, right edge 0).
//
// Ties are broken so that the same counts always give the same codes: leaves of equal count are
// ordered by symbol (the higher symbol is joined first), and a new inner node is placed before
// every node of equal count (nodes already waiting are joined first). Joining the last node as
// the left child and the one before it as the right child follows the image format.

#include <array>
#include <cstdint>

namespace kestrel::segwrap {

inline constexpr int kHuffmanSymbols = 257;
inline constexpr int kEndSymbol = 256;
inline constexpr int kInnerSymbol = 257;

struct HuffmanNode {
    std::uint16_t symbol = kInnerSymbol; // 0-256 for a leaf, 257 for an inner node
    std::uint64_t count = 0;             // wider than a 32-bit input's total, so sums never wrap
    std::int16_t left = -1;              // node indices, -1 for none
    std::int16_t right = -1;
};

// The code value's lowest `length` bits, the most significant of them the edge leaving the
// root. A length of 0 means the symbol has no code.
struct HuffmanCode {
    std::uint64_t bits = 0;
    std::uint16_t length = 0;
};

using HuffmanCounts = std::array<std::uint64_t, kHuffmanSymbols>;
using HuffmanCodes = std::array<HuffmanCode, kHuffmanSymbols>;

// Codes for the symbols of nonzero count; at least two symbols must have a count. The tree
// lives in a fixed pool of 2 * 257 - 1 nodes, so building it never allocates. Returns false if
// a code would not fit in 64 bits, which counts totalling below 2^32 cannot cause (their
// deepest code is under 48 bits).
bool BuildHuffmanCodes(const HuffmanCounts& counts, HuffmanCodes& codes);

} // namespace kestrel::segwrap
