#include "kestrellib/device/partition_table.h"

#include <algorithm>
#include <cstring>

namespace kestrel::device {
namespace {

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

constexpr std::size_t kFirstEntry = 446;
constexpr std::size_t kEntrySize = 16;
constexpr std::uint32_t kSectorsPerMb = 2048;

} // namespace

void BuildPartitionTable(std::span<std::uint8_t, 512> sector, std::uint32_t totalMb,
                         std::uint32_t startMb, std::span<const PartitionEntry> entries) {
    std::memset(sector.data(), 0, sector.size());
    std::uint32_t next = startMb;
    const std::size_t count = std::min<std::size_t>(entries.size(), 4);
    for (std::size_t i = 0; i < count && entries[i].sizeMb != 0; ++i) {
        const std::uint32_t remaining = totalMb > next ? totalMb - next : 0;
        const std::uint32_t size =
            entries[i].sizeMb == kRestOfDisk ? remaining : std::min(remaining, entries[i].sizeMb);
        std::uint8_t* entry = sector.data() + kFirstEntry + i * kEntrySize;
        entry[4] = entries[i].type;
        PutLe32(entry + 8, next * kSectorsPerMb);
        PutLe32(entry + 12, size * kSectorsPerMb);
        next += size;
    }
    sector[510] = 0x55;
    sector[511] = 0xAA;
}

} // namespace kestrel::device
