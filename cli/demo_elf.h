#pragma once
// A small, valid 32-bit little-endian ARM ELF executable for the demo workspace and the tests:
// a text and a data segment of chosen sizes filled with repeatable pseudo-random bytes, and a
// section table naming them.

#include <cstdint>
#include <vector>

namespace kestrel::cli {

std::vector<std::uint8_t> MakeDemoElf(std::uint32_t textBytes, std::uint32_t dataBytes,
                                      std::uint32_t seed);

// Repeatable pseudo-random bytes.
std::vector<std::uint8_t> DemoBytes(std::size_t size, std::uint32_t seed);

} // namespace kestrel::cli
