#pragma once
// The classic partition table the boot table carries in its first 512 bytes.

#include <array>
#include <cstdint>
#include <span>

namespace kestrel::device {

struct PartitionEntry {
    std::uint8_t type;
    std::uint32_t sizeMb; // 0xFFFFFFFF: the rest of the disk
};

inline constexpr std::uint32_t kRestOfDisk = 0xFFFFFFFFu;

// Writes a 512-byte sector: up to four entries in order from startMb, stopping at the first
// entry of size 0; each size is clipped to what is left of totalMb (sectors of 512 bytes);
// 0x55 0xAA at 510. Entries beyond what is left get zero sectors.
void BuildPartitionTable(std::span<std::uint8_t, 512> sector, std::uint32_t totalMb,
                         std::uint32_t startMb, std::span<const PartitionEntry> entries);

} // namespace kestrel::device
