#include "segwrap/block_selection.h"

#include "segwrap/elf_reader.h"

#include <limits>

namespace kestrel::segwrap {
namespace {

constexpr std::uint64_t kMax32 = std::numeric_limits<std::uint32_t>::max();

} // namespace

std::optional<BlockViews> SelectBlocks(const ElfReader& reader) {
    if (reader.Header().entry > kMax32) {
        return std::nullopt;
    }
    BlockViews views;
    views.entry = static_cast<std::uint32_t>(reader.Header().entry);
    views.blocks.reserve(reader.Segments().size());
    for (const ElfSegment& segment : reader.Segments()) {
        BlockView block;
        // A test of bit 0, not of type 1: types 3, 5, 7 and odd processor types give data too.
        if ((segment.type & 1u) != 0 && segment.fileSize != 0) {
            if (segment.fileSize > kMax32 || segment.virtAddr > kMax32 ||
                segment.physAddr > kMax32) {
                return std::nullopt;
            }
            block.size = static_cast<std::uint32_t>(segment.fileSize);
            block.data = segment.data.empty() ? nullptr : segment.data.data();
            block.fileOffset = segment.fileOffset;
            block.virtAddr = static_cast<std::uint32_t>(segment.virtAddr);
            block.physAddr = static_cast<std::uint32_t>(segment.physAddr);
        }
        views.blocks.push_back(block);
    }
    return views;
}

} // namespace kestrel::segwrap
