#pragma once
// The VMX image file: a 16-byte ImageHeader, then the payload. The payload is an
// ImageDescriptor followed by one SegmentRecord (and its data) per program header of the ELF
// file; it is stored as it stands ("VMXi") or Huffman-coded ("VMXh"). Every word is an unsigned
// 32-bit little-endian value; a magic is four ASCII characters in file order. The records below
// hold host values; the wrapper writes each field explicitly in little-endian order.

#include "platform/export.h"

#include <cstdint>

struct ImageHeader {
    std::uint32_t magic;     // "VMXi" stored, "VMXh" compressed
    std::uint32_t length;    // whole file in bytes, these 16 included
    std::uint32_t checkSumA; // over the uncompressed payload, see MakeCheckSum
    std::uint32_t checkSumB;
};
static_assert(sizeof(ImageHeader) == 16);

struct ImageDescriptor {
    std::uint32_t magic;        // "VMXd"
    std::uint32_t size;         // 36
    std::uint32_t formatWord;   // 0x01000001
    std::uint32_t dateStamp;    // year high byte, month, day, hour (UTC), most significant first
    std::uint32_t imageFlags;   // (flags AND 0x00FFFFFE) OR 0x61000001
    std::uint32_t segmentCount; // program headers of every type
    std::uint32_t entry;        // the ELF entry point
    std::uint32_t reserved0;    // 0, as the device's loader expects
    std::uint32_t reserved1;    // 1, as the device's loader expects
};
static_assert(sizeof(ImageDescriptor) == 36);

// The 24-byte head of a segment record; the block's bytes and 0-3 fill bytes follow it.
struct SegmentRecord {
    std::uint32_t magic;        // "VMXs"
    std::uint32_t recordLength; // 24 + data size rounded up to a multiple of 4
    std::uint32_t physAddr;
    std::uint32_t virtAddr;
    std::uint32_t reserved0; // 0, as the device's loader expects
    std::uint32_t reserved1; // 1, as the device's loader expects
};
static_assert(sizeof(SegmentRecord) == 24);

// Bit 24 of WrapVMXImageFormat's flags selects the compressed payload.
inline constexpr std::uint32_t kVmxCompressFlag = 0x01000000;

// Wraps the ELF file at elfPath into a VMX image at imagePath. Returns 1 when the whole image
// was written, 0 otherwise: the output is the same file as the ELF file (refused before anything
// is opened for writing), the ELF file cannot be read or is not sound, the image would exceed
// 4 GiB, the output cannot be created, memory runs out, the compressed stream would not fit its
// buffer, the ELF file cannot be read again while its segments are copied, or writing, closing
// or renaming the output fails. The image is written beside the output as "<imagePath>.part"
// and renamed over it when complete, so every failure leaves an earlier file of that name
// unchanged and no partial image behind. With compression the longest code length is printed
// on standard output. Wraps may run on several threads at once (to different outputs); the
// compressor keeps no process-wide state. segwrap/vmx_wrap.h gives the reasons in words.
KESTREL_EXPORT int WrapVMXImageFormat(const char* elfPath, const char* imagePath,
                                      unsigned int flags);

// Sums the length/4 little-endian words at data into header->checkSumA and checkSumB: the words
// fall into four consecutive runs of length/16 words, the last run taking the remainder; A is
// the sum of runs 0 and 2, B of runs 1 and 3, modulo 2^32. Returns 1, or 0 without touching
// the header when header or data is null or length is not a multiple of 4.
KESTREL_EXPORT int MakeCheckSum(ImageHeader* header, const void* data, unsigned int length);
