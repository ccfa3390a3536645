// Extended numbering: a header count that escapes to section 0 resolves only to a value that
// needed the escape; every other escape is refused, for 32- and 64-bit files of either byte
// order alike.
#include "segwrap/elf_counts.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

using kestrel::segwrap::ResolveElfCounts;

struct Header {
    std::uint64_t phnum = 0, shnum = 0, shstrndx = 0;
    bool sectionZero = true;     // a section-header table with section 0 behind the header
    std::uint64_t shentsize = 0; // 0: the right size for the class
    std::uint64_t s0Size = 0, s0Link = 0, s0Info = 0;
};

class Bytes {
public:
    Bytes(bool is64, bool big) : is64_(is64), big_(big) {}

    std::vector<unsigned char> Make(const Header& h) const {
        const std::size_t ehdr = is64_ ? 64 : 52, shdr = is64_ ? 64 : 40;
        std::vector<unsigned char> f(ehdr + shdr, 0);
        f[0] = 0x7F, f[1] = 'E', f[2] = 'L', f[3] = 'F';
        f[4] = is64_ ? 2 : 1, f[5] = big_ ? 2 : 1, f[6] = 1;
        const int word = is64_ ? 8 : 4;
        const std::size_t at = is64_ ? 32 : 28;
        Put(f, at + word, h.sectionZero ? ehdr : 0, word); // e_shoff
        const std::size_t counts = at + 2 * word + 6;
        Put(f, counts, is64_ ? 56 : 32, 2);
        Put(f, counts + 2, h.phnum, 2);
        Put(f, counts + 4, h.shentsize != 0 ? h.shentsize : shdr, 2);
        Put(f, counts + 6, h.shnum, 2);
        Put(f, counts + 8, h.shstrndx, 2);
        Put(f, ehdr + (is64_ ? 32 : 20), h.s0Size, word);
        Put(f, ehdr + (is64_ ? 40 : 24), h.s0Link, 4);
        Put(f, ehdr + (is64_ ? 44 : 28), h.s0Info, 4);
        return f;
    }

private:
    void Put(std::vector<unsigned char>& f, std::size_t at, std::uint64_t v, int width) const {
        for (int i = 0; i < width; ++i) {
            f[at + (big_ ? width - 1 - i : i)] = static_cast<unsigned char>(v >> (8 * i));
        }
    }
    bool is64_, big_;
};

struct Case {
    const char* name;
    Header header;
    // programHeaders, sections, nameTableIndex; nullopt: refused
    std::optional<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>> expected;
};

std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

const Case kCases[] = {
    {"PlainCounts", {.phnum = 3, .shnum = 5, .shstrndx = 4}, std::tuple{3, 5, 4}},
    {"NoTablesAtAll", {.sectionZero = false}, std::tuple{0, 0, 0}},
    {"ProgramHeadersEscaped",
     {.phnum = 0xFFFF, .shnum = 1, .s0Info = 0x10000},
     std::tuple{0x10000, 1, 0}},
    {"ProgramHeadersEscapedToExactly0xFFFF",
     {.phnum = 0xFFFF, .shnum = 1, .s0Info = 0xFFFF},
     std::tuple{0xFFFF, 1, 0}},
    {"SectionsEscaped", {.phnum = 1, .shnum = 0, .s0Size = 0xFF00}, std::tuple{1, 0xFF00, 0}},
    {"NameIndexEscaped",
     {.shnum = 0, .shstrndx = 0xFFFF, .s0Size = 0x20000, .s0Link = 0xFF05},
     std::tuple{0, 0x20000, 0xFF05}},
    {"ProgramHeadersEscapedToNothing", {.phnum = 0xFFFF, .shnum = 1, .s0Info = 0}, std::nullopt},
    {"ProgramHeadersEscapedToASmallCount",
     {.phnum = 0xFFFF, .shnum = 1, .s0Info = 2},
     std::nullopt},
    {"ProgramHeadersEscapedWithoutSections", {.phnum = 0xFFFF, .sectionZero = false}, std::nullopt},
    {"ProgramHeadersEscapedWithWrongEntrySize",
     {.phnum = 0xFFFF, .shnum = 1, .shentsize = 16, .s0Info = 0x10000},
     std::nullopt},
    {"SectionsEscapedToNothing", {.shnum = 0, .s0Size = 0}, std::nullopt},
    {"SectionsEscapedToASmallCount", {.shnum = 0, .s0Size = 3}, std::nullopt},
    {"NameIndexEscapedToASmallIndex", {.shnum = 4, .shstrndx = 0xFFFF, .s0Link = 1}, std::nullopt},
};

class ElfCounts : public ::testing::TestWithParam<std::tuple<Case, bool, bool>> {};

TEST_P(ElfCounts, ResolveOrRefuse) {
    const auto& [c, is64, big] = GetParam();
    const auto bytes = Bytes(is64, big).Make(c.header);
    std::string why;
    const auto counts = ResolveElfCounts(bytes, &why);
    if (!c.expected) {
        EXPECT_FALSE(counts);
        EXPECT_FALSE(why.empty());
        return;
    }
    ASSERT_TRUE(counts) << why;
    EXPECT_EQ(counts->programHeaders, std::get<0>(*c.expected));
    EXPECT_EQ(counts->sections, std::get<1>(*c.expected));
    EXPECT_EQ(counts->nameTableIndex, std::get<2>(*c.expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, ElfCounts,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool(),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "_64" : "_32") +
                                    (std::get<2>(info.param) ? "_Big" : "_Little");
                         });

TEST(ElfCounts, SectionZeroCutShortIsRefused) {
    auto bytes = Bytes(false, false).Make({.phnum = 0xFFFF, .shnum = 1, .s0Info = 0x10000});
    bytes.resize(bytes.size() - 1);
    EXPECT_FALSE(ResolveElfCounts(bytes, nullptr));
}

} // namespace
