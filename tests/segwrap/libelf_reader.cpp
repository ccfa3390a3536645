#include "segwrap/libelf_reader.h"

#include "segwrap/elf_counts.h"
#include "segwrap/file_bytes.h"

#include "platform/files/files.h"

#include <algorithm>
#include <filesystem>
#include <gelf.h>
#include <libelf.h>
#include <limits>

namespace kestrel::test {
using segwrap::FileHandle;
using segwrap::ReadWholeFile;
using segwrap::ResolveElfCounts;

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

std::uint64_t Field(const unsigned char* p, int width, bool big) {
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
    if (size < 52 || h[EI_CLASS] < ELFCLASS32 || h[EI_CLASS] > ELFCLASS64 ||
        h[EI_DATA] < ELFDATA2LSB || h[EI_DATA] > ELFDATA2MSB) {
        return ReadRange(file.get(), bytes, 0, size) ? std::optional(std::move(bytes))
                                                     : std::nullopt;
    }
    const bool is64 = h[EI_CLASS] == ELFCLASS64;
    if (size < (is64 ? sizeof(Elf64_Ehdr) : sizeof(Elf32_Ehdr))) {
        return ReadRange(file.get(), bytes, 0, size) ? std::optional(std::move(bytes))
                                                     : std::nullopt;
    }
    const bool big = h[EI_DATA] == ELFDATA2MSB;
    const int word = is64 ? 8 : 4;
    const std::size_t at = is64 ? 32 : 28; // e_phoff
    const std::uint64_t phoff = Field(h + at, word, big);
    const std::uint64_t shoff = Field(h + at + word, word, big);
    const unsigned char* counts = h + at + 2 * word + 4 + 2; // after e_flags and e_ehsize
    const std::uint64_t phentsize = Field(counts, 2, big);
    const std::uint64_t phnum = Field(counts + 2, 2, big);
    const std::uint64_t shentsize = Field(counts + 4, 2, big);
    const std::uint64_t shnum = Field(counts + 6, 2, big);
    const std::uint64_t shstrndx = Field(counts + 8, 2, big);
    if (phnum == PN_XNUM || (shnum == 0 && shoff != 0) || shstrndx == SHN_XINDEX) {
        return ReadRange(file.get(), bytes, 0, size) ? std::optional(std::move(bytes))
                                                     : std::nullopt;
    }
    if (!ReadRange(file.get(), bytes, phoff, phentsize * phnum)) {
        return std::nullopt;
    }
    // The file ranges of data-bearing segments, in offset order.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> skip;
    const std::uint64_t phdrSize = is64 ? sizeof(Elf64_Phdr) : sizeof(Elf32_Phdr);
    for (std::uint64_t i = 0; phentsize == phdrSize && i < phnum; ++i) {
        if (phoff > size || (i + 1) * phdrSize > size - phoff) {
            break;
        }
        const unsigned char* ph = bytes.data() + phoff + i * phdrSize;
        const std::uint64_t type = Field(ph, 4, big);
        const std::uint64_t offset = Field(ph + (is64 ? 8 : 4), word, big);
        const std::uint64_t filesz = Field(ph + (is64 ? 32 : 16), word, big);
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
    const std::uint64_t shdrSize = is64 ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr);
    if (shentsize == shdrSize && shstrndx < shnum && shoff <= size &&
        (shstrndx + 1) * shdrSize <= size - shoff) {
        const unsigned char* sh = bytes.data() + shoff + shstrndx * shdrSize;
        const std::uint64_t offset = Field(sh + (is64 ? 24 : 16), word, big);
        const std::uint64_t length = Field(sh + (is64 ? 32 : 20), word, big);
        if (!ReadRange(file.get(), bytes, offset, length)) {
            return std::nullopt;
        }
    }
    return bytes;
}

std::string StringAt(Elf* elf, std::size_t tableIndex, std::size_t offset) {
    const char* text = elf_strptr(elf, tableIndex, offset);
    return text != nullptr ? std::string(text) : std::string();
}

} // namespace

void LibelfReader::ElfCloser::operator()(Elf* elf) const {
    elf_end(elf);
}

std::optional<LibelfReader> LibelfReader::Create() {
    // The library's version is process-wide; set it once, before any reader exists.
    static const bool usable = elf_version(EV_CURRENT) != EV_NONE;
    if (!usable) {
        return std::nullopt;
    }
    return LibelfReader();
}

LibelfReader::LibelfReader(LibelfReader&&) noexcept = default;
LibelfReader& LibelfReader::operator=(LibelfReader&&) noexcept = default;
LibelfReader::~LibelfReader() = default;

void LibelfReader::Clear() {
    failure_.clear();
    elf_.reset();
    bytes_ = ByteBlock();
    complete_ = false;
    header_ = {};
    segments_.clear();
    sections_.clear();
}

bool LibelfReader::Refuse(std::string why) {
    Clear();
    failure_ = std::move(why);
    return false;
}

bool LibelfReader::LoadFile(const char* path, ElfContents contents) {
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

bool LibelfReader::LoadBytes(std::span<const unsigned char> bytes) {
    ByteBlock copy(bytes.size());
    std::copy(bytes.begin(), bytes.end(), copy.data());
    return Load(std::move(copy), true);
}

bool LibelfReader::Load(ByteBlock bytes, bool complete) {
    Clear();
    bytes_ = std::move(bytes);
    complete_ = complete;
    // The library reads the image in place; an empty file still needs a valid pointer.
    static char empty[1];
    char* image = bytes_.size() == 0 ? empty : reinterpret_cast<char*>(bytes_.data());
    elf_.reset(elf_memory(image, bytes_.size()));
    if (!elf_) {
        return Refuse("the ELF library cannot read it");
    }
    if (!Index()) {
        return Refuse(failure_.empty() ? "not a sound ELF file" : failure_);
    }
    return true;
}

// Reads and checks the header and both header tables. Counts are trusted only after the table
// they describe has been found to lie inside the file, so no allocation follows a raw field.
bool LibelfReader::Index() {
    Elf* elf = elf_.get();
    const std::uint64_t fileSize = bytes_.size();
    const auto fail = [this](const char* why) {
        failure_ = why;
        return false;
    };
    if (elf_kind(elf) != ELF_K_ELF) {
        return fail("not an ELF file");
    }
    GElf_Ehdr ehdr;
    if (gelf_getehdr(elf, &ehdr) == nullptr) {
        return fail("the ELF header is incomplete or of an unknown class or byte order");
    }
    const int elfClass = gelf_getclass(elf);
    if (elfClass != ELFCLASS32 && elfClass != ELFCLASS64) {
        return fail("the ELF class is neither 32-bit nor 64-bit");
    }
    // Extended numbering first: a count the header escapes must come back as one that needed
    // the escape, and the library must read the same counts.
    const auto counts =
        ResolveElfCounts(std::span<const unsigned char>(bytes_.data(), bytes_.size()), &failure_);
    if (!counts) {
        return false;
    }
    const bool is64 = elfClass == ELFCLASS64;
    header_.elfClass = ehdr.e_ident[EI_CLASS];
    header_.encoding = ehdr.e_ident[EI_DATA];
    header_.elfVersion = ehdr.e_ident[EI_VERSION];
    header_.type = ehdr.e_type;
    header_.machine = ehdr.e_machine;
    header_.version = ehdr.e_version;
    header_.entry = ehdr.e_entry;
    header_.flags = ehdr.e_flags;

    std::size_t phnum = 0;
    if (elf_getphdrnum(elf, &phnum) != 0 || phnum != counts->programHeaders) {
        return fail("the program-header count cannot be read");
    }
    if (phnum > 0) {
        const std::uint64_t entrySize = is64 ? sizeof(Elf64_Phdr) : sizeof(Elf32_Phdr);
        if (ehdr.e_phentsize != entrySize) {
            return fail("the program-header entry size is wrong for the ELF class");
        }
        if (!InFile(ehdr.e_phoff, 0, fileSize) || phnum > (fileSize - ehdr.e_phoff) / entrySize) {
            return fail("the program-header table does not fit the file");
        }
    }
    segments_.reserve(phnum);
    for (std::size_t i = 0; i < phnum; ++i) {
        GElf_Phdr phdr;
        if (gelf_getphdr(elf, static_cast<int>(i), &phdr) == nullptr) {
            return fail("a program header cannot be read");
        }
        ElfSegment segment;
        segment.type = phdr.p_type;
        segment.virtAddr = phdr.p_vaddr;
        segment.physAddr = phdr.p_paddr;
        segment.fileSize = phdr.p_filesz;
        segment.memSize = phdr.p_memsz;
        segment.flags = phdr.p_flags;
        segment.align = phdr.p_align;
        segment.fileOffset = phdr.p_offset;
        // An unused entry's other fields mean nothing; every other segment's bytes must exist.
        if (phdr.p_type != PT_NULL) {
            if (!InFile(phdr.p_offset, phdr.p_filesz, fileSize)) {
                return fail("a segment's bytes lie outside the file");
            }
            if (complete_ || (phdr.p_type & 1u) == 0 || phdr.p_filesz == 0) {
                segment.data = std::span<const unsigned char>(
                    bytes_.data() + phdr.p_offset, static_cast<std::size_t>(phdr.p_filesz));
            }
        }
        segments_.push_back(segment);
    }

    std::size_t shnum = 0;
    std::size_t shstrndx = 0;
    // The library quietly drops a section-header table that does not fit; a file whose header
    // names one must hold it, so its count must be the header's.
    if (elf_getshdrnum(elf, &shnum) != 0 || shnum != counts->sections) {
        return fail("the section-header table does not fit the file");
    }
    const std::uint64_t shEntrySize = is64 ? sizeof(Elf64_Shdr) : sizeof(Elf32_Shdr);
    if (shnum > 0) {
        if (ehdr.e_shentsize != shEntrySize) {
            return fail("the section-header entry size is wrong for the ELF class");
        }
        if (!InFile(ehdr.e_shoff, 0, fileSize) || shnum > (fileSize - ehdr.e_shoff) / shEntrySize) {
            return fail("the section-header table does not fit the file");
        }
        if (elf_getshdrstrndx(elf, &shstrndx) != 0 || shstrndx != counts->nameTableIndex ||
            shstrndx >= shnum) {
            return fail("the section-name table index is out of range");
        }
    }
    sections_.reserve(shnum);
    for (std::size_t i = 0; i < shnum; ++i) {
        GElf_Shdr shdr;
        Elf_Scn* scn = elf_getscn(elf, i);
        if (scn == nullptr || gelf_getshdr(scn, &shdr) == nullptr) {
            return fail("a section header cannot be read");
        }
        if (shdr.sh_type != SHT_NULL && shdr.sh_type != SHT_NOBITS &&
            !InFile(shdr.sh_offset, shdr.sh_size, fileSize)) {
            return fail("a section's bytes lie outside the file");
        }
        ElfSection section;
        section.name = shstrndx != 0 ? StringAt(elf, shstrndx, shdr.sh_name) : std::string();
        section.type = shdr.sh_type;
        section.flags = shdr.sh_flags;
        section.addr = shdr.sh_addr;
        section.size = shdr.sh_size;
        section.entrySize = shdr.sh_entsize;
        section.link = shdr.sh_link;
        section.info = shdr.sh_info;
        section.align = shdr.sh_addralign;
        sections_.push_back(std::move(section));
    }
    return true;
}

std::vector<ElfSymbol> LibelfReader::Symbols(std::size_t sectionIndex) const {
    std::vector<ElfSymbol> symbols;
    if (!elf_ || sectionIndex >= sections_.size()) {
        return symbols;
    }
    const ElfSection& section = sections_[sectionIndex];
    if (section.entrySize == 0 || section.type == SHT_NOBITS) {
        return symbols;
    }
    Elf_Scn* scn = elf_getscn(elf_.get(), sectionIndex);
    Elf_Data* data = scn != nullptr ? elf_getdata(scn, nullptr) : nullptr;
    if (data == nullptr) {
        return symbols;
    }
    // The count follows the table's own entry size; gelf_getsym bounds each read by the data
    // actually present, so a wrong entry size only shortens the list.
    const std::uint64_t count = section.size / section.entrySize;
    for (std::uint64_t i = 0; i < count; ++i) {
        GElf_Sym sym;
        if (gelf_getsym(data, static_cast<int>(i), &sym) == nullptr) {
            break;
        }
        ElfSymbol symbol;
        symbol.name = StringAt(elf_.get(), section.link, sym.st_name);
        symbol.value = sym.st_value;
        symbol.size = sym.st_size;
        symbol.bind = static_cast<std::uint8_t>(GELF_ST_BIND(sym.st_info));
        symbol.type = static_cast<std::uint8_t>(GELF_ST_TYPE(sym.st_info));
        symbol.sectionIndex = sym.st_shndx;
        symbols.push_back(std::move(symbol));
    }
    return symbols;
}

std::vector<ElfNote> LibelfReader::Notes(std::size_t sectionIndex) const {
    std::vector<ElfNote> notes;
    if (!elf_ || sectionIndex >= sections_.size() || sections_[sectionIndex].type != SHT_NOTE) {
        return notes;
    }
    Elf_Scn* scn = elf_getscn(elf_.get(), sectionIndex);
    Elf_Data* data = scn != nullptr ? elf_getdata(scn, nullptr) : nullptr;
    if (data == nullptr || data->d_buf == nullptr) {
        return notes;
    }
    const auto* base = static_cast<const char*>(data->d_buf);
    std::size_t offset = 0;
    // Each step moves strictly forward inside the data, so the walk ends.
    while (offset < data->d_size) {
        GElf_Nhdr nhdr;
        std::size_t nameOffset = 0;
        std::size_t descOffset = 0;
        const std::size_t next = gelf_getnote(data, offset, &nhdr, &nameOffset, &descOffset);
        if (next <= offset) {
            break;
        }
        ElfNote note;
        note.type = nhdr.n_type;
        if (nhdr.n_namesz > 0) {
            const char* name = base + nameOffset;
            note.name.assign(name, std::find(name, name + nhdr.n_namesz, '\0'));
        }
        notes.push_back(std::move(note));
        offset = next;
    }
    return notes;
}

} // namespace kestrel::test
