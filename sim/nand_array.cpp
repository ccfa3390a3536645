#include "sim/nand_array.h"

#include <algorithm>
#include <cstring>

namespace kestrel::sim {

NandArray::NandArray(const DeviceConfig& config)
    : chip_(config.chip), stats_(config.chip.blockCount),
      factoryBad_(config.factoryBadBlocks.begin(), config.factoryBadBlocks.end()),
      failingPages_(config.failingPages.begin(), config.failingPages.end()) {
    for (const GrownBadBlock& g : config.grownBadBlocks) {
        grownBadAfter_[g.block] = g.afterErases;
    }
}

bool NandArray::WornOut(std::uint32_t block) const {
    auto it = grownBadAfter_.find(block);
    return it != grownBadAfter_.end() && block < stats_.size() &&
           stats_[block].erases >= it->second;
}

bool NandArray::IsBlockBad(std::uint32_t block) const {
    return FactoryBad(block) || WornOut(block);
}

void NandArray::EraseBlockOf(std::uint64_t page) {
    const std::uint32_t block = BlockOf(page);
    if (block >= stats_.size()) {
        return;
    }
    ++stats_[block].erases;
    if (FactoryBad(block)) {
        return; // a factory-bad block keeps nothing; there is nothing to erase
    }
    const std::uint64_t first = static_cast<std::uint64_t>(block) * chip_.pagesPerBlock;
    for (std::uint64_t p = first; p < first + chip_.pagesPerBlock && !pages_.empty(); ++p) {
        pages_.erase(p);
    }
}

bool NandArray::Program(std::uint64_t page, const std::uint8_t* data, std::size_t length) {
    const std::uint32_t block = BlockOf(page);
    if (block >= stats_.size()) {
        return true;
    }
    ++stats_[block].programs;
    if (FactoryBad(block)) {
        return true; // the chip reports nothing; the data simply do not stick
    }
    length = std::min<std::size_t>(length, chip_.pageSize);
    auto [it, inserted] = pages_.try_emplace(page);
    Page& stored = it->second;
    if (inserted) {
        stored.bytes = std::make_unique<std::uint8_t[]>(chip_.pageSize);
        std::memset(stored.bytes.get(), 0xFF, chip_.pageSize);
    }
    const bool wasErased = stored.programs == 0;
    ++stored.programs;
    for (std::size_t i = 0; i < length; ++i) {
        stored.bytes[i] &= data[i];
    }
    if (WornOut(block) && length > 0) {
        stored.bytes[0] ^= 0x01; // a stuck cell: the first byte reads back one bit wrong
    }
    return wasErased;
}

void NandArray::Read(std::uint64_t page, std::uint8_t* out, std::size_t length) const {
    length = std::min<std::size_t>(length, chip_.pageSize);
    const std::uint32_t block = BlockOf(page);
    if (FactoryBad(block)) {
        std::memset(out, 0x00, length);
        return;
    }
    auto it = pages_.find(page);
    if (it == pages_.end()) {
        std::memset(out, 0xFF, length);
    } else {
        std::memcpy(out, it->second.bytes.get(), length);
    }
    if (!failingPages_.empty() && failingPages_.count(page) != 0) {
        const std::size_t middle = chip_.pageSize / 2;
        if (middle < length) {
            out[middle] ^= 0x10;
        }
    }
}

std::vector<std::uint8_t> NandArray::PageBytes(std::uint64_t page) const {
    std::vector<std::uint8_t> bytes(chip_.pageSize, 0xFF);
    if (FactoryBad(BlockOf(page))) {
        std::fill(bytes.begin(), bytes.end(), 0x00);
        return bytes;
    }
    auto it = pages_.find(page);
    if (it != pages_.end()) {
        std::memcpy(bytes.data(), it->second.bytes.get(), chip_.pageSize);
    }
    return bytes;
}

bool NandArray::IsPageErased(std::uint64_t page) const {
    return pages_.find(page) == pages_.end() && !FactoryBad(BlockOf(page));
}

std::uint32_t NandArray::PageProgramsSinceErase(std::uint64_t page) const {
    auto it = pages_.find(page);
    return it == pages_.end() ? 0 : it->second.programs;
}

BlockStats NandArray::Stats(std::uint32_t block) const {
    return block < stats_.size() ? stats_[block] : BlockStats{};
}

} // namespace kestrel::sim
