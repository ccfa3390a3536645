#pragma once
// MemoryNand: a NAND array in memory for tests of resource programming without a device. It
// keeps the NAND rules (erase sets 0xFF, programming only clears bits, a program into a page
// that is not erased is counted as a host error), blocks that fail the block test, pages whose
// program fails and pages that read back differently. It is both the writer's ResourceNand and
// the device-side reader's PageSource. Pages are stored sparsely, so large chips cost nothing.

#include "kestrellib/program/resource_nand.h"
#include "sim/page_source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>
#include <unordered_map>
#include <vector>

namespace kestrel::test {

class MemoryNand : public program::ResourceNand, public sim::PageSource {
public:
    // physicalPagesPerBlock is twice the layout's pages per block on paired-page chips.
    MemoryNand(std::uint32_t pageSize, std::uint32_t physicalPagesPerBlock, std::uint32_t blocks)
        : pageSize_(pageSize), pagesPerBlock_(physicalPagesPerBlock), blocks_(blocks) {}

    std::set<std::uint32_t> badBlocks;       // fail the block test
    std::set<std::uint32_t> failingWrites;   // physical pages whose program fails
    std::set<std::uint32_t> corruptReadback; // physical pages that keep one wrong bit

    std::uint32_t hostErrors = 0; // programs into pages that were not erased
    std::uint32_t pageWrites = 0;
    std::uint32_t pageReads = 0;
    std::set<std::uint32_t> testedBlocks;
    std::vector<std::uint32_t> writtenPages; // in write order

    bool TestBlock(std::uint16_t block) override {
        testedBlocks.insert(block);
        if (block >= blocks_ || badBlocks.count(block) != 0) {
            return false;
        }
        const std::uint32_t first = std::uint32_t{block} * pagesPerBlock_;
        for (std::uint32_t p = first; p < first + pagesPerBlock_; ++p) {
            pages_.erase(p);
        }
        return true;
    }

    bool WritePage(std::uint32_t page, const std::uint8_t* data, std::uint32_t length) override {
        ++pageWrites;
        writtenPages.push_back(page);
        if (page / pagesPerBlock_ >= blocks_ || length > pageSize_ ||
            failingWrites.count(page) != 0) {
            return false;
        }
        auto [it, inserted] = pages_.try_emplace(page, pageSize_, std::uint8_t{0xFF});
        if (!inserted) {
            ++hostErrors;
        }
        for (std::uint32_t i = 0; i < length; ++i) {
            it->second[i] &= data[i];
        }
        if (corruptReadback.count(page) != 0) {
            it->second[length / 2] ^= 0x10;
        }
        return true;
    }

    bool ReadPage(std::uint32_t page, std::uint8_t* data, std::uint32_t length) override {
        ++pageReads;
        if (page / pagesPerBlock_ >= blocks_ || length > pageSize_) {
            return false;
        }
        auto it = pages_.find(page);
        if (it == pages_.end()) {
            std::memset(data, 0xFF, length);
        } else {
            std::memcpy(data, it->second.data(), length);
        }
        return true;
    }

    bool ReadPage(std::uint32_t physicalPage, std::span<std::uint8_t> out) override {
        return ReadPage(physicalPage, out.data(), static_cast<std::uint32_t>(out.size()));
    }

    bool Programmed(std::uint32_t page) const { return pages_.count(page) != 0; }
    std::uint32_t PagesPerBlock() const { return pagesPerBlock_; }

private:
    std::uint32_t pageSize_;
    std::uint32_t pagesPerBlock_;
    std::uint32_t blocks_;
    std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> pages_;
};

} // namespace kestrel::test
