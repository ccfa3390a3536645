#pragma once
// The NAND array of a simulated device with the rules of real NAND: an erase sets every byte of
// a block to 0xFF; programming can only clear bits (the stored byte becomes old AND new); a
// second program of a page without an erase in between is a host error, recorded and then
// carried out as the chip would (AND). Factory-bad blocks read 0x00 and keep nothing; grown-bad
// blocks store one bit wrong once worn out; failing pages read back one byte wrong.
//
// Programs that the chip refuses (nothing is stored): a page below or at the highest page
// programmed since the block's erase when the page-order rule is on; on a paired-page chip, an
// upper page whose lower page holds no successful program since the erase (the lower pages are
// 0, 1 and the indexes 2, 3, 6, 7, 10, 11, ... up to 251 of a 256-page block; the n-th lower
// page pairs with the n-th upper page); with the bad-block status on, any program or erase of a
// bad block. Pages are
// stored sparsely: an erased page takes no memory, so chips of several GiB cost only what was
// written. Not thread-safe: the owning device serialises access.

#include "sim/chip.h"
#include "sim/device_config.h"
#include "sim/sim_api.h"

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kestrel::sim {

struct BlockStats {
    std::uint32_t erases = 0;   // erase commands that reached the block
    std::uint32_t programs = 0; // page programs that reached the block
};

class KESTREL_SIM_API NandArray {
public:
    explicit NandArray(const DeviceConfig& config);

    const Chip& Geometry() const { return chip_; }
    bool ValidPage(std::uint64_t page) const { return page < chip_.PageCount(); }
    std::uint32_t BlockOf(std::uint64_t page) const {
        return static_cast<std::uint32_t>(page / chip_.pagesPerBlock);
    }

    enum class ProgramResult {
        kDone,
        kNotErased,      // carried out (AND), but the page was programmed since its erase
        kOutOfOrder,     // refused: page order within the block
        kUpperFirst,     // refused: upper page of a pair whose lower page holds nothing
        kBadBlockStatus, // refused: bad block, reported by the chip's status
    };

    // Erases the block holding `page`; false when the chip reports the erase failed (a bad block
    // with the bad-block status on).
    bool EraseBlockOf(std::uint64_t page);
    // Programs the first data.size() bytes of the page (at most a page); the rest keeps its
    // bytes.
    ProgramResult Program(std::uint64_t page, const std::uint8_t* data, std::size_t length);
    // Whether the page index within a block is an upper page of a pair (paired-page chips).
    static bool IsUpperPage(std::uint32_t indexInBlock);
    // Reads length bytes (at most a page) as the host would see them.
    void Read(std::uint64_t page, std::uint8_t* out, std::size_t length) const;

    // Device-side views for tests and readers: stored bytes without injected read faults.
    std::vector<std::uint8_t> PageBytes(std::uint64_t page) const;
    bool IsPageErased(std::uint64_t page) const; // not programmed since the last erase
    std::uint32_t PageProgramsSinceErase(std::uint64_t page) const;
    BlockStats Stats(std::uint32_t block) const;
    bool IsBlockBad(std::uint32_t block) const; // factory-bad, or grown-bad and worn out

private:
    struct Page {
        std::unique_ptr<std::uint8_t[]> bytes; // null while erased
        std::uint32_t programs = 0;            // since the last erase
    };
    bool FactoryBad(std::uint32_t block) const { return factoryBad_.count(block) != 0; }
    bool WornOut(std::uint32_t block) const;
    // The page's entry, or null when its block was never programmed (or the page is invalid).
    const Page* Find(std::uint64_t page) const;

    Chip chip_;
    // Per block, its pages once one of them was programmed; a chip costs only what is written.
    std::vector<std::unique_ptr<Page[]>> blocks_;
    // Page buffers of erased pages, reused by the next programs: a run erases and programs
    // thousands of blocks, and fresh memory for each would cost more than the copy itself.
    std::vector<std::unique_ptr<std::uint8_t[]>> spare_;
    std::vector<BlockStats> stats_;
    std::unordered_set<std::uint32_t> factoryBad_;
    std::unordered_map<std::uint32_t, std::uint32_t> grownBadAfter_;
    std::unordered_set<std::uint64_t> failingPages_;
    bool pageOrder_;
    bool badBlockStatus_;
    // Per block, the highest page index programmed since its erase, -1 for none.
    std::vector<std::int32_t> highest_;
    // Paired-page chips: the lower page of each upper page index, -1 for a lower page.
    std::vector<std::int32_t> lowerOf_;
};

} // namespace kestrel::sim
