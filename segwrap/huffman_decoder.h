#pragma once
// The device's side of the VMX payload stream (layout in huffman_stream.h): reads the alphabet
// and code table, decodes to the end mark and checks the fills and the length trailer. Every
// field is checked before it is used; the output is never larger than the limit the caller
// gives, nor than the stream's bits could encode (one byte per bit).

#include <cstddef>
#include <vector>

namespace kestrel::segwrap {

enum class DecodeStatus {
    kOk,
    kBadLength,      // not a multiple of 4, or too short for a trailer
    kBadAlphabet,    // the alphabet runs past the data or lists values out of order
    kBadCodeTable,   // a code runs past the data, or is a prefix of another (or has one)
    kBadData,        // a bit sequence that is no code, or the data runs out before the end mark
    kLengthMismatch, // the trailer's length is not the number of bytes decoded
    kBadFill,        // nonzero fill bits or bytes, or more fill than the layout allows
    kTooLarge,       // the trailer's length exceeds the caller's limit or the stream's bits
};

// Decodes stream (length bytes) into out, which is replaced. An empty stream decodes to empty.
// May throw std::bad_alloc.
DecodeStatus HuffmanDecode(const unsigned char* stream, std::size_t length, std::size_t maxOutput,
                           std::vector<unsigned char>& out);

} // namespace kestrel::segwrap
