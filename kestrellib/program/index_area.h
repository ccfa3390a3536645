#pragma once
// The index area of the boot area: 256 KiB, zero-filled, divided into page-sized slots. Each
// sub-block of the boot image gets index pages that list the NAND pages its data went to; each
// kind of block owns a fixed first slot, and a list longer than one page continues in the
// following slots. Index page layout (u32 words, the rest 0xFF):
//   0: 0x55AACC33
//   1: 0xFFFE0000 | kind | sequence (1 for the first page, then 1, 2, 3, ... for continuations)
//   2: data length in bytes (first page only)
//   3: the page after the sub-block's last data page (first page only)
//   4..: data page numbers, pageSize/4 - 4 per index page.
//
// Only the first slots that fit both the area and one pass of the index write are written to
// the device (UsableIndexSlots). Sub-blocks are indexed in file order, so a later sub-block
// whose slots are those of an earlier one (two blocks of one kind, or two kinds without a slot
// of their own, which share slot 0) replaces its index pages: the earlier sub-block's data are
// written but the device can't reach them. Stored images rely on that, so it is reported, not
// refused. Before any page is written, PlanIndexSlots refuses an image in which a sub-block's
// index pages would run past the usable slots, or in which only part of a list is replaced, since
// the device would then find a list that is cut short or made of two sub-blocks' pages.

#include "kestrellib/program/boot_image_format.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestrel::program {

inline constexpr std::uint32_t kIndexAreaBytes = 256 * 1024;
inline constexpr std::uint32_t kIndexPageMagic = 0x55AACC33u;
inline constexpr std::uint32_t kIndexPageMark = 0xFFFE0000u;
inline constexpr std::uint32_t kIndexHeaderWords = 4;

// First slot of a kind (blockType AND 0xF00) for the page size.
std::uint32_t FirstIndexSlot(std::uint32_t kind, std::uint32_t pageSize);

constexpr std::uint32_t IndexEntriesPerPage(std::uint32_t pageSize) {
    return pageSize / 4 - kIndexHeaderWords;
}

// Index pages a sub-block of length bytes fills: a new page is started whenever the previous
// one is full, so a list that ends exactly at a page end is followed by one empty page.
std::uint32_t IndexPagesFor(std::uint64_t length, std::uint32_t pageSize);

// Pages one index write visits: 64 for 2048-byte pages, else 32.
constexpr std::uint32_t IndexPassPages(std::uint32_t pageSize) {
    return pageSize == 2048 ? 64 : 32;
}

// Slots that reach the device: within the area, within one index pass and within the index
// block of pagesPerBlock pages (so no index page lands on a data page).
std::uint32_t UsableIndexSlots(std::uint32_t pageSize, std::uint32_t pagesPerBlock);

class IndexArea {
public:
    // pageSize must be a multiple of 4 between 64 and 16384.
    explicit IndexArea(std::uint32_t pageSize);

    std::uint32_t PageSize() const { return pageSize_; }
    std::uint32_t SlotCount() const { return kIndexAreaBytes / pageSize_; }

    std::span<std::uint8_t> Slot(std::uint32_t slot);
    std::span<const std::uint8_t> Slot(std::uint32_t slot) const;
    std::uint32_t Word(std::uint32_t slot, std::uint32_t word) const;
    void SetWord(std::uint32_t slot, std::uint32_t word, std::uint32_t value);

    // Fills the slot with 0xFF and writes words 0 and 1.
    void StartPage(std::uint32_t slot, std::uint32_t kind, std::uint32_t sequence);
    // Word 0 is the magic and the top half of word 1 is 0xFFFE.
    bool HoldsIndexPage(std::uint32_t slot) const;

private:
    std::uint32_t pageSize_;
    std::vector<std::uint8_t> bytes_;
};

struct SlotPlan {
    enum class Problem { kNone, kPastUsableSlots, kOverlap };
    Problem problem = Problem::kNone;
    std::uint32_t block = 0; // the refused sub-block (0-based)
    std::uint32_t other = 0; // for kOverlap: the earlier sub-block whose list it cuts
    // Sub-blocks (0-based, ascending) whose index pages a later one replaces entirely.
    std::vector<std::uint32_t> unreachable;
};

// Checks the index slots of every sub-block, in file order.
SlotPlan PlanIndexSlots(std::span<const SubHeader> subHeaders, std::uint32_t pageSize,
                        std::uint32_t usableSlots);

// The operator's text for a refused plan.
std::string SlotPlanMessage(const SlotPlan& plan);

// A sentence naming the plan's unreachable sub-blocks (1-based); empty when there is none.
std::string UnreachableNote(const SlotPlan& plan);

// Per sub-block, whether the device can reach it through the index pages once the whole image
// is written (what a read-back of the boot area must find).
std::vector<bool> ReachableSubBlocks(std::span<const SubHeader> subHeaders, std::uint32_t pageSize);

} // namespace kestrel::program
