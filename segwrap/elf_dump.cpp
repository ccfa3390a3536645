#include "segwrap/elf_dump.h"

#include "segwrap/elf_reader.h"
#include "segwrap/file_bytes.h"

#include "platform/files/file_identity.h"
#include "platform/files/files.h"

#include <array>
#include <cerrno>
#include <functional>
#include <string>

namespace kestrel::segwrap {
namespace {

// Values are printed at their full width: for 32-bit files the columns are exactly the fixed
// widths below, and a 64-bit value wider than its column is shown whole rather than cut.
using U64 = unsigned long long;

const char* SectionTypeName(std::uint32_t type) {
    static constexpr std::array<const char*, 12> kNames = {
        "NULL",    "PROGBITS", "SYMTAB", "STRTAB", "RELA",  "HASH",
        "DYNAMIC", "NOTE",     "NOBITS", "REL",    "SHLIB", "DYNSYM"};
    return type < kNames.size() ? kNames[type] : "UNKNOWN";
}

const char* SegmentTypeName(std::uint32_t type) {
    static constexpr std::array<const char*, 7> kNames = {
        "NULL", "PT_LOAD", "PT_DYNAMIC", "PT_INTERP", "PT_NOTE", "PT_SHLIB", "PT_PHDR"};
    return type < kNames.size() ? kNames[type] : "UNKNOWN";
}

std::string FlagLetters(std::uint64_t flags) {
    static constexpr std::array<char, 3> kLetters = {'W', 'A', 'X'}; // bits 0, 1, 2
    std::string letters;
    for (std::size_t bit = 0; bit < kLetters.size(); ++bit) {
        if ((flags >> bit) & 1u) {
            letters += kLetters[bit];
        }
    }
    return letters;
}

void WriteHeader(const ElfHeaderInfo& h, std::FILE* out) {
    std::fprintf(out, "ELF Header\n");
    std::fprintf(out, "  Class:      %s (%d)\n", h.elfClass == 1 ? "CLASS32" : "Unknown",
                 h.elfClass);
    if (h.encoding == 1) {
        std::fprintf(out, "  Encoding:   Little endian\n");
    } else if (h.encoding == 2) {
        std::fprintf(out, "  Encoding:   Big endian\n");
    } else {
        std::fprintf(out, "  Encoding:   Unknown\n");
    }
    std::fprintf(out, "  ELFVersion: %s (%d)\n", h.elfVersion == 1 ? "Current" : "Unknown",
                 h.elfVersion);
    std::fprintf(out, "  Type:       0x%04X\n", h.type);
    std::fprintf(out, "  Machine:    0x%04X\n", h.machine);
    std::fprintf(out, "  Version:    0x%08X\n", h.version);
    std::fprintf(out, "  Entry:      0x%08llX\n", static_cast<U64>(h.entry));
    std::fprintf(out, "  Flags:      0x%08X\n\n", h.flags);
}

void WriteSections(const ElfReader& reader, std::FILE* out) {
    std::fprintf(out, "Section headers:\n");
    std::fprintf(out, "  [Nr] Name                 Type     Addr     Size   ES Flg Lk Inf  Al\n");
    const auto& sections = reader.Sections();
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const ElfSection& s = sections[i];
        std::fprintf(out, "  [%2zx] %-20.20s %-8.8s %08llx %06llx %02llx %-3.3s %02x %04x %02llx\n",
                     i, s.name.c_str(), SectionTypeName(s.type), static_cast<U64>(s.addr),
                     static_cast<U64>(s.size), static_cast<U64>(s.entrySize),
                     FlagLetters(s.flags).c_str(), s.link, s.info, static_cast<U64>(s.align));
    }
    std::fprintf(out, "Key to Flags: W (write), A (alloc), X (execute)\n\n");
}

void WriteSegments(const ElfReader& reader, std::FILE* out) {
    const auto& segments = reader.Segments();
    if (!segments.empty()) {
        std::fprintf(out, "Segment headers:\n");
        std::fprintf(out, "  [Nr] Type       VirtAddr PhysAddr FileSize Mem.Size Flags    Align\n");
        for (std::size_t i = 0; i < segments.size(); ++i) {
            const ElfSegment& s = segments[i];
            std::fprintf(out, "  [%2zx] %-10.10s %08llx %08llx %08llx %08llx %08x %08llx\n", i,
                         SegmentTypeName(s.type), static_cast<U64>(s.virtAddr),
                         static_cast<U64>(s.physAddr), static_cast<U64>(s.fileSize),
                         static_cast<U64>(s.memSize), s.flags, static_cast<U64>(s.align));
        }
    }
    std::fprintf(out, "\n");
}

void WriteSymbolTables(const ElfReader& reader, std::FILE* out) {
    const auto& sections = reader.Sections();
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (sections[i].type != 2 && sections[i].type != 11) {
            continue;
        }
        const auto symbols = reader.Symbols(i);
        if (!symbols.empty()) {
            std::fprintf(out, "Symbol table (%s)\n", sections[i].name.c_str());
            std::fprintf(out, "     Name                                      Value    Size     "
                              "Bind Type Sect\n");
            for (const ElfSymbol& s : symbols) {
                std::fprintf(out, "%-46.46s %08llx %08llx %04x %04x %04x\n", s.name.c_str(),
                             static_cast<U64>(s.value), static_cast<U64>(s.size), s.bind, s.type,
                             s.sectionIndex);
            }
        }
        std::fprintf(out, "\n");
    }
}

void WriteNotes(const ElfReader& reader, std::FILE* out) {
    const auto& sections = reader.Sections();
    for (std::size_t i = 0; i < sections.size(); ++i) {
        if (sections[i].type != 7) {
            continue;
        }
        const auto notes = reader.Notes(i);
        if (!notes.empty()) {
            std::fprintf(out, "Note section (%s)\n", sections[i].name.c_str());
            std::fprintf(out, "   No     Type    Name\n");
            for (std::size_t n = 0; n < notes.size(); ++n) {
                std::fprintf(out, "  [%2zu] 0x%08x %s\n", n, notes[n].type, notes[n].name.c_str());
            }
        }
        std::fprintf(out, "\n");
    }
}

} // namespace

std::string WriteReplacing(const std::string& path, const std::function<void(std::FILE*)>& write) {
    if (!platform::IsReplaceableOutput(path)) {
        return "is not a regular file (a directory, device or pipe): refusing to replace it";
    }
    const std::string part = path + ".part";
    errno = 0;
    FileHandle out(std::fopen(part.c_str(), "w"));
    if (!out) {
        return "cannot be created (" + part + "): " + platform::ErrorText(errno);
    }
    errno = 0;
    write(out.get());
    const bool written = std::ferror(out.get()) == 0;
    const int writeError = errno;
    const bool closed = std::fclose(out.release()) == 0;
    std::string why;
    if (!written || !closed) {
        why = "cannot be written: " + platform::ErrorText(writeError != 0 ? writeError : errno);
    } else if (const int e = platform::RenameReplacing(part, path); e != 0) {
        why = "cannot be replaced: " + platform::ErrorText(e);
    }
    if (!why.empty()) {
        platform::RemoveFile(part);
    }
    return why;
}

DumpReport DumpElfToFile(const char* elfPath, const char* dumpPath) {
    DumpReport report;
    if (elfPath == nullptr || dumpPath == nullptr) {
        report.reason = "no ELF file or no dump file named";
        return report;
    }
    if (platform::SameFile(elfPath, dumpPath)) {
        report.file = dumpPath;
        report.reason = std::string("is the same file as the ELF file ") + elfPath +
                        ": refusing to write over it";
        return report;
    }
    auto reader = ElfReader::Create();
    if (!reader || !reader->LoadFile(elfPath)) {
        report.file = elfPath;
        report.reason = reader ? reader->Failure() : "the ELF library cannot be set up";
        return report;
    }
    report.reason = WriteReplacing(dumpPath, [&](std::FILE* out) { WriteElfDump(*reader, out); });
    report.ok = report.reason.empty();
    if (!report.ok) {
        report.file = dumpPath;
    }
    return report;
}

void WriteElfDump(const ElfReader& reader, std::FILE* out) {
    WriteHeader(reader.Header(), out);
    WriteSections(reader, out);
    WriteSegments(reader, out);
    WriteSymbolTables(reader, out);
    WriteNotes(reader, out);
}

} // namespace kestrel::segwrap

int ParseElfFile(const char* elfPath, const char* dumpPath) {
    using namespace kestrel::segwrap;
    if (dumpPath == nullptr) {
        return 1;
    }
    // A dump over the ELF file itself would destroy it: nothing is written then.
    if (elfPath != nullptr && kestrel::platform::SameFile(elfPath, dumpPath)) {
        return 1;
    }
    try {
        auto reader = ElfReader::Create();
        const bool loaded = reader && reader->LoadFile(elfPath);
        WriteReplacing(dumpPath, [&](std::FILE* out) {
            if (!reader) {
                std::fprintf(out, "Can't create ELF reader\n");
            } else if (!loaded) {
                std::fprintf(out, "Can't open input file \"%s\"\n",
                             elfPath != nullptr ? elfPath : "");
            } else {
                WriteElfDump(*reader, out);
            }
        });
    } catch (...) {
        // Memory ran out: an earlier dump of that name is kept.
    }
    return 1;
}
