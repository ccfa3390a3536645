#pragma once
// ElfReader: the one place that looks into ELF files. It reads a whole file (or takes its bytes),
// checks it once, and offers what loading and dumping use: the header fields, the program
// headers with their file data, the sections, symbol tables and notes. 32- and 64-bit files of
// either byte order are read; values come back in host order, widened to 64 bits.
//
// A file loads only when it is an ELF file whose header, program-header table, section-header
// table and every section and segment that has file bytes lie inside the file, and whose
// section-name table index is in range; extended numbering is resolved as elf_counts.h says.
// Symbol and note contents are read leniently: a name that cannot be found reads as "", and
// reading stops at the first entry that does not fit.
//
// The reader is our own code over the format (elf_format.h) and builds on every platform. Its
// answers follow the rules the elfutils library applies, which the Linux test suite keeps true
// by comparing both on generated and damaged files
// (tests/segwrap/elf_reader_differential_test.cpp):
//   - a program-header count other than 0 needs a table offset other than 0, and an offset
//     other than 0 must lie inside the file even when the count is 0;
//   - a string is found only in a string-table section that is not compressed, at an offset
//     inside it, and up to a NUL inside it; any other name reads as "";
//   - a symbol table lists symbols only when its size is a whole number of symbol records (of
//     the file's class) and it is not compressed; notes are walked with 4-byte alignment, or
//     8 when the section is aligned to 8.

#include "segwrap/file_bytes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kestrel::segwrap {

struct ElfHeaderInfo {
    std::uint8_t elfClass = 0;   // 1 = 32-bit, 2 = 64-bit
    std::uint8_t encoding = 0;   // 1 = little endian, 2 = big endian
    std::uint8_t elfVersion = 0; // version byte of the identification
    std::uint16_t type = 0;
    std::uint16_t machine = 0;
    std::uint32_t version = 0;
    std::uint64_t entry = 0;
    std::uint32_t flags = 0;
};

struct ElfSegment {
    std::uint32_t type = 0;
    std::uint64_t virtAddr = 0;
    std::uint64_t physAddr = 0;
    std::uint64_t fileSize = 0;
    std::uint64_t memSize = 0;
    std::uint32_t flags = 0;
    std::uint64_t align = 0;
    std::uint64_t fileOffset = 0;
    // The segment's file bytes (fileSize of them); empty for PT_NULL entries, and for segments
    // whose bytes a structure-only load left unread.
    std::span<const unsigned char> data;
};

struct ElfSection {
    std::string name;
    std::uint32_t type = 0;
    std::uint64_t flags = 0;
    std::uint64_t addr = 0;
    std::uint64_t size = 0;
    std::uint64_t entrySize = 0;
    std::uint32_t link = 0;
    std::uint32_t info = 0;
    std::uint64_t align = 0;
};

struct ElfSymbol {
    std::string name;
    std::uint64_t value = 0;
    std::uint64_t size = 0;
    std::uint8_t bind = 0;
    std::uint8_t type = 0;
    std::uint16_t sectionIndex = 0;
};

struct ElfNote {
    std::uint32_t type = 0;
    std::string name;
};

// How much of a file LoadFile reads. kStructure leaves the bytes of the segments that give
// download-block data (bit 0 of the type set) unread, for callers that copy them from the file
// themselves; the header, the tables, the section names and everything else are read.
enum class ElfContents { kEverything, kStructure };

class ElfReader {
public:
    // A reader holding nothing. (Optional for the callers' sake: readers were once made by a
    // library that could fail to set up.)
    static std::optional<ElfReader> Create();

    ElfReader(ElfReader&&) noexcept;
    ElfReader& operator=(ElfReader&&) noexcept;
    ~ElfReader();

    // Loads a file or a copy of bytes; false when they are not a sound ELF file (see above).
    // A reader that failed to load holds nothing but the reason. May throw std::bad_alloc.
    bool LoadFile(const char* path, ElfContents contents = ElfContents::kEverything);
    bool LoadBytes(std::span<const unsigned char> bytes);
    // Why the last load failed, in words ("No such file or directory", "not an ELF file",
    // "the program-header table does not fit the file", ...); empty after a successful load.
    const std::string& Failure() const { return failure_; }

    const ElfHeaderInfo& Header() const { return header_; }
    const std::vector<ElfSegment>& Segments() const { return segments_; }
    const std::vector<ElfSection>& Sections() const { return sections_; }

    // The symbols of a symbol-table section (entry 0 included), in table order.
    std::vector<ElfSymbol> Symbols(std::size_t sectionIndex) const;
    // The notes of a note section, in order.
    std::vector<ElfNote> Notes(std::size_t sectionIndex) const;

private:
    // Where a section's bytes lie in the file, and whether they are compressed.
    struct SectionPlace {
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        bool compressed = false;
    };

    ElfReader() = default;
    void Clear();
    bool Load(ByteBlock bytes, bool complete);
    bool Index();
    bool Refuse(std::string why);
    std::uint64_t Field(std::uint64_t offset, int width) const;
    std::string StringAt(std::size_t tableIndex, std::uint64_t offset) const;

    ByteBlock bytes_;
    bool loaded_ = false;
    bool complete_ = false; // every byte of the file was read
    bool big_ = false;      // big-endian fields
    bool is64_ = false;
    std::vector<SectionPlace> places_; // parallel to sections_
    ElfHeaderInfo header_;
    std::vector<ElfSegment> segments_;
    std::vector<ElfSection> sections_;
    std::string failure_;
};

} // namespace kestrel::segwrap
