#pragma once
// The table counts of an ELF file with extended numbering resolved. A header field that cannot
// hold a large count escapes to section 0: e_phnum 0xFFFF means "see section 0's sh_info",
// e_shnum 0 with a section-header table means "see section 0's sh_size", e_shstrndx 0xFFFF
// means "see section 0's sh_link". An escape is taken only when section 0 lies inside the file
// and holds a value that needed it (at least 0xFFFF program headers, at least 0xFF00 sections or
// a name-table index of at least 0xFF00); any other escape is refused, so that a damaged count
// can never shrink to nothing and pass for an empty table. Whether each resolved table fits
// the file is the caller's check.
//
// Works on the raw bytes alone, so every ELF reader follows the same rule.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace kestrel::segwrap {

struct ElfCounts {
    std::uint64_t programHeaders = 0;
    std::uint64_t sections = 0;
    std::uint64_t nameTableIndex = 0; // index of the section-name string table (0: none)
};

// The counts of the ELF file in bytes (identification and header must be present), or nothing
// with the reason in words in *why.
std::optional<ElfCounts> ResolveElfCounts(std::span<const unsigned char> bytes, std::string* why);

} // namespace kestrel::segwrap
