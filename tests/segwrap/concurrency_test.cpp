// Dumps and compressing wraps on several threads at once give the same files as one at a time:
// neither keeps process-wide state.
#include "segwrap/elf_dump.h"
#include "segwrap/vmx_image.h"

#include "platform/clock/clock.h"
#include "segwrap/elf_builder.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using kestrel::test::ElfBuilder;

TEST(SegwrapThreads, ParallelDumpsAndCompressedWrapsMatchSequentialOnes) {
    kestrel::platform::SetFixedUtcTime(kestrel::platform::UtcTime{2026, 12, 1, 7, 10, 0, 0, 0});
    kestrel::test::TempHome home;
    constexpr int kThreads = 4;
    for (int t = 0; t < kThreads; ++t) {
        ElfBuilder elf(t % 2 == 1, t >= 2);
        elf.entry = 0x1000u * (t + 1);
        std::string data;
        for (int i = 0; i < 20000 * (t + 1); ++i) {
            data += static_cast<char>("abcdefgh"[(i * (t + 3)) % 8] + t);
        }
        elf.AddSegment({.type = 1, .virtAddr = 0x1000, .physAddr = 0x1000, .data = data});
        elf.AddSymbolTable(".symtab", {{}, {.name = "thread" + std::to_string(t)}});
        home.WriteFile("in" + std::to_string(t) + ".elf", elf.Build());
    }
    auto run = [&](int t, const std::string& tag) {
        const std::string in = home.Path("in" + std::to_string(t) + ".elf");
        const std::string base = home.Path(tag + std::to_string(t));
        for (int round = 0; round < 3; ++round) {
            ParseElfFile(in.c_str(), (base + ".txt").c_str());
            WrapVMXImageFormat(in.c_str(), (base + ".rap").c_str(), kVmxCompressFlag);
        }
    };
    for (int t = 0; t < kThreads; ++t) {
        run(t, "seq");
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back(run, t, "par");
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < kThreads; ++t) {
        const std::string n = std::to_string(t);
        EXPECT_EQ(home.ReadFile("par" + n + ".txt"), home.ReadFile("seq" + n + ".txt"));
        EXPECT_EQ(home.ReadFile("par" + n + ".rap"), home.ReadFile("seq" + n + ".rap"));
        EXPECT_EQ(home.ReadFile("seq" + n + ".rap").substr(0, 4), "VMXh");
    }
    kestrel::platform::SetFixedUtcTime(std::nullopt);
}

} // namespace
