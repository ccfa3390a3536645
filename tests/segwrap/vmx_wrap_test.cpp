// WrapVMXImageFormat: the image's header, descriptor and records, flags, date stamp, the
// compressed form, and every failure leaving no image that could pass for one.
#include "segwrap/vmx_image.h"

#include "platform/clock/clock.h"
#include "segwrap/elf_builder.h"
#include "segwrap/huffman_decoder.h"
#include "segwrap/vmx_date_stamp.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using kestrel::platform::UtcTime;
using kestrel::test::ElfBuilder;
using kestrel::test::TempHome;

constexpr UtcTime kApril8 = {2010, 4, 4, 8, 2, 37, 11, 0}; // 02:37 UTC

std::uint32_t W(const std::string& f, std::size_t offset) {
    const auto* p = reinterpret_cast<const unsigned char*>(f.data() + offset);
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
}

std::uint32_t Magic(const char (&m)[5]) {
    return W(std::string(m, 4), 0);
}

class Wrap : public ::testing::Test {
protected:
    void SetUp() override { kestrel::platform::SetFixedUtcTime(kApril8); }
    void TearDown() override { kestrel::platform::SetFixedUtcTime(std::nullopt); }

    std::string WrapFile(const std::string& elf, unsigned flags, int expect = 1) {
        home.WriteFile("fw.elf", elf);
        EXPECT_EQ(
            WrapVMXImageFormat(home.Path("fw.elf").c_str(), home.Path("img.rap").c_str(), flags),
            expect);
        return home.ReadFile("img.rap");
    }

    TempHome home;
};

TEST_F(Wrap, ElfWithoutProgramHeadersGivesA52ByteImage) {
    ElfBuilder elf(false, false);
    elf.entry = 0x30000000;
    const std::string img = WrapFile(elf.Build(), 0);
    ASSERT_EQ(img.size(), 52u);
    EXPECT_EQ(W(img, 0), Magic("VMXi"));
    EXPECT_EQ(W(img, 4), 52u);
    const std::uint32_t descriptor[9] = {Magic("VMXd"), 36, 0x01000001, 0x07040802, 0x61000001, 0,
                                         0x30000000,    0,  1};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(W(img, 16 + 4 * i), descriptor[i]) << "word " << i;
    }
    // Nine words: A = w0 + w1 + w4 + w5, B = w2 + w3 + w6 + w7 + w8.
    const auto* d = descriptor;
    EXPECT_EQ(W(img, 8), d[0] + d[1] + d[4] + d[5]);
    EXPECT_EQ(W(img, 12), d[2] + d[3] + d[6] + d[7] + d[8]);
}

TEST_F(Wrap, EachProgramHeaderGivesOneRecordWithFillToAWord) {
    ElfBuilder elf(false, false);
    elf.entry = 0x30000040;
    elf.AddSegment({.type = 1, .virtAddr = 0x30000000, .physAddr = 0x100000, .data = "code!"});
    elf.AddSegment({.type = 4, .virtAddr = 0x1111, .physAddr = 0x2222, .data = "note"});
    elf.AddSegment({.type = 1, .virtAddr = 0x30008000, .physAddr = 0x108000, .data = "8 bytes!"});
    elf.AddSegment({.type = 1, .virtAddr = 0x30009000, .physAddr = 0x109000, .data = "d"});
    const std::string img = WrapFile(elf.Build(), 0);
    // 52 + (24 + 5 + 3) + 24 + (24 + 8) + (24 + 1 + 3)
    ASSERT_EQ(img.size(), 52u + 32 + 24 + 32 + 28);
    EXPECT_EQ(W(img, 4), img.size());
    EXPECT_EQ(W(img, 16 + 20), 4u); // segmentCount counts every program header
    EXPECT_EQ(W(img, 16 + 24), 0x30000040u);

    struct Expected {
        std::uint32_t length, phys, virt;
        std::string data;
    };
    const Expected records[] = {{32, 0x100000, 0x30000000, std::string("code!\0\0\0", 8)},
                                {24, 0, 0, ""},
                                {32, 0x108000, 0x30008000, "8 bytes!"},
                                {28, 0x109000, 0x30009000, std::string("d\0\0\0", 4)}};
    std::size_t at = 52;
    for (const auto& r : records) {
        EXPECT_EQ(W(img, at), Magic("VMXs"));
        EXPECT_EQ(W(img, at + 4), r.length);
        EXPECT_EQ(W(img, at + 8), r.phys);
        EXPECT_EQ(W(img, at + 12), r.virt);
        EXPECT_EQ(W(img, at + 16), 0u);
        EXPECT_EQ(W(img, at + 20), 1u);
        EXPECT_EQ(img.substr(at + 24, r.length - 24), r.data);
        at += r.length;
    }
    ImageHeader sums{};
    ASSERT_EQ(MakeCheckSum(&sums, img.data() + 16, static_cast<unsigned>(img.size() - 16)), 1);
    EXPECT_EQ(W(img, 8), sums.checkSumA);
    EXPECT_EQ(W(img, 12), sums.checkSumB);
}

struct FlagCase {
    unsigned flags;
    const char* magic;
    std::uint32_t imageFlags;
};

class WrapFlags : public Wrap, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(WrapFlags, SelectCompressionAndImageFlags) {
    ElfBuilder elf(false, false);
    elf.AddSegment({.type = 1, .virtAddr = 0x1000, .physAddr = 0x1000, .data = "payload"});
    const std::string img = WrapFile(elf.Build(), GetParam().flags);
    ASSERT_GE(img.size(), 16u);
    EXPECT_EQ(img.substr(0, 4), GetParam().magic);
    std::string payload = img.substr(16);
    if (img.substr(0, 4) == "VMXh") {
        std::vector<unsigned char> plain;
        ASSERT_EQ(
            kestrel::segwrap::HuffmanDecode(reinterpret_cast<const unsigned char*>(payload.data()),
                                            payload.size(), 1 << 20, plain),
            kestrel::segwrap::DecodeStatus::kOk);
        payload.assign(plain.begin(), plain.end());
    }
    EXPECT_EQ(W(payload, 16), GetParam().imageFlags);
}

INSTANTIATE_TEST_SUITE_P(Table, WrapFlags,
                         ::testing::Values(FlagCase{0, "VMXi", 0x61000001},
                                           FlagCase{0x01000000, "VMXh", 0x61000001},
                                           FlagCase{0x00000006, "VMXi", 0x61000007},
                                           FlagCase{0xFF000001, "VMXh", 0x61000001},
                                           FlagCase{0x00FFFFFF, "VMXi", 0x61FFFFFF},
                                           FlagCase{0xFE000000, "VMXi", 0x61000001}));

TEST_F(Wrap, CompressedImageKeepsTheSumsOfThePlainPayload) {
    ElfBuilder elf(false, false);
    std::string code;
    for (int i = 0; i < 5000; ++i) {
        code += "\x00\x00\xa0\xe3\x1e\xff\x2f\xe1"[i % 8];
    }
    elf.AddSegment({.type = 1, .virtAddr = 0x30000000, .physAddr = 0x30000000, .data = code});
    elf.AddSegment({.type = 1, .virtAddr = 0x30100000, .physAddr = 0x30100000, .data = "abc"});
    const std::string built = elf.Build();
    const std::string plain = WrapFile(built, 0);
    const std::string packed = WrapFile(built, kVmxCompressFlag);
    ASSERT_GT(packed.size(), 16u);
    EXPECT_LT(packed.size(), plain.size());
    EXPECT_EQ(W(packed, 4), packed.size());
    EXPECT_EQ(packed.size() % 4, 0u);
    EXPECT_EQ(W(packed, 8), W(plain, 8));
    EXPECT_EQ(W(packed, 12), W(plain, 12));
    std::vector<unsigned char> decoded;
    ASSERT_EQ(
        kestrel::segwrap::HuffmanDecode(reinterpret_cast<const unsigned char*>(packed.data()) + 16,
                                        packed.size() - 16, 1 << 20, decoded),
        kestrel::segwrap::DecodeStatus::kOk);
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), plain.substr(16));
}

TEST_F(Wrap, ImagesWrappedInDifferentHoursDifferInDateStampAndSums) {
    ElfBuilder elf(false, false);
    elf.AddSegment({.type = 1, .virtAddr = 0x1000, .physAddr = 0x1000, .data = "same bytes"});
    const std::string built = elf.Build();
    const std::string first = WrapFile(built, 0);
    UtcTime later = kApril8;
    later.hour = 3;
    later.minute = 0;
    kestrel::platform::SetFixedUtcTime(later);
    const std::string second = WrapFile(built, 0);
    ASSERT_EQ(first.size(), second.size());
    EXPECT_EQ(W(first, 16 + 12), 0x07040802u);
    EXPECT_EQ(W(second, 16 + 12), 0x07040803u);
    EXPECT_NE(W(first, 8) ^ W(second, 8), 0u);
    std::string a = first, b = second;
    for (std::size_t off : {8u, 12u, 28u}) {
        a.replace(off, 4, 4, '\0');
        b.replace(off, 4, 4, '\0');
    }
    EXPECT_EQ(a, b);
}

TEST(DateStamp, HoldsTheYearsHighByteMonthDayAndHour) {
    using kestrel::segwrap::DateStamp;
    EXPECT_EQ(DateStamp({2010, 4, 0, 8, 2, 59, 59, 999}), 0x07040802u);
    EXPECT_EQ(DateStamp({1792, 1, 0, 1, 0, 0, 0, 0}), 0x07010100u);
    EXPECT_EQ(DateStamp({2047, 12, 0, 31, 23, 0, 0, 0}), 0x070C1F17u);
    EXPECT_EQ(DateStamp({2048, 6, 0, 15, 12, 0, 0, 0}), 0x08060F0Cu);
}

TEST_F(Wrap, UnreadableElfLeavesAnExistingOutputUntouched) {
    home.WriteFile("img.rap", "previous image");
    EXPECT_EQ(WrapFile("not an ELF file", 0, 0), "previous image");
    EXPECT_EQ(WrapVMXImageFormat(home.Path("missing.elf").c_str(), home.Path("new.rap").c_str(), 0),
              0);
    EXPECT_FALSE(std::filesystem::exists(home.Path("new.rap")));
    EXPECT_EQ(WrapVMXImageFormat(nullptr, home.Path("new.rap").c_str(), 0), 0);
}

TEST_F(Wrap, OutputThatCannotBeOpenedFails) {
    home.WriteFile("fw.elf", ElfBuilder(false, false).Build());
    EXPECT_EQ(WrapVMXImageFormat(home.Path("fw.elf").c_str(),
                                 home.Path("no/dir/image/4410_mmi.rap").c_str(), 0),
              0);
}

// Nearly uniform bytes grow by about 1/2048 of their size plus the code table: past 4 MiB the
// stream no longer fits payload + 2048 bytes, and the wrap fails leaving no image behind.
TEST_F(Wrap, CompressedStreamThatWouldNotFitFailsWithoutAnImage) {
    std::string uniform(4u << 20, '\0');
    for (std::size_t i = 0; i < uniform.size(); ++i) {
        uniform[i] = static_cast<char>(i * 167 % 256);
    }
    ElfBuilder big(false, false);
    big.AddSegment({.type = 1, .data = uniform});
    EXPECT_EQ(WrapFile(big.Build(), kVmxCompressFlag, 0), "");
    EXPECT_FALSE(std::filesystem::exists(home.Path("img.rap")));
    EXPECT_FALSE(std::filesystem::exists(home.Path("img.rap.part")));

    ElfBuilder small(false, false); // the same distribution, small enough to fit
    small.AddSegment({.type = 1, .data = uniform.substr(0, 1u << 20)});
    EXPECT_EQ(W(WrapFile(small.Build(), kVmxCompressFlag), 0), Magic("VMXh"));
}

// An image is renamed into place, which must never replace a device (as the superuser could).
TEST_F(Wrap, DeviceOutputIsRefusedAndLeftAsItIs) {
    if (!std::filesystem::is_character_file("/dev/full")) {
        GTEST_SKIP() << "no device that fails every write";
    }
    ElfBuilder elf(false, false);
    elf.AddSegment({.type = 1, .data = std::string(100000, 'x')});
    home.WriteFile("fw.elf", elf.Build());
    EXPECT_EQ(WrapVMXImageFormat(home.Path("fw.elf").c_str(), "/dev/full", 0), 0);
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
    EXPECT_FALSE(std::filesystem::exists("/dev/full.part"));
}

} // namespace

namespace {

// The stored image is summed while it is written; its sums must equal MakeCheckSum over the
// whole payload wherever the run boundaries fall (inside record heads, data or fill).
class WrapSums : public Wrap, public ::testing::WithParamInterface<std::vector<std::size_t>> {};

TEST_P(WrapSums, EqualTheSumsOfTheWholePayload) {
    ElfBuilder elf(false, false);
    std::uint32_t addr = 0x1000;
    for (std::size_t size : GetParam()) {
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i) {
            data[i] = static_cast<char>(0xF0 ^ (i * 31 + size));
        }
        elf.AddSegment({.type = 1, .virtAddr = addr, .physAddr = addr + 1, .data = data});
        addr += 0x1000;
    }
    const std::string img = WrapFile(elf.Build(), 0);
    ImageHeader sums{};
    ASSERT_EQ(MakeCheckSum(&sums, img.data() + 16, static_cast<unsigned>(img.size() - 16)), 1);
    EXPECT_EQ(W(img, 8), sums.checkSumA);
    EXPECT_EQ(W(img, 12), sums.checkSumB);
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, WrapSums,
                         ::testing::Values(std::vector<std::size_t>{}, std::vector<std::size_t>{1},
                                           std::vector<std::size_t>{3, 0, 7},
                                           std::vector<std::size_t>{1001, 2, 333},
                                           std::vector<std::size_t>{4096, 5, 6, 7, 8, 9},
                                           std::vector<std::size_t>{65537}));

} // namespace

namespace {

// The stored form reads only the file's structure and copies segment bytes from the file
// itself; the compressed form reads the whole file. A segment that covers the ELF header and
// every table (as the first loadable segment of many linkers does) must come out whole in both,
// and the two payloads must be the same bytes.
class WrapCoveringSegment : public Wrap,
                            public ::testing::WithParamInterface<std::pair<bool, bool>> {};

TEST_P(WrapCoveringSegment, StoredAndCompressedFormsCarryTheSamePayload) {
    const auto [is64, big] = GetParam();
    ElfBuilder elf(is64, big);
    elf.AddSegment({.type = 1, .virtAddr = 0x8000, .physAddr = 0x8000, .data = "placeholder"});
    elf.AddSegment({.type = 1, .virtAddr = 0x9000, .physAddr = 0x9000, .data = "second"});
    elf.AddSymbolTable(".symtab", {{}, {.name = "start", .value = 0x8000}});
    elf.AddNoteSection(".note", {{.name = "K", .type = 1, .desc = "x"}});
    std::string file = elf.Build();
    const int word = is64 ? 8 : 4;
    elf.Patch(file, elf.phoff + (is64 ? 8 : 4), 0, word);             // p_offset
    elf.Patch(file, elf.phoff + (is64 ? 32 : 16), file.size(), word); // p_filesz
    const std::string plain = WrapFile(file, 0);
    ASSERT_EQ(W(plain, 52 + 4), 24 + (file.size() + 3) / 4 * 4);
    EXPECT_EQ(plain.substr(52 + 24, file.size()), file);
    EXPECT_EQ(plain.substr(52 + W(plain, 52 + 4) + 24, 6), "second");

    const std::string packed = WrapFile(file, kVmxCompressFlag);
    std::vector<unsigned char> decoded;
    ASSERT_EQ(
        kestrel::segwrap::HuffmanDecode(reinterpret_cast<const unsigned char*>(packed.data()) + 16,
                                        packed.size() - 16, 1 << 20, decoded),
        kestrel::segwrap::DecodeStatus::kOk);
    EXPECT_EQ(std::string(decoded.begin(), decoded.end()), plain.substr(16));
    EXPECT_EQ(W(packed, 8), W(plain, 8));
    EXPECT_EQ(W(packed, 12), W(plain, 12));
}

INSTANTIATE_TEST_SUITE_P(Kinds, WrapCoveringSegment,
                         ::testing::Values(std::pair{false, false}, std::pair{false, true},
                                           std::pair{true, false}, std::pair{true, true}));

} // namespace
