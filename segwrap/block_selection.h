#pragma once
// Which program headers give download-block data, shared by GetDownloadBlocks (which copies the
// bytes) and the image wrapper (which packs them straight from the loaded file).

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrel::segwrap {
class ElfReader;

struct BlockView {
    std::uint32_t size = 0;
    // Points into the reader's bytes; null when size is 0 or the reader left the bytes unread.
    const unsigned char* data = nullptr;
    std::uint64_t fileOffset = 0; // where the bytes lie in the ELF file
    std::uint32_t virtAddr = 0;
    std::uint32_t physAddr = 0;
};

struct BlockViews {
    std::uint32_t entry = 0;
    std::vector<BlockView> blocks; // one per program header, in program-header order
};

// One block per program header: data when bit 0 of the type is set and the file size is not 0,
// otherwise an empty block with addresses 0. Nothing when the entry point or a data-bearing
// block's size or addresses do not fit in 32 bits: the image records hold 32-bit values, and a
// cut address would load the firmware to the wrong place.
std::optional<BlockViews> SelectBlocks(const ElfReader& reader);

} // namespace kestrel::segwrap
