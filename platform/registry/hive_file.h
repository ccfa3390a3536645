#pragma once
// The hive file: the whole hive in one little-endian byte stream (layout in
// docs/registry-hive.md). ParseHive distrusts its input: every count and length is checked
// against the bytes left, names, SIDs, limits and nesting are validated, duplicates and
// trailing bytes are refused.

#include "platform/export.h"
#include "platform/registry/hive.h"

#include <optional>
#include <string>
#include <string_view>

namespace kestrel::platform::registry {

inline constexpr char kHiveMagic[4] = {'K', 'H', 'I', 'V'};
inline constexpr std::uint32_t kHiveFormatVersion = 1;

KESTREL_PLATFORM_API std::string SerializeHive(const Hive& hive);

// The hive in bytes, or nothing when they are not a well-formed hive file.
KESTREL_PLATFORM_API std::optional<Hive> ParseHive(std::string_view bytes);

} // namespace kestrel::platform::registry
