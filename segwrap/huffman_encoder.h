#pragma once
// The Huffman compressor of the VMX payload (stream layout in huffman_stream.h). It keeps no
// state between calls, allocates nothing on the heap, and never writes past the capacity it is
// given: the exact stream length is worked out from the counts before any byte is written.

#include <cstddef>

namespace kestrel::segwrap {

enum class CompressStatus {
    kOk,
    kNoOutput,       // output is null (or input is null with a nonzero length)
    kInputTooLarge,  // the trailer holds a 32-bit length
    kOutputTooSmall, // the stream would exceed the capacity; nothing was written
};

struct CompressResult {
    CompressStatus status = CompressStatus::kNoOutput;
    std::size_t length = 0;     // bytes written (a multiple of 4; 0 for an empty input)
    unsigned maxCodeLength = 0; // longest code in the table
};

// Compresses input into output (capacity bytes). An empty input writes nothing and reports 0.
// Bytes of output past the reported length but within capacity may have been overwritten.
CompressResult HuffmanCompress(const unsigned char* input, std::size_t inputLength,
                               unsigned char* output, std::size_t capacity);

} // namespace kestrel::segwrap
