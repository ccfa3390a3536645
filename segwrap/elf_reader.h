#pragma once
// ElfReader: the one place that looks into ELF files. It reads a whole file (or takes its bytes),
// checks it once, and offers what loading and dumping use: the header fields, the program
// headers with their file data, the sections, symbol tables and notes. 32- and 64-bit files of
// either byte order are read; values come back in host order, widened to 64 bits.
//
// A file loads only when it is an ELF file whose header, program-header table, section-header
// table and every section and segment that has file bytes lie inside the file, and whose
// section-name table index is in range; extended numbering is resolved as elf_counts.h says, and
// the counts must agree with what the ELF library reads. Symbol and note contents are read
// leniently: a name that cannot be found reads as "", and reading stops at the first entry that
// does not fit.

#include "segwrap/file_bytes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct Elf;

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
    // Empty when the ELF library cannot be set up.
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
    struct ElfCloser {
        void operator()(Elf* elf) const;
    };

    ElfReader() = default;
    void Clear();
    bool Load(ByteBlock bytes, bool complete);
    bool Index();
    bool Refuse(std::string why);

    // Declared before elf_: the library reads from these bytes until elf_ is closed.
    ByteBlock bytes_;
    bool complete_ = false; // every byte of the file was read
    std::unique_ptr<Elf, ElfCloser> elf_;
    ElfHeaderInfo header_;
    std::vector<ElfSegment> segments_;
    std::vector<ElfSection> sections_;
    std::string failure_;
};

} // namespace kestrel::segwrap
