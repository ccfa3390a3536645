#pragma once
// Explicit little- and big-endian loads and stores. Every multi-byte field of the VMX image is
// little-endian whatever the host's byte order; the Huffman stream packs its bits big-endian.

#include <bit>
#include <cstdint>
#include <cstring>

namespace kestrel::segwrap {

inline std::uint32_t LoadLe32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap32(v);
    }
    return v;
}

inline void StoreLe32(unsigned char* p, std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::big) {
        v = __builtin_bswap32(v);
    }
    std::memcpy(p, &v, sizeof v);
}

inline void StoreBe64(unsigned char* p, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        v = __builtin_bswap64(v);
    }
    std::memcpy(p, &v, sizeof v);
}

inline std::uint64_t LoadBe64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::little) {
        v = __builtin_bswap64(v);
    }
    return v;
}

// The 32-bit word whose little-endian bytes are the four characters of a magic, in file order.
constexpr std::uint32_t MagicWord(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3])) << 24;
}

} // namespace kestrel::segwrap
