#pragma once
// Download blocks: the program segments of an ELF firmware file as the VMX image packs them, one
// block per program header, in program-header order.

#include "platform/export.h"

#include <cstdint>

// Filled in by GetDownloadBlocks; the caller owns the record, the set owns the four arrays and
// every block's data copy until BlockRelease. Entry i of the arrays is download block i and
// belongs to program header i. A block without data has size 0, a null data pointer and both
// addresses 0.
struct DownloadBlockSet {
    std::uint32_t count;      // number of program headers (all types); length of each array
    std::uint32_t entry;      // the ELF header's entry point
    std::uint32_t* sizes;     // data size of each block in bytes (the segment's file size)
    unsigned char** data;     // each block's own copy of the segment's file bytes, or null
    std::uint32_t* virtAddrs; // virtual address of each block
    std::uint32_t* physAddrs; // physical address of each block
};

// Reads the ELF file at elfPath into blockSet. A program header gives data when bit 0 of its
// type is set (loadable 1, and 3, 5, 7, 0x70000001, ...) and its file size is not 0.
// Returns 1 when the set was filled, 0 on failure: a null argument, a file that is missing or is
// not a sound ELF file, an entry point or a data-bearing block whose address does not fit in 32
// bits (64-bit files), or memory that cannot be had. On failure the set is left as it was.
KESTREL_EXPORT int GetDownloadBlocks(const char* elfPath, DownloadBlockSet* blockSet);

// Releases what GetDownloadBlocks allocated for the set and zeroes the record, so that a second
// release does nothing. A null pointer is ignored.
KESTREL_EXPORT void BlockRelease(DownloadBlockSet* blockSet);
