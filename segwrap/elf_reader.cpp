#include "segwrap/elf_reader.h"

#include "segwrap/elf_counts.h"
#include "segwrap/elf_format.h"
#include "segwrap/file_bytes.h"

#include "platform/files/files.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>

namespace kestrel::segwrap {
namespace {

// True when [offset, offset + length) lies inside a file of fileSize bytes.
bool InFile(std::uint64_t offset, std::uint64_t length, std::uint64_t fileSize) {
    return offset <= fileSize && length <= fileSize - offset;
}

// Reads [offset, offset + length) of the file into the same place of bytes, clipped to the
// file; false when a read comes up short.
bool ReadRange(std::FILE* file, ByteBlock& bytes, std::uint64_t offset, std::uint64_t length) {
    if (offset >= bytes.size()) {
        return true;
    }
    length = std::min<std::uint64_t>(length, bytes.size() - offset);
    if (length == 0) {
        return true;
    }
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<long>::max()) ||
        std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) {
        return false;
    }
    return std::fread(bytes.data() + offset, 1, static_cast<std::size_t>(length), file) == length;
}

std::uint64_t FieldAt(const unsigned char* p, int width, bool big) {
    std::uint64_t v = 0;
    for (int i = 0; i < width; ++i) {
        const unsigned char b = p[big ? i : width - 1 - i];
        v = (v << 8) | b;
    }
    return v;
}

// Reads the parts of an ELF file that describe it, leaving the bytes of data-bearing segments
// unread (the block's pages are then never touched). Falls back to reading everything for the
// rare files with extended header counts. Damaged fields only make the reads below cover less;
// the checks of Index() then refuse the file.
std::optional<ByteBlock> ReadElfStructure(const char* path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return std::nullopt;
    }
    const std::uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec || size > std::numeric_limits<std::size_t>::max() / 2) {
        return std::nullopt;
    }
    FileHandle file(std::fopen(path, "rb"));
    if (!file) {
        return std::nullopt;
    }
    ByteBlock bytes(static_cast<std::size_t>(size));
    if (!ReadRange(file.get(), bytes, 0, 64)) {
        return std::nullopt;
    }
    const unsigned char* h = bytes.data();
    if (size < elf::kLayout32.headerSize || h[elf::kIdentClass] < elf::kClass32 ||
        h[elf::kIdentClass] > elf::kClass64 || h[elf::kIdentData] < elf::kDataLsb ||
        h[elf::kIdentData] > elf::kDataMsb) {
        return ReadRange(file.get(), bytes, 0, size) ? std::optional(std::move(bytes))
                                                     : std::nullopt;
    }
    const elf::ClassLayout& l =
        h[elf::kIdentClass] == elf::kClass64 ? elf::kLayout64 : elf::kLayout32;
    if (size < l.headerSize) {
        return ReadRange(file.get(), bytes, 0, size) ? std::optional(std::move(bytes))
                                                     : std::nullopt;
    }
    const bool big = h[elf::kIdentData] == elf::kDataMsb;
    const std::uint64_t phoff = FieldAt(h + l.phoff, l.word, big);
    const std::uint64_t shoff = FieldAt(h + l.shoff, l.word, big);
    const std::uint64_t phentsize = FieldAt(h + l.phentsize, 2, big);
    const std::uint64_t phnum = FieldAt(h + l.phnum, 2, big);
    const std::uint64_t shentsize = FieldAt(h + l.shentsize, 2, big);
    const std::uint64_t shnum = FieldAt(h + l.shnum, 2, big);
    const std::uint64_t shstrndx = FieldAt(h + l.shstrndx, 2, big);
    if (phnum == elf::kProgramCountEscape || (shnum == 0 && shoff != 0) ||
        shstrndx == elf::kSectionIndexEscape) {
        return ReadRange(file.get(), bytes, 0, size) ? std::optional(std::move(bytes))
                                                     : std::nullopt;
    }
    if (!ReadRange(file.get(), bytes, phoff, phentsize * phnum)) {
        return std::nullopt;
    }
    // The file ranges of data-bearing segments, in offset order.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> skip;
    const std::uint64_t phdrSize = l.programHeaderSize;
    for (std::uint64_t i = 0; phentsize == phdrSize && i < phnum; ++i) {
        if (phoff > size || (i + 1) * phdrSize > size - phoff) {
            break;
        }
        const unsigned char* ph = bytes.data() + phoff + i * phdrSize;
        const std::uint64_t type = FieldAt(ph + l.pType, 4, big);
        const std::uint64_t offset = FieldAt(ph + l.pOffset, l.word, big);
        const std::uint64_t filesz = FieldAt(ph + l.pFilesz, l.word, big);
        if ((type & 1u) != 0 && filesz != 0 && InFile(offset, filesz, size)) {
            skip.emplace_back(offset, offset + filesz);
        }
    }
    std::sort(skip.begin(), skip.end());
    std::uint64_t from = 0;
    for (const auto& [begin, end] : skip) {
        if (begin > from && !ReadRange(file.get(), bytes, from, begin - from)) {
            return std::nullopt;
        }
        from = std::max(from, end);
    }
    if (!ReadRange(file.get(), bytes, from, size - std::min<std::uint64_t>(from, size))) {
        return std::nullopt;
    }
    // Header, tables and section names, wherever they lie.
    if (!ReadRange(file.get(), bytes, 0, 64) ||
        !ReadRange(file.get(), bytes, phoff, phentsize * phnum) ||
        !ReadRange(file.get(), bytes, shoff, shentsize * shnum)) {
        return std::nullopt;
    }
    const std::uint64_t shdrSize = l.sectionHeaderSize;
    if (shentsize == shdrSize && shstrndx < shnum && shoff <= size &&
        (shstrndx + 1) * shdrSize <= size - shoff) {
        const unsigned char* sh = bytes.data() + shoff + shstrndx * shdrSize;
        const std::uint64_t offset = FieldAt(sh + l.sOffset, l.word, big);
        const std::uint64_t length = FieldAt(sh + l.sSize, l.word, big);
        if (!ReadRange(file.get(), bytes, offset, length)) {
            return std::nullopt;
        }
    }
    return bytes;
}

} // namespace

std::optional<ElfReader> ElfReader::Create() {
    return ElfReader();
}

ElfReader::ElfReader(ElfReader&&) noexcept = default;
ElfReader& ElfReader::operator=(ElfReader&&) noexcept = default;
ElfReader::~ElfReader() = default;

void ElfReader::Clear() {
    failure_.clear();
    bytes_ = ByteBlock();
    loaded_ = false;
    complete_ = false;
    big_ = false;
    is64_ = false;
    header_ = {};
    segments_.clear();
    sections_.clear();
    places_.clear();
}

bool ElfReader::Refuse(std::string why) {
    Clear();
    failure_ = std::move(why);
    return false;
}

bool ElfReader::LoadFile(const char* path, ElfContents contents) {
    Clear();
    if (path == nullptr) {
        return Refuse("no file named");
    }
    // The host's reason first (missing, no permission), then what the reads below need.
    platform::File probe;
    if (const int e = probe.OpenForReading(path); e != 0) {
        return Refuse(platform::ErrorText(e));
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return Refuse("not a regular file");
    }
    const bool complete = contents == ElfContents::kEverything;
    auto bytes = complete ? ReadWholeFile(path) : ReadElfStructure(path);
    if (!bytes) {
        return Refuse("the file cannot be read completely");
    }
    return Load(std::move(*bytes), complete);
}

bool ElfReader::LoadBytes(std::span<const unsigned char> bytes) {
    ByteBlock copy(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.data());
    return Load(std::move(copy), true);
}

bool ElfReader::Load(ByteBlock bytes, bool complete) {
    Clear();
    bytes_ = std::move(bytes);
    complete_ = complete;
    if (!Index()) {
        return Refuse(failure_.empty() ? "not a sound ELF file" : failure_);
    }
    loaded_ = true;
    return true;
}

// A field of the file in host order; the caller has checked that it lies inside the file.
std::uint64_t ElfReader::Field(std::uint64_t offset, int width) const {
    return FieldAt(bytes_.data() + offset, width, big_);
}

// Reads and checks the header and both header tables. Counts are trusted only after the table
// they describe has been found to lie inside the file, so no allocation follows a raw field.
bool ElfReader::Index() {
    const std::uint64_t fileSize = bytes_.size();
    const unsigned char* ident = bytes_.data();
    const auto fail = [this](const char* why) {
        failure_ = why;
        return false;
    };
    if (fileSize < elf::kIdentSize || std::memcmp(ident, elf::kMagic, sizeof elf::kMagic) != 0 ||
        (ident[elf::kIdentClass] != elf::kClass32 && ident[elf::kIdentClass] != elf::kClass64) ||
        (ident[elf::kIdentData] != elf::kDataLsb && ident[elf::kIdentData] != elf::kDataMsb) ||
        ident[elf::kIdentVersion] != elf::kVersionCurrent) {
        return fail("not an ELF file");
    }
    is64_ = ident[elf::kIdentClass] == elf::kClass64;
    big_ = ident[elf::kIdentData] == elf::kDataMsb;
    const elf::ClassLayout& l = is64_ ? elf::kLayout64 : elf::kLayout32;
    if (fileSize < l.headerSize) {
        return fail("the ELF header is incomplete or of an unknown class or byte order");
    }
    // Extended numbering first: a count the header escapes must come back as one that needed
    // the escape.
    const auto counts =
        ResolveElfCounts(std::span<const unsigned char>(bytes_.data(), fileSize), &failure_);
    if (!counts) {
        return false;
    }
    header_.elfClass = ident[elf::kIdentClass];
    header_.encoding = ident[elf::kIdentData];
    header_.elfVersion = ident[elf::kIdentVersion];
    header_.type = static_cast<std::uint16_t>(Field(l.type, 2));
    header_.machine = static_cast<std::uint16_t>(Field(l.machine, 2));
    header_.version = static_cast<std::uint32_t>(Field(l.version, 4));
    header_.entry = Field(l.entry, l.word);
    header_.flags = static_cast<std::uint32_t>(Field(l.flags, 4));
    const std::uint64_t phoff = Field(l.phoff, l.word);
    const std::uint64_t shoff = Field(l.shoff, l.word);
    const std::uint64_t phentsize = Field(l.phentsize, 2);
    const std::uint64_t shentsize = Field(l.shentsize, 2);
    const std::uint64_t shEntrySize = l.sectionHeaderSize;

    // A section-header table that is named must be there, whole.
    const std::uint64_t shnum = counts->sections;
    if (shnum > 0) {
        if (shentsize != shEntrySize) {
            return fail("the section-header entry size is wrong for the ELF class");
        }
        if (!InFile(shoff, 0, fileSize) || shnum > (fileSize - shoff) / shEntrySize) {
            return fail("the section-header table does not fit the file");
        }
    }

    // A count of program headers needs a table offset (0 is none), and an offset must lie
    // inside the file even when it counts no entries.
    const std::uint64_t phnum = counts->programHeaders;
    const std::uint64_t phEntrySize = l.programHeaderSize;
    if ((phnum > 0 && phoff == 0) || (phoff != 0 && phoff >= fileSize)) {
        return fail("the program-header count cannot be read");
    }
    if (phnum > 0) {
        if (phentsize != phEntrySize) {
            return fail("the program-header entry size is wrong for the ELF class");
        }
        if (!InFile(phoff, 0, fileSize) || phnum > (fileSize - phoff) / phEntrySize) {
            return fail("the program-header table does not fit the file");
        }
    }
    segments_.reserve(static_cast<std::size_t>(phnum));
    for (std::uint64_t i = 0; i < phnum; ++i) {
        const std::uint64_t at = phoff + i * phEntrySize;
        ElfSegment segment;
        segment.type = static_cast<std::uint32_t>(Field(at + l.pType, 4));
        segment.virtAddr = Field(at + l.pVaddr, l.word);
        segment.physAddr = Field(at + l.pPaddr, l.word);
        segment.fileSize = Field(at + l.pFilesz, l.word);
        segment.memSize = Field(at + l.pMemsz, l.word);
        segment.flags = static_cast<std::uint32_t>(Field(at + l.pFlags, 4));
        segment.align = Field(at + l.pAlign, l.word);
        segment.fileOffset = Field(at + l.pOffset, l.word);
        // An unused entry's other fields mean nothing; every other segment's bytes must exist.
        if (segment.type != elf::kSegmentNull) {
            if (!InFile(segment.fileOffset, segment.fileSize, fileSize)) {
                return fail("a segment's bytes lie outside the file");
            }
            if (complete_ || (segment.type & 1u) == 0 || segment.fileSize == 0) {
                segment.data = std::span<const unsigned char>(
                    bytes_.data() + segment.fileOffset, static_cast<std::size_t>(segment.fileSize));
            }
        }
        segments_.push_back(segment);
    }

    std::uint64_t shstrndx = 0;
    if (shnum > 0) {
        shstrndx = counts->nameTableIndex;
        if (shstrndx >= shnum) {
            return fail("the section-name table index is out of range");
        }
    }
    sections_.reserve(static_cast<std::size_t>(shnum));
    places_.reserve(static_cast<std::size_t>(shnum));
    for (std::uint64_t i = 0; i < shnum; ++i) {
        const std::uint64_t at = shoff + i * shEntrySize;
        ElfSection section;
        section.type = static_cast<std::uint32_t>(Field(at + l.sType, 4));
        section.flags = Field(at + l.sFlags, l.word);
        section.addr = Field(at + l.sAddr, l.word);
        section.size = Field(at + l.sSize, l.word);
        section.entrySize = Field(at + l.sEntsize, l.word);
        section.link = static_cast<std::uint32_t>(Field(at + l.sLink, 4));
        section.info = static_cast<std::uint32_t>(Field(at + l.sInfo, 4));
        section.align = Field(at + l.sAlign, l.word);
        SectionPlace place;
        place.offset = Field(at + l.sOffset, l.word);
        place.size = section.size;
        place.compressed = (section.flags & elf::kSectionCompressed) != 0;
        if (section.type != elf::kSectionNull && section.type != elf::kSectionNoBits &&
            !InFile(place.offset, place.size, fileSize)) {
            return fail("a section's bytes lie outside the file");
        }
        sections_.push_back(std::move(section));
        places_.push_back(place);
    }
    // Names last: the string table may come after the section it names.
    for (std::uint64_t i = 0; shstrndx != 0 && i < shnum; ++i) {
        sections_[i].name =
            StringAt(static_cast<std::size_t>(shstrndx), Field(shoff + i * shEntrySize, 4));
    }
    return true;
}

std::string ElfReader::StringAt(std::size_t tableIndex, std::uint64_t offset) const {
    if (tableIndex >= sections_.size() || sections_[tableIndex].type != elf::kSectionStrings) {
        return std::string();
    }
    const SectionPlace& place = places_[tableIndex];
    if (place.compressed || offset >= place.size) {
        return std::string();
    }
    const auto* begin = reinterpret_cast<const char*>(bytes_.data() + place.offset + offset);
    const std::size_t room = static_cast<std::size_t>(place.size - offset);
    const void* end = std::memchr(begin, '\0', room);
    if (end == nullptr) {
        return std::string();
    }
    return std::string(begin, static_cast<const char*>(end));
}

std::vector<ElfSymbol> ElfReader::Symbols(std::size_t sectionIndex) const {
    std::vector<ElfSymbol> symbols;
    if (!loaded_ || sectionIndex >= sections_.size()) {
        return symbols;
    }
    const ElfSection& section = sections_[sectionIndex];
    const SectionPlace& place = places_[sectionIndex];
    if (section.entrySize == 0 || section.type == elf::kSectionNoBits || place.compressed ||
        (section.type != elf::kSectionSymbols && section.type != elf::kSectionDynamicSymbols)) {
        return symbols;
    }
    const elf::ClassLayout& l = is64_ ? elf::kLayout64 : elf::kLayout32;
    if (place.size % l.symbolSize != 0) {
        return symbols;
    }
    // The count follows the table's own entry size; each record is read at the class's record
    // size and only while it lies inside the table, so a wrong entry size only shortens the list.
    const std::uint64_t count = section.size / section.entrySize;
    for (std::uint64_t i = 0; i < count && (i + 1) * l.symbolSize <= place.size; ++i) {
        const std::uint64_t at = place.offset + i * l.symbolSize;
        const auto info = static_cast<std::uint8_t>(Field(at + l.yInfo, 1));
        ElfSymbol symbol;
        symbol.name = StringAt(section.link, Field(at + l.yName, 4));
        symbol.value = Field(at + l.yValue, l.word);
        symbol.size = Field(at + l.ySize, l.word);
        symbol.bind = static_cast<std::uint8_t>(info >> 4);
        symbol.type = static_cast<std::uint8_t>(info & 0x0F);
        symbol.sectionIndex = static_cast<std::uint16_t>(Field(at + l.yShndx, 2));
        symbols.push_back(std::move(symbol));
    }
    return symbols;
}

std::vector<ElfNote> ElfReader::Notes(std::size_t sectionIndex) const {
    std::vector<ElfNote> notes;
    if (!loaded_ || sectionIndex >= sections_.size() ||
        sections_[sectionIndex].type != elf::kSectionNote) {
        return notes;
    }
    const SectionPlace& place = places_[sectionIndex];
    if (place.compressed || place.size == 0) {
        return notes;
    }
    const std::uint64_t align = sections_[sectionIndex].align == 8 ? 8 : 4;
    const auto roundUp = [align](std::uint64_t v) { return (v + align - 1) & ~(align - 1); };
    const std::uint64_t size = place.size;
    std::uint64_t offset = 0;
    // Each step moves strictly forward inside the data, so the walk ends.
    while (offset < size) {
        if (size - offset < elf::kNoteHeaderSize) {
            break;
        }
        const std::uint64_t at = place.offset + offset;
        const std::uint64_t nameSize = Field(at, 4);
        const std::uint64_t descSize = Field(at + 4, 4);
        const auto type = static_cast<std::uint32_t>(Field(at + 8, 4));
        const std::uint64_t nameOffset = offset + elf::kNoteHeaderSize;
        if (nameSize > size || nameOffset > size - nameSize) {
            break;
        }
        const std::uint64_t paddedDesc = roundUp(descSize);
        const std::uint64_t descOffset = roundUp(nameOffset + nameSize);
        if (descOffset > size || size - descOffset < paddedDesc ||
            (paddedDesc == 0 && descSize != 0)) {
            break;
        }
        ElfNote note;
        note.type = type;
        if (nameSize > 0) {
            const auto* name =
                reinterpret_cast<const char*>(bytes_.data() + place.offset + nameOffset);
            note.name.assign(name, std::find(name, name + nameSize, '\0'));
        }
        notes.push_back(std::move(note));
        offset = descOffset + paddedDesc;
    }
    return notes;
}

} // namespace kestrel::segwrap
