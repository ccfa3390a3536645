#include "sim/nand_array.h"

#include <algorithm>
#include <cstring>

namespace kestrel::sim {

NandArray::NandArray(const DeviceConfig& config)
    : chip_(config.chip), blocks_(config.chip.blockCount), stats_(config.chip.blockCount),
      factoryBad_(config.factoryBadBlocks.begin(), config.factoryBadBlocks.end()),
      failingPages_(config.failingPages.begin(), config.failingPages.end()),
      pageOrder_(config.PageOrderRule()), badBlockStatus_(config.badBlockStatus),
      highest_(config.chip.blockCount, -1) {
    for (const GrownBadBlock& g : config.grownBadBlocks) {
        grownBadAfter_[g.block] = g.afterErases;
    }
    if (chip_.pairedPages) {
        std::vector<std::int32_t> lower;
        std::vector<std::int32_t> upper;
        for (std::uint32_t i = 0; i < chip_.pagesPerBlock; ++i) {
            (IsUpperPage(i) ? upper : lower).push_back(static_cast<std::int32_t>(i));
        }
        lowerOf_.assign(chip_.pagesPerBlock, -1);
        for (std::size_t n = 0; n < upper.size() && n < lower.size(); ++n) {
            lowerOf_[static_cast<std::size_t>(upper[n])] = lower[n];
        }
    }
}

bool NandArray::IsUpperPage(std::uint32_t i) {
    if (i <= 2) {
        return false;
    }
    if (i >= 252) {
        return true;
    }
    return (i & ~1u) % 4 != 2;
}

bool NandArray::WornOut(std::uint32_t block) const {
    auto it = grownBadAfter_.find(block);
    return it != grownBadAfter_.end() && block < stats_.size() &&
           stats_[block].erases >= it->second;
}

bool NandArray::IsBlockBad(std::uint32_t block) const {
    return FactoryBad(block) || WornOut(block);
}

const NandArray::Page* NandArray::Find(std::uint64_t page) const {
    const std::uint32_t block = BlockOf(page);
    if (block >= blocks_.size() || !blocks_[block]) {
        return nullptr;
    }
    return &blocks_[block][page % chip_.pagesPerBlock];
}

bool NandArray::EraseBlockOf(std::uint64_t page) {
    const std::uint32_t block = BlockOf(page);
    if (block >= stats_.size()) {
        return true;
    }
    const bool reportBad = badBlockStatus_ && IsBlockBad(block);
    ++stats_[block].erases;
    highest_[block] = -1;
    if (reportBad) {
        return false;
    }
    if (FactoryBad(block) || !blocks_[block]) {
        return true; // a factory-bad block keeps nothing; an untouched one holds nothing
    }
    Page* pages = blocks_[block].get();
    for (std::uint32_t i = 0; i < chip_.pagesPerBlock; ++i) {
        if (pages[i].bytes) {
            spare_.push_back(std::move(pages[i].bytes));
        }
        pages[i].programs = 0;
    }
    return true;
}

NandArray::ProgramResult NandArray::Program(std::uint64_t page, const std::uint8_t* data,
                                            std::size_t length) {
    const std::uint32_t block = BlockOf(page);
    if (block >= stats_.size()) {
        return ProgramResult::kDone;
    }
    const auto index = static_cast<std::int32_t>(page % chip_.pagesPerBlock);
    ++stats_[block].programs;
    if (badBlockStatus_ && IsBlockBad(block)) {
        return ProgramResult::kBadBlockStatus;
    }
    if (pageOrder_ && index <= highest_[block] && IsPageErased(page)) {
        return ProgramResult::kOutOfOrder;
    }
    if (!lowerOf_.empty() && lowerOf_[static_cast<std::size_t>(index)] >= 0) {
        const std::uint64_t lower =
            page - static_cast<std::uint64_t>(index) +
            static_cast<std::uint64_t>(lowerOf_[static_cast<std::size_t>(index)]);
        if (PageProgramsSinceErase(lower) == 0) {
            return ProgramResult::kUpperFirst;
        }
    }
    highest_[block] = std::max(highest_[block], index);
    if (FactoryBad(block)) {
        return ProgramResult::kDone; // the chip reports nothing; the data simply do not stick
    }
    length = std::min<std::size_t>(length, chip_.pageSize);
    if (!blocks_[block]) {
        blocks_[block] = std::make_unique<Page[]>(chip_.pagesPerBlock);
    }
    Page& stored = blocks_[block][page % chip_.pagesPerBlock];
    const bool wasErased = stored.programs == 0;
    ++stored.programs;
    if (!stored.bytes) {
        // An erased page holds 0xFF, so programming it stores the data as they are.
        if (spare_.empty()) {
            stored.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(chip_.pageSize);
        } else {
            stored.bytes = std::move(spare_.back());
            spare_.pop_back();
        }
        if (length > 0) {
            std::memcpy(stored.bytes.get(), data, length);
        }
        std::memset(stored.bytes.get() + length, 0xFF, chip_.pageSize - length);
    } else {
        std::uint8_t* bytes = stored.bytes.get();
        for (std::size_t i = 0; i < length; ++i) {
            bytes[i] &= data[i];
        }
    }
    if (WornOut(block) && length > 0) {
        stored.bytes[0] ^= 0x01; // a stuck cell: the first byte reads back one bit wrong
    }
    return wasErased ? ProgramResult::kDone : ProgramResult::kNotErased;
}

void NandArray::Read(std::uint64_t page, std::uint8_t* out, std::size_t length) const {
    length = std::min<std::size_t>(length, chip_.pageSize);
    const std::uint32_t block = BlockOf(page);
    if (FactoryBad(block)) {
        std::memset(out, 0x00, length);
        return;
    }
    const Page* stored = Find(page);
    if (stored == nullptr || !stored->bytes) {
        std::memset(out, 0xFF, length);
    } else {
        std::memcpy(out, stored->bytes.get(), length);
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
    const Page* stored = Find(page);
    if (stored != nullptr && stored->bytes) {
        std::memcpy(bytes.data(), stored->bytes.get(), chip_.pageSize);
    }
    return bytes;
}

bool NandArray::IsPageErased(std::uint64_t page) const {
    const Page* stored = Find(page);
    return (stored == nullptr || !stored->bytes) && !FactoryBad(BlockOf(page));
}

std::uint32_t NandArray::PageProgramsSinceErase(std::uint64_t page) const {
    const Page* stored = Find(page);
    return stored == nullptr ? 0 : stored->programs;
}

BlockStats NandArray::Stats(std::uint32_t block) const {
    return block < stats_.size() ? stats_[block] : BlockStats{};
}

} // namespace kestrel::sim
