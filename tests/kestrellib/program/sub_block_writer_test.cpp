#include "kestrellib/program/index_area.h"
#include "kestrellib/program/sub_block_writer.h"

#include "boot_test_support.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kestrel;
using namespace kestrel::program;
using kestrel::test::MemoryPageWriter;
using kestrel::test::MessageRecorder;
using kestrel::test::PatternBytes;
using kestrel::test::WordAt;

namespace {

struct SlotCase {
    std::uint32_t kind;
    std::uint32_t pageSize;
    std::uint32_t slot;
};

class FirstSlot : public testing::TestWithParam<SlotCase> {};

TEST_P(FirstSlot, FollowsTheKindAndPageSize) {
    EXPECT_EQ(FirstIndexSlot(GetParam().kind, GetParam().pageSize), GetParam().slot);
}

INSTANTIATE_TEST_SUITE_P(IndexArea, FirstSlot,
                         testing::Values(SlotCase{0x100, 2048, 16}, SlotCase{0x100, 4096, 10},
                                         SlotCase{0x200, 2048, 2}, SlotCase{0x200, 8192, 2},
                                         SlotCase{0x300, 2048, 4}, SlotCase{0x300, 4096, 4},
                                         SlotCase{0x400, 2048, 32}, SlotCase{0x400, 8192, 18},
                                         SlotCase{0x000, 2048, 0}, SlotCase{0x500, 4096, 0},
                                         SlotCase{0xF00, 2048, 0}),
                         [](const auto& info) {
                             return "Kind" + std::to_string(info.param.kind >> 8) + "Page" +
                                    std::to_string(info.param.pageSize);
                         });

TEST(IndexArea, UsableSlotsStayInTheAreaThePassAndTheIndexBlock) {
    EXPECT_EQ(UsableIndexSlots(2048, 64), 64u);
    EXPECT_EQ(UsableIndexSlots(2048, 32), 32u) << "index pages must not spill into data pages";
    EXPECT_EQ(UsableIndexSlots(4096, 128), 32u);
    EXPECT_EQ(UsableIndexSlots(8192, 256), 32u);
    EXPECT_EQ(UsableIndexSlots(16384, 256), 16u) << "256 KiB hold 16 slots of 16 KiB";
}

// A boot image with the given blocks, opened and positioned for the writing pass.
class SubBlockFixture : public testing::Test {
protected:
    void Open(const BootImageContent& content) {
        ASSERT_TRUE(WriteBootImageFile(home_.Path("image.bin"), content));
        ASSERT_TRUE(reader_.Open(home_.Path("image.bin")));
        ASSERT_EQ(reader_.ReadHeader(), ImageError::kNone);
        reader_.Rewind();
    }
    bool WriteNext(std::uint32_t pageSize = 2048, std::uint32_t pagesPerBlock = 64) {
        SubHeader sub{};
        EXPECT_EQ(reader_.NextBlock(sub), ImageError::kNone);
        return WriteSubBlock(cursor_, sub, reader_, {pageSize, pagesPerBlock}, nand_, index_);
    }
    static BootImageContent OneBlock(std::uint32_t type, std::size_t length) {
        BootImageContent content;
        content.blocks = {{type, PatternBytes(length, type + static_cast<std::uint32_t>(length))}};
        return content;
    }

    test::TempHome home_;
    MessageRecorder messages_;
    BootImageReader reader_;
    MemoryPageWriter nand_;
    IndexArea index_{2048};
    WriteCursor cursor_{.address = 256 * 2048};
};

TEST_F(SubBlockFixture, A5000ByteBlockTakesThreePagesAndOneIndexPage) {
    const BootImageContent content = OneBlock(0x1100, 5000);
    Open(content);
    ASSERT_TRUE(WriteNext());
    ASSERT_EQ(nand_.pages.size(), 3u);
    const auto& data = content.blocks[0].data;
    for (std::uint32_t i = 0; i < 3; ++i) {
        const auto& page = nand_.pages.at(256 + i);
        const std::size_t n = std::min<std::size_t>(2048, 5000 - 2048 * i);
        EXPECT_TRUE(std::equal(page.begin(), page.begin() + n, data.begin() + 2048 * i)) << i;
    }
    EXPECT_TRUE(index_.HoldsIndexPage(16));
    EXPECT_EQ(index_.Word(16, 0), 0x55AACC33u);
    EXPECT_EQ(index_.Word(16, 1), 0xFFFE0101u);
    EXPECT_EQ(index_.Word(16, 2), 5000u);
    EXPECT_EQ(index_.Word(16, 3), 259u);
    EXPECT_EQ(index_.Word(16, 4), 256u);
    EXPECT_EQ(index_.Word(16, 5), 257u);
    EXPECT_EQ(index_.Word(16, 6), 258u);
    EXPECT_EQ(index_.Word(16, 7), 0xFFFFFFFFu);
    EXPECT_EQ(cursor_.address, 259u * 2048);
    EXPECT_EQ(cursor_.kind, 0x100u);
    EXPECT_EQ(cursor_.firstSlot, 16u);
    EXPECT_FALSE(index_.HoldsIndexPage(17));
    EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(SubBlockFixture, FailedPagesAreSkippedAndLeftOutOfTheIndex) {
    nand_.failing = {257, 258};
    Open(OneBlock(0x200, 5000));
    ASSERT_TRUE(WriteNext());
    EXPECT_EQ(nand_.pages.count(257) + nand_.pages.count(258), 0u);
    EXPECT_EQ(index_.Word(2, 4), 256u);
    EXPECT_EQ(index_.Word(2, 5), 259u);
    EXPECT_EQ(index_.Word(2, 6), 260u);
    EXPECT_EQ(index_.Word(2, 3), 261u);
}

TEST_F(SubBlockFixture, ConsecutiveBlocksFollowPageAfterPage) {
    BootImageContent content = OneBlock(0x200, 2048);
    content.blocks.push_back({0x400, PatternBytes(100, 9)});
    Open(content);
    ASSERT_TRUE(WriteNext());
    ASSERT_TRUE(WriteNext());
    EXPECT_EQ(index_.Word(32, 4), 257u);
    EXPECT_EQ(index_.Word(32, 2), 100u);
    const auto& last = nand_.pages.at(257);
    EXPECT_EQ(last[100], 0xFF) << "the rest of a partial page stays erased";
}

TEST_F(SubBlockFixture, ALongListContinuesInTheNextSlotWithSequenceOne) {
    Open(OneBlock(0x100, 509 * 2048));
    ASSERT_TRUE(WriteNext());
    EXPECT_EQ(index_.Word(16, 1), 0xFFFE0101u);
    EXPECT_EQ(index_.Word(16, 3), 256u + 509);
    EXPECT_EQ(index_.Word(16, 511), 256u + 507);
    ASSERT_TRUE(index_.HoldsIndexPage(17));
    EXPECT_EQ(index_.Word(17, 1), 0xFFFE0101u);
    EXPECT_EQ(index_.Word(17, 2), 0xFFFFFFFFu) << "length and end only in the first page";
    EXPECT_EQ(index_.Word(17, 4), 256u + 508);
    EXPECT_EQ(index_.Word(17, 5), 0xFFFFFFFFu);
    EXPECT_FALSE(index_.HoldsIndexPage(18));
    EXPECT_EQ(IndexPagesFor(509 * 2048, 2048), 2u);
}

TEST_F(SubBlockFixture, AListThatEndsAtAPageEndIsFollowedByAnEmptyPage) {
    Open(OneBlock(0x100, 2 * 508 * 2048));
    ASSERT_TRUE(WriteNext());
    EXPECT_EQ(index_.Word(18, 1), 0xFFFE0102u);
    EXPECT_EQ(index_.Word(18, 4), 0xFFFFFFFFu);
    EXPECT_EQ(IndexPagesFor(2 * 508 * 2048, 2048), 3u);
}

TEST_F(SubBlockFixture, CodecBlockWithAnotherPageSizeWarnsOnceAndIsWritten) {
    std::vector<std::uint8_t> codec = PatternBytes(9000, 4);
    codec[0] = 0x00;
    codec[1] = 0x08; // 2048
    codec[2] = codec[3] = 0;
    BootImageContent content;
    content.blocks = {{0x300, codec}};
    Open(content);
    index_ = IndexArea(4096);
    ASSERT_TRUE(WriteNext(4096, 128));
    const auto texts = messages_.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "[WriteImagePackGeneral]: the page size of CEVA's codec file is different "
                        "from the target's one!\nSelect [MISC][Target] to change the page size "
                        "and rewrap the image file!");
    EXPECT_EQ(nand_.pages.size(), 3u);
}

TEST_F(SubBlockFixture, CodecBlockWithTheTargetPageSizeIsQuiet) {
    std::vector<std::uint8_t> codec = PatternBytes(100, 4);
    codec[0] = 0x00;
    codec[1] = 0x08;
    codec[2] = codec[3] = 0;
    BootImageContent content;
    content.blocks = {{0x1300, codec}};
    Open(content);
    ASSERT_TRUE(WriteNext(2048, 64));
    EXPECT_TRUE(messages_.Texts().empty());
}

TEST_F(SubBlockFixture, AListBeyondTheIndexAreaIsRefusedWithoutWriting) {
    Open(OneBlock(0x400, 100));
    index_ = IndexArea(16384); // 16 slots; kind 0x400 starts at slot 18
    EXPECT_FALSE(WriteNext(16384, 256));
    EXPECT_TRUE(nand_.pages.empty());
    EXPECT_EQ(messages_.Texts(), std::vector<std::string>{
                                     "The index pages of sub-block 1 run past the index area.\n"});
}

TEST_F(SubBlockFixture, ATruncatedBlockFailsWithItsMessage) {
    ASSERT_TRUE(WriteBootImageFile(home_.Path("image.bin"), OneBlock(0x200, 5000)));
    std::string bytes = home_.ReadFile("image.bin");
    home_.WriteFile("image.bin", bytes.substr(0, bytes.size() - 10));
    ASSERT_TRUE(reader_.Open(home_.Path("image.bin")));
    ASSERT_EQ(reader_.ReadHeader(), ImageError::kNone);
    reader_.Rewind();
    EXPECT_FALSE(WriteNext());
    EXPECT_EQ(messages_.Texts(),
              std::vector<std::string>{"The image file ends inside sub-block 1.\n"});
}

TEST_F(SubBlockFixture, SkippingGivesUpAfterFiveBlocksOfFailedPages) {
    for (std::uint32_t p = 256; p < 256 + 5 * 64 + 10; ++p) {
        nand_.failing.insert(p);
    }
    Open(OneBlock(0x200, 100));
    EXPECT_FALSE(WriteNext());
    EXPECT_EQ(nand_.attempts, 5 * 64);
    ASSERT_EQ(messages_.Texts().size(), 1u);
    EXPECT_EQ(messages_.Texts()[0],
              "Sub-block 1: pages 256 to 575 all failed to verify; the write is given up.\n");
}

struct PlanCase {
    const char* name;
    std::vector<SubHeader> subs;
    std::uint32_t pageSize;
    std::uint32_t usable;
    SlotPlan::Problem problem;
    std::uint32_t block;
    std::vector<std::uint32_t> unreachable = {};
};

class IndexPlan : public testing::TestWithParam<PlanCase> {};

TEST_P(IndexPlan, RefusesListsThatRunOutOrCollide) {
    const PlanCase& c = GetParam();
    const SlotPlan plan = PlanIndexSlots(c.subs, c.pageSize, c.usable);
    EXPECT_EQ(plan.problem, c.problem);
    if (c.problem != SlotPlan::Problem::kNone) {
        EXPECT_EQ(plan.block, c.block);
    } else {
        EXPECT_EQ(plan.unreachable, c.unreachable);
        const std::vector<bool> reachable = ReachableSubBlocks(c.subs, c.pageSize);
        for (std::uint32_t block = 0; block < c.subs.size(); ++block) {
            const bool listed =
                std::find(c.unreachable.begin(), c.unreachable.end(), block) != c.unreachable.end();
            EXPECT_EQ(reachable[block], !listed) << block;
        }
    }
}

constexpr std::uint32_t kTag = kImageFileTag;
INSTANTIATE_TEST_SUITE_P(IndexArea, IndexPlan,
                         testing::Values(PlanCase{"FourKindsFit",
                                                  {{kTag, 5000, 0x100},
                                                   {kTag, 9000, 0x200},
                                                   {kTag, 1, 0x300},
                                                   {kTag, 0, 0x400}},
                                                  2048,
                                                  64,
                                                  SlotPlan::Problem::kNone,
                                                  0},
                                         PlanCase{"SameKindTwiceLeavesTheFirstUnreachable",
                                                  {{kTag, 10, 0x100}, {kTag, 10, 0x1100}},
                                                  2048,
                                                  64,
                                                  SlotPlan::Problem::kNone,
                                                  0,
                                                  {0}},
                                         PlanCase{"TwoOtherKindsShareSlotZero",
                                                  {{kTag, 10, 0x000}, {kTag, 10, 0x500}},
                                                  4096,
                                                  32,
                                                  SlotPlan::Problem::kNone,
                                                  0,
                                                  {0}},
                                         PlanCase{"Kind200RunsOverKind300Whole",
                                                  {{kTag, 1, 0x300}, {kTag, 2 * 508 * 2048, 0x200}},
                                                  2048,
                                                  64,
                                                  SlotPlan::Problem::kNone,
                                                  0,
                                                  {0}},
                                         PlanCase{"Kind300CutsTheListOfKind200",
                                                  {{kTag, 2 * 508 * 2048, 0x200}, {kTag, 1, 0x300}},
                                                  2048,
                                                  64,
                                                  SlotPlan::Problem::kOverlap,
                                                  1},
                                         PlanCase{"AShorterListOfTheSameKindLeavesATail",
                                                  {{kTag, 508 * 2048, 0x100}, {kTag, 10, 0x1100}},
                                                  2048,
                                                  64,
                                                  SlotPlan::Problem::kOverlap,
                                                  1},
                                         PlanCase{"Kind400PastThePass",
                                                  {{kTag, 32 * 508 * 2048, 0x400}},
                                                  2048,
                                                  64,
                                                  SlotPlan::Problem::kPastUsableSlots,
                                                  0},
                                         PlanCase{"Kind400LastSlot",
                                                  {{kTag, (32 * 508 - 1) * 2048, 0x400}},
                                                  2048,
                                                  64,
                                                  SlotPlan::Problem::kNone,
                                                  0},
                                         PlanCase{"FirstSlotBeyondASmallIndexBlock",
                                                  {{kTag, 10, 0x400}},
                                                  16384,
                                                  16,
                                                  SlotPlan::Problem::kPastUsableSlots,
                                                  0}),
                         [](const auto& info) { return std::string(info.param.name); });

class IndexWrite : public testing::Test {
protected:
    void SetUp() override {
        index_.StartPage(2, 0x200, 1);
        index_.StartPage(16, 0x100, 1);
        index_.StartPage(17, 0x100, 1);
    }
    IndexArea index_{2048};
    MemoryPageWriter nand_;
};

TEST_F(IndexWrite, SlotsGoToTheirOwnPagesOfTheIndexBlock) {
    std::string message;
    ASSERT_TRUE(WriteIndexPages(index_, 640, 64, nand_, {}, &message));
    ASSERT_EQ(nand_.pages.size(), 3u);
    EXPECT_EQ(WordAt(nand_.pages.at(642), 4), 0x200u | 0xFFFE0001u);
    EXPECT_EQ(WordAt(nand_.pages.at(656), 4), 0xFFFE0101u);
    EXPECT_TRUE(nand_.pages.count(657));
}

TEST_F(IndexWrite, AFailedOrReservedPageShiftsTheRemainingSlots) {
    nand_.failing = {656};
    const std::uint32_t reserved[] = {643};
    ASSERT_TRUE(WriteIndexPages(index_, 640, 64, nand_, reserved, nullptr));
    EXPECT_TRUE(nand_.pages.count(642));
    EXPECT_EQ(WordAt(nand_.pages.at(657), 4), 0xFFFE0101u) << "slot 16 after the failed page";
    EXPECT_TRUE(nand_.pages.count(658)) << "slot 17 one page later";
}

TEST_F(IndexWrite, AnIndexPageWithNoPageLeftFails) {
    for (std::uint32_t p = 656; p < 704; ++p) {
        nand_.failing.insert(p);
    }
    std::string message;
    EXPECT_FALSE(WriteIndexPages(index_, 640, 64, nand_, {}, &message));
    EXPECT_EQ(message, "Index slot 16 found no page to verify on in the index block.\n");
}

} // namespace
