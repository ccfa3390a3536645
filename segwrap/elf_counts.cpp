#include "segwrap/elf_counts.h"

#include <cstdio>

namespace kestrel::segwrap {
namespace {

constexpr std::uint64_t kPhEscape = 0xFFFF;      // PN_XNUM
constexpr std::uint64_t kIndexEscape = 0xFFFF;   // SHN_XINDEX
constexpr std::uint64_t kReservedIndex = 0xFF00; // SHN_LORESERVE

std::uint64_t Field(std::span<const unsigned char> bytes, std::size_t at, int width, bool big) {
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i) {
        const unsigned char b = bytes[at + static_cast<std::size_t>(big ? i : width - 1 - i)];
        value = (value << 8) | b;
    }
    return value;
}

std::optional<ElfCounts> Refuse(std::string* why, const std::string& text) {
    if (why != nullptr) {
        *why = text;
    }
    return std::nullopt;
}

std::string Hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

std::optional<ElfCounts> ResolveElfCounts(std::span<const unsigned char> bytes, std::string* why) {
    if (bytes.size() < 16 || (bytes[4] != 1 && bytes[4] != 2) || (bytes[5] != 1 && bytes[5] != 2)) {
        return Refuse(why, "not an ELF identification of a known class and byte order");
    }
    const bool is64 = bytes[4] == 2;
    const bool big = bytes[5] == 2;
    const std::size_t headerSize = is64 ? 64 : 52;
    if (bytes.size() < headerSize) {
        return Refuse(why, "the file is shorter than its ELF header");
    }
    const int word = is64 ? 8 : 4;
    const std::size_t at = is64 ? 32 : 28; // e_phoff, then e_shoff
    const std::uint64_t shoff = Field(bytes, at + word, word, big);
    const std::size_t counts = at + 2 * static_cast<std::size_t>(word) + 4 + 2; // e_phentsize
    const std::uint64_t phnum = Field(bytes, counts + 2, 2, big);
    const std::uint64_t shentsize = Field(bytes, counts + 4, 2, big);
    const std::uint64_t shnum = Field(bytes, counts + 6, 2, big);
    const std::uint64_t shstrndx = Field(bytes, counts + 8, 2, big);

    ElfCounts result{phnum, shnum, shstrndx};
    const bool phEscaped = phnum == kPhEscape;
    const bool shEscaped = shnum == 0 && shoff != 0;
    const bool indexEscaped = shstrndx == kIndexEscape;
    if (!phEscaped && !shEscaped && !indexEscaped) {
        return result;
    }
    // Section 0 holds the escaped values; it must lie whole inside the file.
    const std::uint64_t shdrSize = is64 ? 64 : 40;
    const std::uint64_t size = bytes.size();
    if (shoff == 0 || shentsize != shdrSize || shoff > size || shdrSize > size - shoff) {
        return Refuse(why, "the header escapes to extended numbering, but section 0 (at " +
                               Hex(shoff) + ") is not inside the file");
    }
    const std::size_t s0 = static_cast<std::size_t>(shoff);
    const std::uint64_t s0Size = Field(bytes, s0 + (is64 ? 32 : 20), word, big);
    const std::uint64_t s0Link = Field(bytes, s0 + (is64 ? 40 : 24), 4, big);
    const std::uint64_t s0Info = Field(bytes, s0 + (is64 ? 44 : 28), 4, big);
    if (phEscaped) {
        if (s0Info < kPhEscape) {
            return Refuse(why, "e_phnum 0xFFFF escapes to section 0's sh_info, which holds " +
                                   Hex(s0Info) + ": 0xFFFF program headers do not fit the file");
        }
        result.programHeaders = s0Info;
    }
    if (shEscaped) {
        if (s0Size < kReservedIndex) {
            return Refuse(why, "e_shnum 0 escapes to section 0's sh_size, which holds " +
                                   Hex(s0Size) + " (an extended count is at least 0xFF00)");
        }
        result.sections = s0Size;
    }
    if (indexEscaped) {
        if (s0Link < kReservedIndex) {
            return Refuse(why, "e_shstrndx 0xFFFF escapes to section 0's sh_link, which holds " +
                                   Hex(s0Link) + " (an extended index is at least 0xFF00)");
        }
        result.nameTableIndex = s0Link;
    }
    return result;
}

} // namespace kestrel::segwrap
