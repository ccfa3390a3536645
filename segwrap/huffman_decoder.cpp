#include "segwrap/huffman_decoder.h"

#include "segwrap/byte_order.h"
#include "segwrap/huffman_stream.h"
#include "segwrap/huffman_tree.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace kestrel::segwrap {
namespace {

// Reads MSB-first bit fields from a zero-padded copy of the coded part, so that peeking past
// its end reads zeros instead of foreign memory.
class BitReader {
public:
    BitReader(const unsigned char* data, std::size_t bytes)
        : padded_(data, data + bytes), limit_(bytes * 8) {
        padded_.insert(padded_.end(), 16, 0);
    }

    std::size_t Position() const { return pos_; }
    std::size_t Limit() const { return limit_; }
    void Skip(std::size_t bits) { pos_ += bits; }

    // The next 64 bits from the position (zeros past the end); the position stays.
    std::uint64_t Peek64() const {
        const unsigned char* p = padded_.data() + pos_ / 8;
        const unsigned shift = pos_ % 8;
        std::uint64_t v = LoadBe64(p);
        if (shift != 0) {
            v = (v << shift) | (p[8] >> (8 - shift));
        }
        return v;
    }

    // Reads n (1..64) bits; false when fewer remain.
    bool Read(unsigned n, std::uint64_t& value) {
        if (n > limit_ - pos_ || pos_ > limit_) {
            return false;
        }
        value = Peek64() >> (64 - n);
        pos_ += n;
        return true;
    }

private:
    std::vector<unsigned char> padded_;
    std::size_t limit_;
    std::size_t pos_ = 0;
};

// A binary trie of the codes; node 0 is the root.
struct TrieNode {
    std::array<std::int32_t, 2> child{-1, -1};
    std::int32_t symbol = -1;
};

constexpr unsigned kTableBits = 11;

// Lookup of the first kTableBits bits: a symbol and its code length, a trie node to go on
// from, or no code at all.
struct TableEntry {
    std::int32_t symbol = -1; // >= 0: a code of `length` bits
    std::int32_t node = -1;   // >= 0: code longer than kTableBits; continue from this node
    std::uint32_t length = 0;
};

bool ReadCode(BitReader& reader, unsigned length, int symbol, std::vector<TrieNode>& trie) {
    std::int32_t node = 0;
    for (unsigned i = 0; i < length; ++i) {
        std::uint64_t bit = 0;
        if (!reader.Read(1, bit) || trie[node].symbol >= 0) {
            return false;
        }
        std::int32_t next = trie[node].child[bit];
        if (next < 0) {
            next = static_cast<std::int32_t>(trie.size());
            trie[node].child[bit] = next;
            trie.emplace_back();
        }
        node = next;
    }
    TrieNode& end = trie[node];
    if (end.symbol >= 0 || end.child[0] >= 0 || end.child[1] >= 0) {
        return false; // the same code twice, or a prefix of an earlier code
    }
    end.symbol = symbol;
    return true;
}

// Walks the trie once, down to kTableBits: a code of d bits fills the 2^(kTableBits - d)
// entries that begin with it, a node at kTableBits fills its one entry, and entries below a
// missing branch stay empty. (Walking the trie anew for each of the 2^kTableBits entries costs
// some ten times as much for every stream.)
std::vector<TableEntry> BuildTable(const std::vector<TrieNode>& trie) {
    std::vector<TableEntry> table(std::size_t{1} << kTableBits);
    struct Step {
        std::int32_t node;
        unsigned depth;
        std::uint32_t prefix; // the depth bits that lead to the node
    };
    // A depth-first walk holds at most one pending sibling per level.
    std::array<Step, kTableBits + 2> stack{};
    std::size_t pending = 0;
    stack[pending++] = {0, 0, 0};
    while (pending > 0) {
        const Step step = stack[--pending];
        const TrieNode& n = trie[static_cast<std::size_t>(step.node)];
        if (n.symbol >= 0) {
            const std::size_t first = std::size_t{step.prefix} << (kTableBits - step.depth);
            const std::size_t count = std::size_t{1} << (kTableBits - step.depth);
            std::fill_n(table.begin() + static_cast<std::ptrdiff_t>(first), count,
                        TableEntry{n.symbol, -1, step.depth});
        } else if (step.depth == kTableBits) {
            table[step.prefix] = {-1, step.node, kTableBits};
        } else {
            for (std::uint32_t bit = 0; bit < 2; ++bit) {
                if (n.child[bit] >= 0) {
                    stack[pending++] = {n.child[bit], step.depth + 1, step.prefix << 1 | bit};
                }
            }
        }
    }
    return table;
}

DecodeStatus DecodeInto(const unsigned char* stream, std::size_t length, std::size_t maxOutput,
                        std::vector<unsigned char>& out) {
    if (length == 0) {
        return DecodeStatus::kOk;
    }
    if (stream == nullptr || length % 4 != 0 || length < 8) {
        return DecodeStatus::kBadLength;
    }
    const unsigned char* t = stream + length - 4;
    const std::uint32_t expected = static_cast<std::uint32_t>(t[0] ^ kTrailerMask) << 24 |
                                   static_cast<std::uint32_t>(t[2] ^ kTrailerMask) << 16 |
                                   static_cast<std::uint32_t>(t[1] ^ kTrailerMask) << 8 |
                                   static_cast<std::uint32_t>(t[3]);
    const std::size_t codedBytes = length - 4;
    // Every byte costs at least one bit, so the stream bounds the output before it is reserved.
    if (expected > maxOutput || expected / 8 > codedBytes) {
        return DecodeStatus::kTooLarge;
    }
    BitReader reader(stream, codedBytes);

    // Alphabet.
    std::array<bool, kHuffmanSymbols> present{};
    present[kEndSymbol] = true;
    std::uint64_t form = 0;
    if (!reader.Read(1, form)) {
        return DecodeStatus::kBadAlphabet;
    }
    if (form == 0) {
        std::uint64_t count = 0;
        if (!reader.Read(5, count)) {
            return DecodeStatus::kBadAlphabet;
        }
        int previous = -1;
        for (std::uint64_t i = 0; i <= count; ++i) {
            std::uint64_t value = 0;
            if (!reader.Read(8, value) || static_cast<int>(value) <= previous) {
                return DecodeStatus::kBadAlphabet;
            }
            present[value] = true;
            previous = static_cast<int>(value);
        }
    } else {
        for (int v = 0; v < 256; ++v) {
            std::uint64_t bit = 0;
            if (!reader.Read(1, bit)) {
                return DecodeStatus::kBadAlphabet;
            }
            present[v] = bit != 0;
        }
    }

    // Code table: at most 257 codes of at most 256 bits, so the trie stays small.
    std::vector<TrieNode> trie(1);
    for (int s = 0; s < kHuffmanSymbols; ++s) {
        if (!present[s]) {
            continue;
        }
        std::uint64_t wide = 0;
        std::uint64_t lengthMinusOne = 0;
        if (!reader.Read(1, wide) || !reader.Read(wide != 0 ? 8 : 5, lengthMinusOne) ||
            !ReadCode(reader, static_cast<unsigned>(lengthMinusOne + 1), s, trie)) {
            return DecodeStatus::kBadCodeTable;
        }
    }
    const std::vector<TableEntry> table = BuildTable(trie);

    // Data, up to the end mark.
    out.resize(expected);
    std::size_t produced = 0;
    const std::size_t limit = reader.Limit();
    for (;;) {
        if (reader.Position() >= limit) {
            return DecodeStatus::kBadData;
        }
        const TableEntry& e = table[reader.Peek64() >> (64 - kTableBits)];
        std::int32_t symbol = e.symbol;
        if (symbol < 0) {
            if (e.node < 0) {
                return DecodeStatus::kBadData;
            }
            reader.Skip(kTableBits);
            std::int32_t node = e.node;
            while (trie[node].symbol < 0) {
                std::uint64_t bit = 0;
                if (!reader.Read(1, bit)) {
                    return DecodeStatus::kBadData;
                }
                node = trie[node].child[bit];
                if (node < 0) {
                    return DecodeStatus::kBadData;
                }
            }
            symbol = trie[node].symbol;
        } else {
            reader.Skip(e.length);
        }
        if (reader.Position() > limit) {
            return DecodeStatus::kBadData;
        }
        if (symbol == kEndSymbol) {
            break;
        }
        if (produced == expected) {
            return DecodeStatus::kLengthMismatch;
        }
        out[produced++] = static_cast<unsigned char>(symbol);
    }
    if (produced != expected) {
        return DecodeStatus::kLengthMismatch;
    }

    // Fills: zero bits to the byte boundary, then zero bytes to a multiple of 4.
    const std::size_t bitFill = (8 - reader.Position() % 8) % 8;
    std::uint64_t fillBits = 0;
    if (bitFill > 0 && (!reader.Read(static_cast<unsigned>(bitFill), fillBits) || fillBits != 0)) {
        return DecodeStatus::kBadFill;
    }
    const std::size_t at = reader.Position() / 8;
    if ((codedBytes - at) != (4 - at % 4) % 4) {
        return DecodeStatus::kBadFill;
    }
    for (std::size_t i = at; i < codedBytes; ++i) {
        if (stream[i] != 0) {
            return DecodeStatus::kBadFill;
        }
    }
    return DecodeStatus::kOk;
}

} // namespace

DecodeStatus HuffmanDecode(const unsigned char* stream, std::size_t length, std::size_t maxOutput,
                           std::vector<unsigned char>& out) {
    out.clear();
    const DecodeStatus status = DecodeInto(stream, length, maxOutput, out);
    if (status != DecodeStatus::kOk) {
        out.clear();
    }
    return status;
}

} // namespace kestrel::segwrap
