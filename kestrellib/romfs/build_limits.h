#pragma once
// The builder's limits. The device side sizes its tables for them, so a tree beyond any of them
// is refused with a message and kBuildLimitError; nothing is cut or wrapped silently.

#include <cstddef>
#include <cstdint>

namespace kestrel::romfs {

struct BuildLimits {
    std::uint32_t maxNodes = 8192;
    // Names in one directory listing, "." and ".." included, are at most 4096.
    std::size_t maxMembers = 4094;
    // Host paths, a directory's path with the listing pattern ("\*", two characters) included.
    std::size_t maxPathLength = 1023;
    std::size_t maxNameLength = 259;
};

inline constexpr std::size_t kListingPatternLength = 2;

// Sizes and offsets are 32-bit fields: a file holds at most 4 GiB - 1 bytes, and the image size,
// a multiple of 32, at most 4 GiB - 32.
inline constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFu;
inline constexpr std::uint64_t kMaxImageSize = 0xFFFFFFE0u;

} // namespace kestrel::romfs
