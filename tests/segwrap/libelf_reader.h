#pragma once
// LibelfReader: the ELF reader as it was built over the elfutils library, kept in the Linux test
// suite as the oracle that segwrap's own reader (segwrap/elf_reader.h) is compared with. Same
// interface, same records, same bounds rules.

#include "segwrap/elf_reader.h"
#include "segwrap/file_bytes.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct Elf;

namespace kestrel::test {

using segwrap::ByteBlock;
using segwrap::ElfContents;
using segwrap::ElfHeaderInfo;
using segwrap::ElfNote;
using segwrap::ElfSection;
using segwrap::ElfSegment;
using segwrap::ElfSymbol;

class LibelfReader {
public:
    // Empty when the ELF library cannot be set up.
    static std::optional<LibelfReader> Create();

    LibelfReader(LibelfReader&&) noexcept;
    LibelfReader& operator=(LibelfReader&&) noexcept;
    ~LibelfReader();

    // Loads a file or a copy of bytes; false when they are not a sound ELF file (see above).
    // A reader that failed to load holds nothing but the reason. May throw std::bad_alloc.
    bool LoadFile(const char* path, ElfContents contents = ElfContents::kEverything);
    bool LoadBytes(std::span<const unsigned char> bytes);
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

    LibelfReader() = default;
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

} // namespace kestrel::test
