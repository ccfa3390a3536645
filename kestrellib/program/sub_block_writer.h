#pragma once
// Copies the sub-blocks of a boot image into NAND page by page and records in the index area
// where each page went; then writes the index pages into the index block. The page writer is an
// interface, so the same code drives a device (erase-once, write and read-back verification)
// and the tests' in-memory NAND.
//
// Pages that fail to verify are skipped: the data continue on the next page and the failed page
// does not appear in the index. The skipping is bounded: after kMaxSkippedBlocks erase blocks'
// worth of consecutive failed pages the write ends with a message, as does an index page that
// finds no page to verify on before the end of the index pass.

#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/index_area.h"

#include <cstdint>
#include <span>
#include <string>

namespace kestrel::program {

inline constexpr std::uint32_t kMaxSkippedBlocks = 5;
inline constexpr std::uint32_t kMaxPageSize = 16384;

class PageWriter {
public:
    virtual ~PageWriter() = default;
    // Writes one page (data holds a whole page) and verifies it; true when it verified.
    virtual bool WritePage(std::span<const std::uint8_t> data, std::uint32_t page) = 0;
    // Whether the write should end at the next page (the run is being stopped). The writers
    // below then return false without a message.
    virtual bool Stopped() const { return false; }
    // The first page the writer may not use (the end of the room given to the data); a data
    // page that would reach it ends the write with a message saying so.
    virtual std::uint32_t EndPage() const { return UINT32_MAX; }
};

// The running position of the data write.
struct WriteCursor {
    std::uint64_t address = 0; // byte address of the next data page (page number x page size)
    std::uint32_t length = 0;  // current sub-block: data length, kind and first index slot
    std::uint32_t kind = 0;
    std::uint32_t firstSlot = 0;
};

struct SubBlockTarget {
    std::uint32_t pageSize = 0;
    std::uint32_t pagesPerBlock = 0;
};

// Copies the data of the sub-block whose sub-header the reader has just delivered. Shows the
// codec page-size warning (kind 0x300) and, on failure, the reason; returns false on failure
// (a truncated block, a page that finds no good page within the bound, or data that reach the
// writer's end page).
bool WriteSubBlock(WriteCursor& cursor, const SubHeader& subHeader, BootImageReader& reader,
                   const SubBlockTarget& target, PageWriter& writer, IndexArea& index);

// Writes every slot of the index area that holds an index page, visiting the first
// usableSlots slots: slot s goes to page startPage + k, where k starts at 0, moves on past every
// page that fails or is listed in reservedPages, and grows by one after each slot. False (with
// the reason in *message) when a slot holding an index page cannot be placed before k reaches
// usableSlots.
bool WriteIndexPages(const IndexArea& index, std::uint32_t startPage, std::uint32_t usableSlots,
                     PageWriter& writer, std::span<const std::uint32_t> reservedPages,
                     std::string* message);

// The codec block's page-size warning.
extern const char* const kCodecPageSizeWarning;

} // namespace kestrel::program
