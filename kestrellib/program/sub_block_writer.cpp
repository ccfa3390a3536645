#include "kestrellib/program/sub_block_writer.h"

#include "platform/message_box/message_box.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace kestrel::program {

const char* const kCodecPageSizeWarning =
    "[WriteImagePackGeneral]: the page size of CEVA's codec file is different from the "
    "target's one!\nSelect [MISC][Target] to change the page size and rewrap the image file!";

namespace {

std::string PageFailureMessage(std::uint32_t block, std::uint32_t firstPage, std::uint32_t count) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Sub-block %u: pages %u to %u all failed to verify; the write is given up.\n",
                  block + 1, firstPage, firstPage + count - 1);
    return text;
}

std::string EndPageMessage(std::uint32_t block, std::uint32_t endPage) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "Sub-block %u: the data reach page %u, where the boot area ends; the write is "
                  "given up.\n",
                  block + 1, endPage);
    return text;
}

} // namespace

bool WriteSubBlock(WriteCursor& cursor, const SubHeader& subHeader, BootImageReader& reader,
                   const SubBlockTarget& target, PageWriter& writer, IndexArea& index) {
    const std::uint32_t pageSize = target.pageSize;
    if (pageSize < 64 || pageSize > kMaxPageSize || pageSize % 4 != 0 ||
        pageSize != index.PageSize()) {
        return false; // the caller checks the geometry before any sub-block
    }
    const std::uint32_t maxSkipped = kMaxSkippedBlocks * target.pagesPerBlock;
    const std::uint32_t blockIndex = reader.BlockIndex();

    cursor.length = subHeader.blockLength;
    cursor.kind = BlockKind(subHeader.blockType);
    cursor.firstSlot = FirstIndexSlot(cursor.kind, pageSize);

    std::uint32_t slot = cursor.firstSlot;
    if (slot >= index.SlotCount()) { // PlanIndexSlots refuses such images beforehand
        platform::ShowMessageBox(
            SlotPlanMessage({SlotPlan::Problem::kPastUsableSlots, blockIndex, 0, {}}));
        return false;
    }
    std::uint32_t sequence = 1;
    index.StartPage(slot, cursor.kind, sequence);
    std::uint32_t entry = kIndexHeaderWords;
    auto page = static_cast<std::uint32_t>(cursor.address / pageSize);

    std::array<std::uint8_t, kMaxPageSize> buffer;
    const std::span<std::uint8_t> pageData(buffer.data(), pageSize);
    std::uint32_t remaining = subHeader.blockLength;
    bool firstChunk = true;
    while (remaining > 0) {
        if (writer.Stopped()) {
            return false;
        }
        const std::uint32_t chunk = std::min(pageSize, remaining);
        // The bytes of a last, partial page beyond the data stay erased.
        std::fill(pageData.begin() + chunk, pageData.end(), std::uint8_t{0xFF});
        if (reader.ReadData(pageData.data(), chunk) != chunk) {
            platform::ShowMessageBox(ImageErrorMessage(ImageError::kTruncated, blockIndex));
            return false;
        }
        if (firstChunk && cursor.kind == kCodecKind) {
            std::uint32_t codecPageSize = 0;
            std::memcpy(&codecPageSize, pageData.data(), std::min<std::uint32_t>(chunk, 4));
            if (chunk < 4 || codecPageSize != pageSize) {
                platform::ShowMessageBox(kCodecPageSizeWarning);
            }
        }
        firstChunk = false;
        remaining -= chunk;

        const std::uint32_t firstTried = page;
        for (;;) {
            if (page >= writer.EndPage()) {
                platform::ShowMessageBox(EndPageMessage(blockIndex, writer.EndPage()));
                return false;
            }
            if (writer.WritePage(pageData, page)) {
                break;
            }
            if (writer.Stopped()) {
                return false;
            }
            ++page;
            if (page - firstTried >= maxSkipped) {
                platform::ShowMessageBox(PageFailureMessage(blockIndex, firstTried, maxSkipped));
                return false;
            }
        }
        index.SetWord(slot, entry, page);
        ++entry;
        ++page;
        cursor.address = static_cast<std::uint64_t>(page) * pageSize;
        if (entry == pageSize / 4) {
            slot = cursor.firstSlot + sequence;
            if (slot >= index.SlotCount()) { // PlanIndexSlots refuses such images beforehand
                platform::ShowMessageBox(
                    SlotPlanMessage({SlotPlan::Problem::kPastUsableSlots, blockIndex, 0, {}}));
                return false;
            }
            index.StartPage(slot, cursor.kind, sequence);
            ++sequence;
            entry = kIndexHeaderWords;
        }
    }
    index.SetWord(cursor.firstSlot, 2, subHeader.blockLength);
    index.SetWord(cursor.firstSlot, 3, page);
    return true;
}

bool WriteIndexPages(const IndexArea& index, std::uint32_t startPage, std::uint32_t usableSlots,
                     PageWriter& writer, std::span<const std::uint32_t> reservedPages,
                     std::string* message) {
    auto reserved = [&](std::uint32_t page) {
        return std::find(reservedPages.begin(), reservedPages.end(), page) != reservedPages.end();
    };
    std::uint32_t k = 0;
    std::uint32_t slot = 0;
    for (; k < usableSlots; ++slot, ++k) {
        if (!index.HoldsIndexPage(slot)) {
            continue;
        }
        if (writer.Stopped()) {
            if (message != nullptr) {
                message->clear();
            }
            return false;
        }
        while (k < usableSlots &&
               (reserved(startPage + k) || !writer.WritePage(index.Slot(slot), startPage + k))) {
            ++k;
        }
        if (k >= usableSlots) {
            break;
        }
    }
    // Every index page must have found its page; one that did not would leave a list cut short.
    for (std::uint32_t rest = slot; rest < usableSlots && rest < index.SlotCount(); ++rest) {
        if (index.HoldsIndexPage(rest)) {
            if (message != nullptr) {
                char text[128];
                std::snprintf(text, sizeof text,
                              "Index slot %u found no page to verify on in the index block.\n",
                              rest);
                *message = text;
            }
            return false;
        }
    }
    return true;
}

} // namespace kestrel::program
