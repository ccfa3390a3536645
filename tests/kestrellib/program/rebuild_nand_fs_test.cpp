// RebuildNandFs against an in-memory NAND.

#include "kestrellib/program/rebuild_nand_fs.h"
#include "resource_fixture.h"
#include "support/memory_nand.h"

#include <gmock/gmock.h>

namespace kestrel::test {
namespace {

using ::testing::ElementsAre;

class RebuildTest : public ResourceFixture {
protected:
    device::NandLayout layout = TestLayout(512, 4, 16, 0); // file system from block 38
    MemoryNand nand{512, 4, 2048};

    std::vector<std::uintptr_t> Events() {
        std::vector<std::uintptr_t> out;
        for (const auto& p : TakePosted()) {
            EXPECT_EQ(p.message, WM_ISP_EVENT);
            EXPECT_EQ(p.lParam, job.devIndex);
            out.push_back(p.wParam);
        }
        return out;
    }
};

TEST_F(RebuildTest, TestsTwoHundredBlocksFromTheFileSystemStart) {
    nand.badBlocks = {layout.fsStart + 5u, layout.fsStart + 150u};
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(program::RebuildNandFs(layout, job, nand), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Warning : the block(5) is bad!\n\nWarning : the block(150) is bad!\n\n");
    EXPECT_EQ(nand.testedBlocks.size(), 200u);
    EXPECT_EQ(*nand.testedBlocks.begin(), layout.fsStart);
    EXPECT_EQ(*nand.testedBlocks.rbegin(), layout.fsStart + 199u);
    EXPECT_THAT(Events(),
                ElementsAre(kEventRebuildBegin, kEventRebuildEnded, kEventRebuildSucceeded));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(RebuildTest, NoGoodBlockFails) {
    job.devIndex = 2;
    for (std::uint32_t i = 0; i < 200; ++i) {
        nand.badBlocks.insert(layout.fsStart + i);
    }
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(program::RebuildNandFs(layout, job, nand), -1);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("Warning : the block(199) is bad!\n\n"), out.size() - 34);
    EXPECT_THAT(boxes, ElementsAre("Device:2 ==> Error in rebuild nand fs.\n"));
    EXPECT_THAT(Events(), ElementsAre(kEventRebuildBegin, kEventRebuildFailed));
}

TEST_F(RebuildTest, DevicesNotBootingFromNandAreLeftAlone) {
    for (std::uint8_t id : {2, 3, 6, 7}) {
        layout.bootDeviceId = id;
        EXPECT_EQ(program::RebuildNandFs(layout, job, nand), 0);
    }
    EXPECT_TRUE(nand.testedBlocks.empty());
    EXPECT_TRUE(Events().empty());
}

TEST_F(RebuildTest, StopsAtTheEndOfTheChip) {
    layout = TestLayout(512, 4, 16, 0, false, 6, /*chipBlocks=*/38 + 50);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(program::RebuildNandFs(layout, job, nand), 0);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(nand.testedBlocks.size(), 50u);
    EXPECT_EQ(*nand.testedBlocks.rbegin(), 87u);
}

} // namespace
} // namespace kestrel::test
