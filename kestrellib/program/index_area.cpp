#include "kestrellib/program/index_area.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kestrel::program {
namespace {

struct SlotRule {
    std::uint32_t kind;
    std::uint32_t slot2048; // first slot with 2048-byte pages
    std::uint32_t slotOther;
};

constexpr SlotRule kSlotRules[] = {
    {0x100, 16, 10},
    {0x200, 2, 2},
    {0x300, 4, 4},
    {0x400, 32, 18},
};

} // namespace

std::uint32_t FirstIndexSlot(std::uint32_t kind, std::uint32_t pageSize) {
    for (const SlotRule& rule : kSlotRules) {
        if (rule.kind == kind) {
            return pageSize == 2048 ? rule.slot2048 : rule.slotOther;
        }
    }
    return 0;
}

std::uint32_t IndexPagesFor(std::uint64_t length, std::uint32_t pageSize) {
    const std::uint64_t dataPages = (length + pageSize - 1) / pageSize;
    return static_cast<std::uint32_t>(1 + dataPages / IndexEntriesPerPage(pageSize));
}

std::uint32_t UsableIndexSlots(std::uint32_t pageSize, std::uint32_t pagesPerBlock) {
    return std::min({kIndexAreaBytes / pageSize, IndexPassPages(pageSize), pagesPerBlock});
}

IndexArea::IndexArea(std::uint32_t pageSize) : pageSize_(pageSize), bytes_(kIndexAreaBytes, 0) {}

std::span<std::uint8_t> IndexArea::Slot(std::uint32_t slot) {
    return std::span(bytes_).subspan(static_cast<std::size_t>(slot) * pageSize_, pageSize_);
}

std::span<const std::uint8_t> IndexArea::Slot(std::uint32_t slot) const {
    return std::span(bytes_).subspan(static_cast<std::size_t>(slot) * pageSize_, pageSize_);
}

std::uint32_t IndexArea::Word(std::uint32_t slot, std::uint32_t word) const {
    std::uint32_t value = 0;
    std::memcpy(&value, Slot(slot).data() + 4 * word, sizeof value);
    return value;
}

void IndexArea::SetWord(std::uint32_t slot, std::uint32_t word, std::uint32_t value) {
    std::memcpy(Slot(slot).data() + 4 * word, &value, sizeof value);
}

void IndexArea::StartPage(std::uint32_t slot, std::uint32_t kind, std::uint32_t sequence) {
    auto page = Slot(slot);
    std::fill(page.begin(), page.end(), std::uint8_t{0xFF});
    SetWord(slot, 0, kIndexPageMagic);
    SetWord(slot, 1, kIndexPageMark | kind | sequence);
}

bool IndexArea::HoldsIndexPage(std::uint32_t slot) const {
    return Word(slot, 0) == kIndexPageMagic && (Word(slot, 1) & 0xFFFF0000u) == kIndexPageMark;
}

SlotPlan PlanIndexSlots(std::span<const SubHeader> subHeaders, std::uint32_t pageSize,
                        std::uint32_t usableSlots) {
    constexpr std::uint32_t kFree = 0xFFFFFFFFu;
    std::vector<std::uint32_t> owner(usableSlots, kFree);
    struct Span {
        std::uint32_t first;
        std::uint32_t pages;
    };
    std::vector<Span> spans;
    spans.reserve(subHeaders.size());
    for (std::uint32_t block = 0; block < subHeaders.size(); ++block) {
        const SubHeader& sub = subHeaders[block];
        const std::uint32_t first = FirstIndexSlot(BlockKind(sub.blockType), pageSize);
        const std::uint32_t pages = IndexPagesFor(sub.blockLength, pageSize);
        if (first >= usableSlots || pages > usableSlots - first) {
            return {SlotPlan::Problem::kPastUsableSlots, block, 0, {}};
        }
        spans.push_back({first, pages});
        // A later sub-block's index pages replace what an earlier one left in the same slots.
        std::fill(owner.begin() + first, owner.begin() + first + pages, block);
    }
    SlotPlan plan;
    for (std::uint32_t block = 0; block < spans.size(); ++block) {
        const Span& span = spans[block];
        std::uint32_t kept = 0;
        std::uint32_t takenBy = kFree;
        for (std::uint32_t slot = span.first; slot < span.first + span.pages; ++slot) {
            if (owner[slot] == block) {
                ++kept;
            } else if (takenBy == kFree) {
                takenBy = owner[slot];
            }
        }
        if (kept == span.pages) {
            continue;
        }
        if (kept == 0) {
            plan.unreachable.push_back(block);
            continue;
        }
        // Part of a list replaced: the device would follow a list of mixed pages.
        return {SlotPlan::Problem::kOverlap, takenBy, block, {}};
    }
    return plan;
}

std::string SlotPlanMessage(const SlotPlan& plan) {
    char text[160];
    switch (plan.problem) {
    case SlotPlan::Problem::kNone:
        return {};
    case SlotPlan::Problem::kPastUsableSlots:
        std::snprintf(text, sizeof text,
                      "The index pages of sub-block %u run past the index area.\n", plan.block + 1);
        return text;
    case SlotPlan::Problem::kOverlap:
        std::snprintf(text, sizeof text,
                      "The index pages of sub-block %u overlap those of sub-block %u.\n",
                      plan.block + 1, plan.other + 1);
        return text;
    }
    return {};
}

std::string UnreachableNote(const SlotPlan& plan) {
    if (plan.unreachable.empty()) {
        return {};
    }
    std::string blocks;
    for (const std::uint32_t block : plan.unreachable) {
        blocks += (blocks.empty() ? "" : ", ") + std::to_string(block + 1);
    }
    return "sub-block" + std::string(plan.unreachable.size() == 1 ? " " : "s ") + blocks +
           (plan.unreachable.size() == 1 ? " is" : " are") +
           " written, but a later sub-block's index pages take the same slots, so the device "
           "can't reach " +
           (plan.unreachable.size() == 1 ? "it" : "them");
}

std::vector<bool> ReachableSubBlocks(std::span<const SubHeader> subHeaders,
                                     std::uint32_t pageSize) {
    std::vector<bool> reachable(subHeaders.size(), true);
    const SlotPlan plan = PlanIndexSlots(subHeaders, pageSize, kIndexAreaBytes / pageSize);
    for (const std::uint32_t block : plan.unreachable) {
        reachable[block] = false;
    }
    return reachable;
}

} // namespace kestrel::program
