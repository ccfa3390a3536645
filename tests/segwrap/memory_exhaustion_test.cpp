// Running out of memory in each of the large allocations of loading and wrapping. The array
// forms of operator new are replaced in this test program (the library's allocations resolve to
// them), so that a chosen large allocation fails as it would when memory is exhausted.
#include "segwrap/download_blocks.h"
#include "segwrap/vmx_image.h"

#include "segwrap/elf_builder.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

namespace {

constexpr std::size_t kLarge = 1u << 20;
// While positive: the large allocation that fails, counted from 1 from the moment it is set.
std::atomic<int> failLargeAllocation{0};
std::atomic<int> largeAllocationsSeen{0};

void* Allocate(std::size_t n) {
    if (n >= kLarge && failLargeAllocation.load() > 0 &&
        ++largeAllocationsSeen == failLargeAllocation.load()) {
        return nullptr;
    }
    return std::malloc(n == 0 ? 1 : n);
}

// Fails the given large allocation (1 = the first) until the guard ends.
class FailLargeAllocation {
public:
    explicit FailLargeAllocation(int which) {
        largeAllocationsSeen = 0;
        failLargeAllocation = which;
    }
    ~FailLargeAllocation() { failLargeAllocation = 0; }
    FailLargeAllocation(const FailLargeAllocation&) = delete;
    FailLargeAllocation& operator=(const FailLargeAllocation&) = delete;
};

} // namespace

void* operator new[](std::size_t n) {
    if (void* p = Allocate(n)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return Allocate(n);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

// A Windows DLL allocates through its own run-time library: the replacement above never sees
// the library's allocations, so none of them can be made to fail there.
#if defined(_WIN32)
constexpr bool kLibraryAllocatesHere = false;
#else
constexpr bool kLibraryAllocatesHere = true;
#endif
constexpr const char* kLibraryAllocatesElsewhere =
    "Windows: the DLL's operator new[] is not this program's replacement";

class MemoryExhaustion : public ::testing::Test {
protected:
    void SetUp() override {
        kestrel::test::ElfBuilder elf(false, false);
        std::string data;
        while (data.size() < 2 * kLarge) {
            data += "firmware";
        }
        elf.AddSegment({.type = 1, .virtAddr = 0x1000, .physAddr = 0x1000, .data = data});
        home.WriteFile("fw.elf", elf.Build());
        home.WriteFile("img.rap", "an older image");
    }
    int Wrap(unsigned flags) { return WrapVMXImageFormat(elf().c_str(), image().c_str(), flags); }
    std::string elf() const { return home.Path("fw.elf"); }
    std::string image() const { return home.Path("img.rap"); }
    kestrel::test::TempHome home;
};

// Large allocations of a compressing wrap, in order: the ELF file's bytes, the packed payload,
// the compression scratch. A stored wrap makes two: the file's structure, the copy buffer.
TEST_F(MemoryExhaustion, ReadingTheElfFileFailsBeforeTheOutputIsTouched) {
    if (!kLibraryAllocatesHere) {
        GTEST_SKIP() << kLibraryAllocatesElsewhere;
    }
    FailLargeAllocation guard(1);
    EXPECT_EQ(Wrap(kVmxCompressFlag), 0);
    EXPECT_EQ(home.ReadFile("img.rap"), "an older image");
}

TEST_F(MemoryExhaustion, PayloadBufferKeepsTheOlderImage) {
    if (!kLibraryAllocatesHere) {
        GTEST_SKIP() << kLibraryAllocatesElsewhere;
    }
    FailLargeAllocation guard(2);
    EXPECT_EQ(Wrap(kVmxCompressFlag), 0);
    EXPECT_EQ(home.ReadFile("img.rap"), "an older image");
    EXPECT_FALSE(std::filesystem::exists(image() + ".part"));
}

TEST_F(MemoryExhaustion, StoredWrapCopyBufferKeepsTheOlderImage) {
    if (!kLibraryAllocatesHere) {
        GTEST_SKIP() << kLibraryAllocatesElsewhere;
    }
    FailLargeAllocation guard(2);
    EXPECT_EQ(Wrap(0), 0);
    EXPECT_EQ(home.ReadFile("img.rap"), "an older image");
    EXPECT_FALSE(std::filesystem::exists(image() + ".part"));
}

TEST_F(MemoryExhaustion, CompressionScratchKeepsTheOlderImage) {
    if (!kLibraryAllocatesHere) {
        GTEST_SKIP() << kLibraryAllocatesElsewhere;
    }
    FailLargeAllocation guard(3);
    EXPECT_EQ(Wrap(kVmxCompressFlag), 0);
    EXPECT_EQ(home.ReadFile("img.rap"), "an older image");
    EXPECT_FALSE(std::filesystem::exists(image() + ".part"));
}

// The same calls succeed when the failure is armed past their last large allocation, so the
// failures above come from the allocations named.
TEST_F(MemoryExhaustion, WrapsSucceedWithTheirLargeAllocationsGranted) {
    FailLargeAllocation guard(4);
    EXPECT_EQ(Wrap(kVmxCompressFlag), 1);
    EXPECT_EQ(home.ReadFile("img.rap").substr(0, 4), "VMXh");
    FailLargeAllocation stored(3);
    EXPECT_EQ(Wrap(0), 1);
    EXPECT_EQ(home.ReadFile("img.rap").substr(0, 4), "VMXi");
}

// Download blocks: the file's bytes, then the block's copy.
TEST_F(MemoryExhaustion, DownloadBlocksFailWithTheSetUntouched) {
    if (!kLibraryAllocatesHere) {
        GTEST_SKIP() << kLibraryAllocatesElsewhere;
    }
    for (int which : {1, 2}) {
        FailLargeAllocation guard(which);
        DownloadBlockSet set{};
        set.count = 99;
        EXPECT_EQ(GetDownloadBlocks(elf().c_str(), &set), 0) << which;
        EXPECT_EQ(set.count, 99u);
        EXPECT_EQ(set.sizes, nullptr);
    }
    FailLargeAllocation guard(3);
    DownloadBlockSet set{};
    ASSERT_EQ(GetDownloadBlocks(elf().c_str(), &set), 1);
    EXPECT_EQ(set.sizes[0], 2 * kLarge);
    BlockRelease(&set);
}

} // namespace
