// WrapVMXImageFormat when memory runs out: each run happens in a child process whose address
// space is capped just above what the process already uses, so that exactly one of the buffers
// of a compressing wrap (packed payload, or compression scratch) cannot be had. The wrap must
// return 0, keep the process alive and leave the output existing and empty.
#include "segwrap/vmx_image.h"

#include "segwrap/elf_builder.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KESTREL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KESTREL_SANITIZED 1
#endif
#endif

namespace {

constexpr std::size_t kSegment = 8u << 20;

std::size_t AddressSpaceInUse() {
    std::ifstream status("/proc/self/status");
    std::string key;
    std::size_t kb = 0;
    while (status >> key) {
        if (key == "VmSize:") {
            status >> kb;
            return kb * 1024;
        }
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

// Runs the wrap with the address space capped at what is in use plus `allowance` segments'
// worth, and exits 0 when the outcome is as expected.
[[noreturn]] void WrapUnderCap(const std::string& elf, const std::string& image, unsigned flags,
                               double allowance, bool expectSuccess) {
#if defined(__GLIBC__)
    // Large blocks from fresh mappings, so that heap space freed by earlier tests (still
    // counted as in use) cannot serve them under the cap.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    malloc_trim(0);
#endif
    const std::size_t cap = AddressSpaceInUse() + static_cast<std::size_t>(allowance * kSegment);
    const rlimit limit{cap, cap};
    if (setrlimit(RLIMIT_AS, &limit) != 0) {
        std::_Exit(2);
    }
    const int result = WrapVMXImageFormat(elf.c_str(), image.c_str(), flags);
    std::error_code ec;
    const auto size = std::filesystem::file_size(image, ec);
    const bool ok =
        expectSuccess ? (result == 1 && size > kSegment / 100) : (result == 0 && !ec && size == 0);
    std::_Exit(ok ? 0 : 1);
}

class WrapMemory : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef KESTREL_SANITIZED
        GTEST_SKIP() << "sanitizers reserve address space of their own";
#endif
        kestrel::test::ElfBuilder elf(false, false);
        std::string data;
        data.reserve(kSegment);
        while (data.size() < kSegment) {
            data += "firmware";
        }
        elf.AddSegment({.type = 1, .data = std::move(data)});
        home.WriteFile("fw.elf", elf.Build());
    }
    kestrel::test::TempHome home;
};

// The file's bytes fit; the packed payload of the same size again does not.
TEST_F(WrapMemory, NoRoomForThePayloadBuffer) {
    EXPECT_EXIT(
        WrapUnderCap(home.Path("fw.elf"), home.Path("img.rap"), kVmxCompressFlag, 1.5, false),
        ::testing::ExitedWithCode(0), "");
}

// File bytes and payload buffer fit; the compressor's scratch buffer does not.
TEST_F(WrapMemory, NoRoomForTheCompressionScratch) {
    EXPECT_EXIT(
        WrapUnderCap(home.Path("fw.elf"), home.Path("img.rap"), kVmxCompressFlag, 2.5, false),
        ::testing::ExitedWithCode(0), "");
}

// With room for all three the same wrap succeeds, so the caps above are what made them fail;
// the stored form needs no buffer beside the file's bytes.
TEST_F(WrapMemory, EnoughRoomSucceeds) {
    EXPECT_EXIT(
        WrapUnderCap(home.Path("fw.elf"), home.Path("img.rap"), kVmxCompressFlag, 3.6, true),
        ::testing::ExitedWithCode(0), "");
}

} // namespace
