#include "segwrap/huffman_encoder.h"

#include "segwrap/byte_order.h"
#include "segwrap/huffman_stream.h"
#include "segwrap/huffman_tree.h"

#include <cstdint>
#include <cstring>
#include <limits>

namespace kestrel::segwrap {
namespace {

// MSB-first bit packer over a 64-bit buffer whose top `used` bits are pending. Whole bytes are
// flushed after each group of codes; while 8 bytes of room remain, a flush is one 8-byte store.
class BitWriter {
public:
    BitWriter(unsigned char* out, unsigned char* end) : out_(out), end_(end) {}

    // len + 7 <= 63 bits may be added between flushes.
    void Add(std::uint64_t code, unsigned len) {
        buf_ |= code << (64 - used_ - len);
        used_ += len;
    }

    void Flush() {
        const unsigned bytes = used_ / 8;
        if (end_ - out_ >= 8) {
            StoreBe64(out_, buf_);
        } else {
            for (unsigned i = 0; i < bytes; ++i) {
                out_[i] = static_cast<unsigned char>(buf_ >> (56 - 8 * i));
            }
        }
        out_ += bytes;
        buf_ <<= 8 * bytes;
        used_ -= 8 * bytes;
    }

    // Any number of bits up to 64.
    void Put(std::uint64_t code, unsigned len) {
        if (len > 32) {
            Put(code >> 32, len - 32);
            code &= 0xFFFFFFFFu;
            len = 32;
        }
        Add(code, len);
        Flush();
    }

    // Writes the partial byte, its low bits 0.
    void FinishByte() {
        if (used_ > 0) {
            *out_++ = static_cast<unsigned char>(buf_ >> 56);
            buf_ = 0;
            used_ = 0;
        }
    }

    unsigned char* Position() const { return out_; }
    void Byte(unsigned char value) { *out_++ = value; }

private:
    unsigned char* out_;
    unsigned char* end_;
    std::uint64_t buf_ = 0;
    unsigned used_ = 0;
};

struct TableEntry {
    std::uint64_t code;
    std::uint64_t length;
};

// Codes K bytes per flush; K * longest code + 7 stays within 63 bits. Works on a local copy of
// the writer: stores through the output pointer could otherwise alias its fields and keep them
// out of registers.
template <int K>
void EncodeBytes(const unsigned char* in, std::size_t n, const TableEntry* table,
                 BitWriter& writer) {
    BitWriter w = writer;
    std::size_t i = 0;
    for (; i + K <= n; i += K) {
        for (int j = 0; j < K; ++j) {
            const TableEntry e = table[in[i + j]];
            w.Add(e.code, static_cast<unsigned>(e.length));
        }
        w.Flush();
    }
    for (; i < n; ++i) {
        const TableEntry e = table[in[i]];
        w.Add(e.code, static_cast<unsigned>(e.length));
        w.Flush();
    }
    writer = w;
}

void CountBytes(const unsigned char* in, std::size_t n, HuffmanCounts& counts) {
    // Four tables so that runs of one value do not stall on a single counter.
    std::uint32_t c[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        ++c[0][in[i]];
        ++c[1][in[i + 1]];
        ++c[2][in[i + 2]];
        ++c[3][in[i + 3]];
    }
    for (; i < n; ++i) {
        ++c[0][in[i]];
    }
    for (int v = 0; v < 256; ++v) {
        counts[v] = std::uint64_t{c[0][v]} + c[1][v] + c[2][v] + c[3][v];
    }
    counts[kEndSymbol] = 1;
}

} // namespace

CompressResult HuffmanCompress(const unsigned char* input, std::size_t inputLength,
                               unsigned char* output, std::size_t capacity) {
    CompressResult result;
    if (output == nullptr || (input == nullptr && inputLength > 0)) {
        result.status = CompressStatus::kNoOutput;
        return result;
    }
    if (inputLength == 0) {
        result.status = CompressStatus::kOk;
        return result;
    }
    if (inputLength > std::numeric_limits<std::uint32_t>::max()) {
        result.status = CompressStatus::kInputTooLarge;
        return result;
    }

    HuffmanCounts counts{};
    CountBytes(input, inputLength, counts);
    HuffmanCodes codes;
    if (!BuildHuffmanCodes(counts, codes)) {
        result.status = CompressStatus::kInputTooLarge;
        return result;
    }

    // The exact length, from the counts, before anything is written.
    int distinct = 0;
    std::uint64_t bits = 1;
    std::uint64_t dataBits = codes[kEndSymbol].length;
    unsigned maxLength = 0;
    for (int s = 0; s < kHuffmanSymbols; ++s) {
        const unsigned len = codes[s].length;
        if (len == 0) {
            continue;
        }
        distinct += s < 256 ? 1 : 0;
        bits += 1 + (len <= 32 ? 5 : 8) + len;
        dataBits += s < 256 ? counts[s] * len : 0;
        maxLength = len > maxLength ? len : maxLength;
    }
    bits += distinct < kShortAlphabetLimit ? 5 + 8 * std::uint64_t(distinct) : 256;
    const std::uint64_t streamBytes = ((bits + dataBits + 7) / 8 + 3) / 4 * 4 + 4;
    result.maxCodeLength = maxLength;
    if (streamBytes > capacity) {
        result.status = CompressStatus::kOutputTooSmall;
        return result;
    }

    BitWriter w(output, output + capacity);
    if (distinct < kShortAlphabetLimit) {
        w.Put(0, 1);
        w.Put(static_cast<unsigned>(distinct - 1), 5);
        for (int v = 0; v < 256; ++v) {
            if (codes[v].length != 0) {
                w.Put(static_cast<unsigned>(v), 8);
            }
        }
    } else {
        w.Put(1, 1);
        for (int v = 0; v < 256; ++v) {
            w.Put(codes[v].length != 0 ? 1 : 0, 1);
        }
    }
    for (int s = 0; s < kHuffmanSymbols; ++s) {
        const unsigned len = codes[s].length;
        if (len == 0) {
            continue;
        }
        if (len <= 32) {
            w.Put(0, 1);
            w.Put(len - 1, 5);
        } else {
            w.Put(1, 1);
            w.Put(len - 1, 8);
        }
        w.Put(codes[s].bits, len);
    }

    TableEntry table[256];
    for (int v = 0; v < 256; ++v) {
        table[v] = {codes[v].bits, codes[v].length};
    }
    if (maxLength <= 14) {
        EncodeBytes<4>(input, inputLength, table, w);
    } else if (maxLength <= 18) {
        EncodeBytes<3>(input, inputLength, table, w);
    } else if (maxLength <= 28) {
        EncodeBytes<2>(input, inputLength, table, w);
    } else if (maxLength <= 56) {
        EncodeBytes<1>(input, inputLength, table, w);
    } else {
        for (std::size_t i = 0; i < inputLength; ++i) {
            w.Put(table[input[i]].code, static_cast<unsigned>(table[input[i]].length));
        }
    }
    w.Put(codes[kEndSymbol].bits, codes[kEndSymbol].length);
    w.FinishByte();
    while ((w.Position() - output) % 4 != 0) {
        w.Byte(0);
    }
    const auto L = static_cast<std::uint32_t>(inputLength);
    w.Byte(static_cast<unsigned char>((L >> 24) ^ kTrailerMask));
    w.Byte(static_cast<unsigned char>(((L >> 8) & 0xFF) ^ kTrailerMask));
    w.Byte(static_cast<unsigned char>(((L >> 16) & 0xFF) ^ kTrailerMask));
    w.Byte(static_cast<unsigned char>(L & 0xFF));

    result.status = CompressStatus::kOk;
    result.length = static_cast<std::size_t>(w.Position() - output);
    return result;
}

} // namespace kestrel::segwrap
