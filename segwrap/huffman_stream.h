#pragma once
// Constants of the Huffman-coded VMX payload stream, shared by the encoder and the decoder.
//
// The stream, every bit field most significant bit first, bits filling each byte from its top:
//   alphabet    fewer than 32 byte values occur: bit 0, (count - 1) in 5 bits, the values in
//               ascending order in 8 bits each; otherwise bit 1 and 256 presence bits
//   code table  per coded symbol in ascending order 0..256: bit 0 and (length - 1) in 5 bits
//               for lengths up to 32, else bit 1 and (length - 1) in 8 bits; then the code
//   data        the code of every input byte, then the code of symbol 256
//   fill        0 bits to a byte boundary, then 0 bytes to a multiple of 4 bytes
//   trailer     input length L as bytes b3^m, b1^m, b2^m, b0 (b3 the most significant)

#include <cstdint>

namespace kestrel::segwrap {

// The trailer mask m, the same for every image and for the device's decoder.
inline constexpr std::uint8_t kTrailerMask = 0x5A;

// Below this many occurring byte values the alphabet is listed instead of mapped.
inline constexpr int kShortAlphabetLimit = 32;

} // namespace kestrel::segwrap
