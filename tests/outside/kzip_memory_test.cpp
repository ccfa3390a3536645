// What decompressing costs in memory: the buffers follow the blocks a file holds, not the block
// size its header claims. The scalar forms of operator new are replaced in this test program
// (the library's allocations resolve to them), so that every allocation of 1 MiB or more fails
// while a guard lives, as it would where memory is short.
#include "outside/kzip/kzip.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <string>

namespace {

constexpr std::size_t kLarge = 1u << 20;
std::atomic<bool> refuseLarge{false};

void* Allocate(std::size_t n) {
    if (n >= kLarge && refuseLarge.load()) {
        return nullptr;
    }
    return std::malloc(n == 0 ? 1 : n);
}

class RefuseLargeAllocations {
public:
    RefuseLargeAllocations() { refuseLarge = true; }
    ~RefuseLargeAllocations() { refuseLarge = false; }
    RefuseLargeAllocations(const RefuseLargeAllocations&) = delete;
    RefuseLargeAllocations& operator=(const RefuseLargeAllocations&) = delete;
};

} // namespace

// Allocate takes its memory from malloc, so the replaced deletes give it back with free. GCC
// sees a pointer of operator new reach free once these inline into one another.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
    if (void* p = Allocate(n)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

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
