#pragma once
// The parts of the ELF format that the reader looks at: identification bytes, the sizes of the
// header and table entries of each class, the field offsets inside them, and the type and flag
// numbers it acts on. Offsets are in bytes from the start of the structure.

#include <cstddef>
#include <cstdint>

namespace kestrel::segwrap::elf {

inline constexpr unsigned char kMagic[4] = {0x7F, 'E', 'L', 'F'};
inline constexpr std::size_t kIdentSize = 16;
inline constexpr std::size_t kIdentClass = 4;
inline constexpr std::size_t kIdentData = 5;
inline constexpr std::size_t kIdentVersion = 6;

inline constexpr std::uint8_t kClass32 = 1;
inline constexpr std::uint8_t kClass64 = 2;
inline constexpr std::uint8_t kDataLsb = 1;
inline constexpr std::uint8_t kDataMsb = 2;
inline constexpr std::uint8_t kVersionCurrent = 1;

// Header counts that say "look in section 0 instead".
inline constexpr std::uint16_t kProgramCountEscape = 0xFFFF; // e_phnum: sh_info of section 0
inline constexpr std::uint16_t kSectionIndexEscape = 0xFFFF; // e_shstrndx: sh_link of section 0

inline constexpr std::uint32_t kSegmentNull = 0;

inline constexpr std::uint32_t kSectionNull = 0;
inline constexpr std::uint32_t kSectionSymbols = 2;
inline constexpr std::uint32_t kSectionStrings = 3;
inline constexpr std::uint32_t kSectionNote = 7;
inline constexpr std::uint32_t kSectionNoBits = 8;
inline constexpr std::uint32_t kSectionDynamicSymbols = 11;
inline constexpr std::uint64_t kSectionCompressed = 0x800;

// A note header: name size, descriptor size, type (three 32-bit words in either class).
inline constexpr std::size_t kNoteHeaderSize = 12;

// Sizes and field offsets of one class.
struct ClassLayout {
    int word; // 4 or 8: addresses, offsets and sizes
    std::size_t headerSize;
    std::size_t programHeaderSize;
    std::size_t sectionHeaderSize;
    std::size_t symbolSize;
    // File header, after the 16 identification bytes.
    std::size_t type, machine, version, entry, phoff, shoff, flags, phentsize, phnum, shentsize,
        shnum, shstrndx;
    // Program header.
    std::size_t pType, pFlags, pOffset, pVaddr, pPaddr, pFilesz, pMemsz, pAlign;
    // Section header.
    std::size_t sName, sType, sFlags, sAddr, sOffset, sSize, sLink, sInfo, sAlign, sEntsize;
    // Symbol.
    std::size_t yName, yInfo, yShndx, yValue, ySize;
};

inline constexpr ClassLayout kLayout32{4,  52, 32, 40, 16,                             //
                                       16, 18, 20, 24, 28, 32, 36, 42, 44, 46, 48, 50, //
                                       0,  24, 4,  8,  12, 16, 20, 28,                 //
                                       0,  4,  8,  12, 16, 20, 24, 28, 32, 36,         //
                                       0,  12, 14, 4,  8};

inline constexpr ClassLayout kLayout64{8,  64, 56, 64, 24,                             //
                                       16, 18, 20, 24, 32, 40, 48, 54, 56, 58, 60, 62, //
                                       0,  4,  8,  16, 24, 32, 40, 48,                 //
                                       0,  4,  8,  16, 24, 32, 40, 44, 48, 56,         //
                                       0,  4,  6,  8,  16};

} // namespace kestrel::segwrap::elf
