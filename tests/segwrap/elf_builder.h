#pragma once
// Hand-built ELF files for the tests: 32- or 64-bit, little- or big-endian, with program headers
// and their file bytes, sections (the section-name table is added last), symbol tables and notes.
// Build() lays the file out as: header, program headers, segment bytes, section bytes, section
// headers; the offsets of each part are kept so that tests can damage them.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::test {

struct ElfSegmentSpec {
    std::uint32_t type = 1;
    std::uint64_t virtAddr = 0;
    std::uint64_t physAddr = 0;
    std::string data{};
    std::uint64_t memSize = UINT64_MAX; // UINT64_MAX: the data size
    std::uint32_t flags = 5;
    std::uint64_t align = 4;
};

struct ElfSectionSpec {
    std::string name{};
    std::uint32_t type = 1;
    std::uint64_t flags = 0;
    std::uint64_t addr = 0;
    std::string data{};
    std::uint64_t entrySize = 0;
    std::uint32_t link = 0;
    std::uint32_t info = 0;
    std::uint64_t align = 1;
    std::uint64_t sizeOverride = UINT64_MAX; // for NOBITS sections, which have no bytes
};

struct ElfSymbolSpec {
    std::string name{};
    std::uint64_t value = 0;
    std::uint64_t size = 0;
    std::uint8_t bind = 0;
    std::uint8_t type = 0;
    std::uint16_t sectionIndex = 0;
};

struct ElfNoteSpec {
    std::string name{};
    std::uint32_t type = 0;
    std::string desc{};
};

class ElfBuilder {
public:
    ElfBuilder(bool is64, bool bigEndian) : is64_(is64), big_(bigEndian) {}

    // The defaults: an ARM executable of version 1.
    std::uint16_t type = 2;
    std::uint16_t machine = 40;
    std::uint64_t entry = 0;
    std::uint32_t flags = 0;

    std::size_t AddSegment(ElfSegmentSpec segment) {
        segments_.push_back(std::move(segment));
        return segments_.size() - 1;
    }
    // Section indices start at 1 (0 is the null section).
    std::size_t AddSection(ElfSectionSpec section) {
        sections_.push_back(std::move(section));
        return sections_.size();
    }
    // A string table and a symbol table (type 2, or 11 for dynsym) linked to it; the symbol
    // list should begin with the null symbol, as in real files. Returns the symbol table's index.
    std::size_t AddSymbolTable(const std::string& name, const std::vector<ElfSymbolSpec>& symbols,
                               std::uint32_t type = 2) {
        std::string strtab(1, '\0');
        std::string table;
        for (const auto& s : symbols) {
            std::uint32_t nameOffset = 0;
            if (!s.name.empty()) {
                nameOffset = static_cast<std::uint32_t>(strtab.size());
                strtab += s.name;
                strtab += '\0';
            }
            const std::uint8_t info = static_cast<std::uint8_t>((s.bind << 4) | (s.type & 0xF));
            if (is64_) {
                Append(table, nameOffset, 4);
                table += static_cast<char>(info);
                table += '\0';
                Append(table, s.sectionIndex, 2);
                Append(table, s.value, 8);
                Append(table, s.size, 8);
            } else {
                Append(table, nameOffset, 4);
                Append(table, s.value, 4);
                Append(table, s.size, 4);
                table += static_cast<char>(info);
                table += '\0';
                Append(table, s.sectionIndex, 2);
            }
        }
        const std::size_t strIndex = AddSection({.name = name + "str", .type = 3, .data = strtab});
        return AddSection({.name = name,
                           .type = type,
                           .data = table,
                           .entrySize = is64_ ? 24u : 16u,
                           .link = static_cast<std::uint32_t>(strIndex),
                           .align = is64_ ? 8u : 4u});
    }
    // align 8 makes the readers walk the notes with 8-byte alignment; the bytes are laid out with
    // 4-byte padding, which matches for names and descriptors whose padded sizes are multiples
    // of 8.
    std::size_t AddNoteSection(const std::string& name, const std::vector<ElfNoteSpec>& notes,
                               std::uint64_t align = 4) {
        std::string bytes;
        for (const auto& n : notes) {
            const std::string nameBytes = n.name.empty() ? std::string() : n.name + '\0';
            Append(bytes, nameBytes.size(), 4);
            Append(bytes, n.desc.size(), 4);
            Append(bytes, n.type, 4);
            bytes += Padded(nameBytes);
            bytes += Padded(n.desc);
        }
        return AddSection({.name = name, .type = 7, .flags = 2, .data = bytes, .align = align});
    }

    std::string Build() {
        const std::size_t ehsize = is64_ ? 64 : 52;
        const std::size_t phentsize = is64_ ? 56 : 32;
        const std::size_t shentsize = is64_ ? 64 : 40;
        std::string shstrtab(1, '\0');
        std::vector<std::uint32_t> nameOffsets;
        for (const auto& s : sections_) {
            nameOffsets.push_back(static_cast<std::uint32_t>(shstrtab.size()));
            shstrtab += s.name;
            shstrtab += '\0';
        }
        const auto shstrName = static_cast<std::uint32_t>(shstrtab.size());
        shstrtab += ".shstrtab";
        shstrtab += '\0';

        std::string file(ehsize + phentsize * segments_.size(), '\0');
        phoff = segments_.empty() ? 0 : ehsize;
        segmentOffsets.clear();
        for (const auto& seg : segments_) {
            Align(file, 4);
            segmentOffsets.push_back(file.size());
            file += seg.data;
        }
        sectionOffsets.assign(1, 0);
        for (const auto& sec : sections_) {
            Align(file, 8);
            sectionOffsets.push_back(file.size());
            file += sec.data;
        }
        Align(file, 8);
        const std::size_t shstrOffset = file.size();
        file += shstrtab;
        Align(file, 8);
        shoff = file.size();
        const std::size_t shnum = sections_.size() + 2;
        file.resize(shoff + shentsize * shnum, '\0');

        // Identification and header.
        file.replace(0, 4,
                     "\x7f"
                     "ELF");
        file[4] = is64_ ? 2 : 1;
        file[5] = big_ ? 2 : 1;
        file[6] = 1;
        std::size_t at = 16;
        Put(file, at, type, 2);
        Put(file, at, machine, 2);
        Put(file, at, 1, 4);
        Put(file, at, entry, Word());
        Put(file, at, phoff, Word());
        Put(file, at, shoff, Word());
        Put(file, at, flags, 4);
        Put(file, at, ehsize, 2);
        Put(file, at, segments_.empty() ? 0 : phentsize, 2);
        Put(file, at, segments_.size(), 2);
        Put(file, at, shentsize, 2);
        Put(file, at, shnum, 2);
        Put(file, at, shnum - 1, 2);

        for (std::size_t i = 0; i < segments_.size(); ++i) {
            const auto& seg = segments_[i];
            const std::uint64_t memSize = seg.memSize == UINT64_MAX ? seg.data.size() : seg.memSize;
            at = ehsize + i * phentsize;
            Put(file, at, seg.type, 4);
            if (is64_) {
                Put(file, at, seg.flags, 4);
            }
            Put(file, at, segmentOffsets[i], Word());
            Put(file, at, seg.virtAddr, Word());
            Put(file, at, seg.physAddr, Word());
            Put(file, at, seg.data.size(), Word());
            Put(file, at, memSize, Word());
            if (!is64_) {
                Put(file, at, seg.flags, 4);
            }
            Put(file, at, seg.align, Word());
        }
        auto putSection = [&](std::size_t index, std::uint32_t name, const ElfSectionSpec& s,
                              std::uint64_t offset, std::uint64_t size) {
            at = shoff + index * shentsize;
            Put(file, at, name, 4);
            Put(file, at, s.type, 4);
            Put(file, at, s.flags, Word());
            Put(file, at, s.addr, Word());
            Put(file, at, offset, Word());
            Put(file, at, size, Word());
            Put(file, at, s.link, 4);
            Put(file, at, s.info, 4);
            Put(file, at, s.align, Word());
            Put(file, at, s.entrySize, Word());
        };
        for (std::size_t i = 0; i < sections_.size(); ++i) {
            const auto& s = sections_[i];
            putSection(i + 1, nameOffsets[i], s, sectionOffsets[i + 1],
                       s.sizeOverride == UINT64_MAX ? s.data.size() : s.sizeOverride);
        }
        putSection(shnum - 1, shstrName, {.type = 3}, shstrOffset, shstrtab.size());
        return file;
    }

    // Filled in by Build().
    std::size_t phoff = 0;
    std::size_t shoff = 0;
    std::vector<std::size_t> segmentOffsets;
    std::vector<std::size_t> sectionOffsets; // [0] for the null section

    std::size_t PhentSize() const { return is64_ ? 56 : 32; }
    std::size_t ShentSize() const { return is64_ ? 64 : 40; }

    // Writes a header field of the given width at a byte offset, in the file's byte order.
    void Patch(std::string& file, std::size_t offset, std::uint64_t value, int width) const {
        Put(file, offset, value, width);
    }

private:
    int Word() const { return is64_ ? 8 : 4; }
    static void Align(std::string& s, std::size_t a) { s.resize((s.size() + a - 1) / a * a, '\0'); }
    static std::string Padded(std::string s) {
        Align(s, 4);
        return s;
    }
    void Put(std::string& file, std::size_t& at, std::uint64_t value, int width) const {
        for (int i = 0; i < width; ++i) {
            const int shift = big_ ? (width - 1 - i) * 8 : i * 8;
            file[at + i] = static_cast<char>((value >> shift) & 0xFF);
        }
        at += width;
    }
    void Put(std::string& file, std::size_t&& at, std::uint64_t value, int width) const {
        std::size_t a = at;
        Put(file, a, value, width);
    }
    void Append(std::string& bytes, std::uint64_t value, int width) const {
        bytes.resize(bytes.size() + width);
        Put(bytes, bytes.size() - width, value, width);
    }

    bool is64_;
    bool big_;
    std::vector<ElfSegmentSpec> segments_;
    std::vector<ElfSectionSpec> sections_;
};

} // namespace kestrel::test
