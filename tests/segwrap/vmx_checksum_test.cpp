// MakeCheckSum: four runs of length/16 words, the remainder in the last; A = runs 0 + 2,
// B = runs 1 + 3.
#include "segwrap/vmx_image.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<unsigned char> Words(std::size_t count, std::uint32_t seed) {
    std::vector<unsigned char> bytes(count * 4);
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < count; ++i) {
        x = x * 1664525u + 1013904223u;
        bytes[4 * i] = static_cast<unsigned char>(x);
        bytes[4 * i + 1] = static_cast<unsigned char>(x >> 8);
        bytes[4 * i + 2] = static_cast<unsigned char>(x >> 16);
        bytes[4 * i + 3] = static_cast<unsigned char>(x >> 24);
    }
    return bytes;
}

std::uint32_t Word(const std::vector<unsigned char>& b, std::size_t i) {
    return b[4 * i] | b[4 * i + 1] << 8 | b[4 * i + 2] << 16 | std::uint32_t{b[4 * i + 3]} << 24;
}

class CheckSumLengths : public ::testing::TestWithParam<unsigned> {};

TEST_P(CheckSumLengths, SumsRunsZeroAndTwoIntoAAndOneAndThreeIntoB) {
    const unsigned length = GetParam();
    const auto bytes = Words(length / 4, length);
    const std::size_t n = length / 4, q = n / 4;
    std::uint32_t a = 0, b = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t run = q == 0 ? 3 : std::min<std::size_t>(i / q, 3);
        (run % 2 == 0 ? a : b) += Word(bytes, i);
    }
    ImageHeader header{0x11111111, 0x22222222, 0xDEAD, 0xBEEF};
    ASSERT_EQ(MakeCheckSum(&header, bytes.data(), length), 1);
    EXPECT_EQ(header.checkSumA, a);
    EXPECT_EQ(header.checkSumB, b);
    EXPECT_EQ(header.magic, 0x11111111u);
    EXPECT_EQ(header.length, 0x22222222u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, CheckSumLengths,
                         ::testing::Values(4u, 8u, 12u, 16u, 20u, 28u, 36u, 52u, 64u, 100u, 4108u,
                                           65536u + 12u));

TEST(CheckSum, DescriptorOfNineWords) {
    const auto bytes = Words(9, 99);
    ImageHeader header{};
    ASSERT_EQ(MakeCheckSum(&header, bytes.data(), 36), 1);
    auto w = [&](std::size_t i) { return Word(bytes, i); };
    EXPECT_EQ(header.checkSumA, w(0) + w(1) + w(4) + w(5));
    EXPECT_EQ(header.checkSumB, w(2) + w(3) + w(6) + w(7) + w(8));
}

TEST(CheckSum, BelowSixteenBytesAIsZeroAndBTakesEveryWord) {
    const std::vector<unsigned char> bytes = {1, 0, 0, 0, 2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    ImageHeader header{0, 0, 7, 7};
    ASSERT_EQ(MakeCheckSum(&header, bytes.data(), 12), 1);
    EXPECT_EQ(header.checkSumA, 0u);
    EXPECT_EQ(header.checkSumB, 2u); // 1 + 2 + 0xFFFFFFFF wraps
}

TEST(CheckSum, ZeroLengthStoresTwoZeroSums) {
    const unsigned char byte = 0;
    ImageHeader header{0, 0, 5, 6};
    EXPECT_EQ(MakeCheckSum(&header, &byte, 0), 1);
    EXPECT_EQ(header.checkSumA, 0u);
    EXPECT_EQ(header.checkSumB, 0u);
}

TEST(CheckSum, LengthNotAWordMultipleOrNullPointersChangeNothing) {
    const auto bytes = Words(4, 1);
    ImageHeader header{1, 2, 3, 4};
    EXPECT_EQ(MakeCheckSum(&header, bytes.data(), 6), 0);
    EXPECT_EQ(MakeCheckSum(&header, nullptr, 8), 0);
    EXPECT_EQ(MakeCheckSum(nullptr, bytes.data(), 8), 0);
    EXPECT_EQ(header.checkSumA, 3u);
    EXPECT_EQ(header.checkSumB, 4u);
}

} // namespace
