// The kzip stand-in: round trips, the documented header, and damaged input refused.
#include "outside/kzip/kzip.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

namespace {

using kestrel::test::TempHome;

std::string Content(std::size_t size, bool compressible) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        content[i] =
            compressible ? static_cast<char>('a' + (i / 100) % 3) : static_cast<char>(random());
    }
    return content;
}

struct RoundTrip {
    std::size_t size;
    bool compressible;
    int blockSize;
};

void PrintTo(const RoundTrip& c, std::ostream* os) {
    *os << c.size << (c.compressible ? " compressible" : " random") << " bytes in blocks of "
        << c.blockSize;
}

class KzipRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(KzipRoundTrip, RestoresTheFileExactly) {
    const auto [size, compressible, blockSize] = GetParam();
    TempHome home;
    const std::string original = Content(size, compressible);
    home.WriteFile("in", original);
    ASSERT_EQ(file_compress(home.Path("in").c_str(), home.Path("z").c_str(), blockSize), 0);
    const std::string packed = home.ReadFile("z");
    ASSERT_GE(packed.size(), 24u);
    EXPECT_EQ(packed.substr(0, 4), "FZKZ");
    EXPECT_EQ(packed.substr(8, 4), std::string(reinterpret_cast<const char*>(&blockSize), 4));
    if (compressible && size > 10000) {
        EXPECT_LT(packed.size(), size / 4);
    }
    ASSERT_EQ(file_decompress(home.Path("z").c_str(), home.Path("out").c_str()), 0);
    EXPECT_EQ(home.ReadFile("out"), original);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, KzipRoundTrip,
    ::testing::Values(RoundTrip{0, true, 2048}, RoundTrip{1, false, 2048},
                      RoundTrip{2047, false, 2048}, RoundTrip{2048, true, 2048},
                      RoundTrip{2049, false, 2048}, RoundTrip{100000, true, 2048},
                      RoundTrip{100000, false, 2048}, RoundTrip{5000, false, 7}));

TEST(Kzip, DamagedInputIsRefusedAndLeavesNoOutput) {
    TempHome home;
    home.WriteFile("in", Content(10000, true));
    ASSERT_EQ(file_compress(home.Path("in").c_str(), home.Path("z").c_str(), 2048), 0);
    const std::string good = home.ReadFile("z");
    const std::vector<std::pair<std::size_t, std::string>> damages = {
        {0, "X"},                   // magic
        {8, std::string(4, '\0')},  // block size 0
        {12, "\x7F"},               // original length
        {24, "\x55\x55"},           // first block's data
        {good.size() - 1, "\x01"}}; // CRC-32
    for (const auto& [offset, bytes] : damages) {
        std::string bad = good;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bad[offset + i] =
                static_cast<char>(bad[offset + i] ^ (bytes[i] ? bytes[i] : bad[offset + i]));
        }
        home.WriteFile("bad", bad);
        EXPECT_EQ(file_decompress(home.Path("bad").c_str(), home.Path("out").c_str()), -1)
            << "offset " << offset;
        EXPECT_FALSE(std::filesystem::exists(home.Path("out")));
    }
    for (const std::size_t length : {good.size() - 1, std::size_t{30}, std::size_t{3}}) {
        home.WriteFile("bad", good.substr(0, length));
        EXPECT_EQ(file_decompress(home.Path("bad").c_str(), home.Path("out").c_str()), -1)
            << "cut to " << length;
    }
    home.WriteFile("bad", good + "x");
    EXPECT_EQ(file_decompress(home.Path("bad").c_str(), home.Path("out").c_str()), -1)
        << "trailing bytes";
}

TEST(Kzip, BadArgumentsFailWithoutOutput) {
    TempHome home;
    home.WriteFile("in", "abc");
    EXPECT_EQ(file_compress(home.Path("missing").c_str(), home.Path("z").c_str(), 2048), -1);
    EXPECT_EQ(file_compress(home.Path("in").c_str(), home.Path("z").c_str(), 0), -1);
    EXPECT_EQ(file_compress(nullptr, home.Path("z").c_str(), 2048), -1);
    EXPECT_FALSE(std::filesystem::exists(home.Path("z")));
}

} // namespace
