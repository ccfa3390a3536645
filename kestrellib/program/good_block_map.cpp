#include "kestrellib/program/good_block_map.h"

#include <algorithm>

namespace kestrel::program {

GoodBlockMap::GoodBlockMap(std::uint16_t areaBlocks) : areaBlocks_(areaBlocks) {
    entries_.reserve(areaBlocks);
}

bool GoodBlockMap::Add(std::uint32_t areaIndex) {
    if (areaIndex == kExcludedIndex || areaIndex >= areaBlocks_) {
        return false;
    }
    if (!entries_.empty() && areaIndex <= entries_.back()) {
        return false;
    }
    entries_.push_back(static_cast<GoodBlockMapEntry>(areaIndex));
    return true;
}

void GoodBlockMap::Remove(std::size_t entry) {
    if (entry < entries_.size()) {
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(entry));
    }
}

void GoodBlockMap::Encode(std::size_t offset, std::span<std::uint8_t> out) const {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    const std::size_t usedBytes = entries_.size() * sizeof(GoodBlockMapEntry);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::size_t at = offset + i;
        if (at < offset || at >= usedBytes) {
            break; // beyond the good entries (or wrapped): the rest stays zero
        }
        const GoodBlockMapEntry value = entries_[at / 2];
        out[i] = static_cast<std::uint8_t>(at % 2 == 0 ? value & 0xFF : value >> 8);
    }
}

} // namespace kestrel::program
