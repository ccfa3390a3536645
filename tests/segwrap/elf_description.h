#pragma once
// Everything an ELF reader reports about one file, as text, for comparing two readers (the
// station's own and the elfutils-based oracle) in one step, so that a difference shows where
// it is.

#include <sstream>
#include <string>

namespace kestrel::test {

template <typename Reader>
std::string Describe(Reader& reader, const std::string& file) {
    std::ostringstream out;
    const auto* bytes = reinterpret_cast<const unsigned char*>(file.data());
    if (!reader.LoadBytes({bytes, file.size()})) {
        return "refused\n";
    }
    const auto& h = reader.Header();
    out << "header " << int(h.elfClass) << ' ' << int(h.encoding) << ' ' << int(h.elfVersion) << ' '
        << h.type << ' ' << h.machine << ' ' << h.version << ' ' << h.entry << ' ' << h.flags
        << '\n';
    for (const auto& s : reader.Segments()) {
        out << "segment " << s.type << ' ' << s.virtAddr << ' ' << s.physAddr << ' ' << s.fileSize
            << ' ' << s.memSize << ' ' << s.flags << ' ' << s.align << ' ' << s.fileOffset << " ["
            << std::string(reinterpret_cast<const char*>(s.data.data()), s.data.size()) << "]\n";
    }
    const auto& sections = reader.Sections();
    for (std::size_t i = 0; i < sections.size(); ++i) {
        const auto& s = sections[i];
        out << "section " << i << " '" << s.name << "' " << s.type << ' ' << s.flags << ' '
            << s.addr << ' ' << s.size << ' ' << s.entrySize << ' ' << s.link << ' ' << s.info
            << ' ' << s.align << '\n';
        for (const auto& y : reader.Symbols(i)) {
            out << "  symbol '" << y.name << "' " << y.value << ' ' << y.size << ' ' << int(y.bind)
                << ' ' << int(y.type) << ' ' << y.sectionIndex << '\n';
        }
        for (const auto& n : reader.Notes(i)) {
            out << "  note " << n.type << " '" << n.name << "'\n";
        }
    }
    return out.str();
}

} // namespace kestrel::test
