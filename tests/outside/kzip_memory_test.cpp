// What decompressing costs in memory: the buffers follow the blocks a file holds, not the block
// size its header claims (support/large_allocations.h).
#include "outside/kzip/kzip.h"
#include "support/large_allocations.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using kestrel::test::RefuseLargeAllocations;
using kestrel::test::TempHome;

constexpr int kLargestBlock = 16 << 20;

struct SmallFile {
    std::size_t size;
    bool compressible;
};

void PrintTo(const SmallFile& c, std::ostream* os) {
    *os << c.size << (c.compressible ? " compressible" : " random") << " bytes";
}

class KzipMemory : public ::testing::TestWithParam<SmallFile> {};

TEST_P(KzipMemory, ASmallFileInLargeBlocksDecompressesWithoutLargeBuffers) {
    const auto [size, compressible] = GetParam();
    TempHome home;
    std::mt19937 random(static_cast<unsigned>(size));
    std::string original(size, '\0');
    for (char& c : original) {
        c = compressible ? 'k' : static_cast<char>(random());
    }
    home.WriteFile("in", original);
    // Compressing in 16 MiB blocks needs the large buffers; reading the result back must not.
    ASSERT_EQ(file_compress(home.Path("in").c_str(), home.Path("z").c_str(), kLargestBlock), 0);
    int result = -1;
    {
        RefuseLargeAllocations guard;
        result = file_decompress(home.Path("z").c_str(), home.Path("out").c_str());
    }
    ASSERT_EQ(result, 0);
    EXPECT_EQ(home.ReadFile("out"), original);
}

INSTANTIATE_TEST_SUITE_P(Sizes, KzipMemory,
                         ::testing::Values(SmallFile{0, true}, SmallFile{1, false},
                                           SmallFile{4096, true}, SmallFile{100000, false}));

} // namespace
