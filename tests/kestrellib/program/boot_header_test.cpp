#include "kestrellib/program/boot_header.h"
#include "kestrellib/program/boot_image_writer.h"

#include "boot_test_support.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kestrel;
using namespace kestrel::program;
using kestrel::test::WordAt;

namespace {

TEST(ConfigTables, ItemsAndRomCodeOptionsFillTheFlagsAndValues) {
    test::TempHome home;
    home.WriteFile("config.ini", "[General]\nItemNum=2\nItemName=Item\nHoldingPerInRomcode=1\n"
                                 "[Item0]\nenable=1\nvalue=5\n[Item1]\nenable=1\nvalue=7\n");
    const BootConfig config = BuildConfigTables();
    EXPECT_EQ(std::memcmp(config.header.magic, "CK8S", 4), 0);
    EXPECT_EQ(config.header.flags, 0x40000003u);
    EXPECT_EQ(config.header.value[0], 5u);
    EXPECT_EQ(config.header.value[1], 7u);
    EXPECT_EQ(config.header.value[2], 0u);

    home.WriteFile("config.ini", "[General]\nItemNum=2\nItemName=Opt\nEnable_RomCodeMessage=1\n"
                                 "[Opt1]\nenable=1\nvalue=9\n");
    const BootConfig other = BuildConfigTables();
    EXPECT_EQ(other.header.flags, 0x80000002u) << "missing [Opt0] reads as 0";
    EXPECT_EQ(other.header.value[1], 9u);
}

TEST(ConfigTables, ItemNumIsBoundedToTheTenSlots) {
    test::TempHome home;
    std::string ini = "[General]\nItemNum=12\nItemName=I\n";
    for (int i = 0; i < 12; ++i) {
        ini += "[I" + std::to_string(i) + "]\nenable=1\nvalue=" + std::to_string(100 + i) + "\n";
    }
    home.WriteFile("config.ini", ini);
    const BootConfig config = BuildConfigTables();
    EXPECT_EQ(config.header.flags, 0x3FFu) << "items 10 and 11 are not read";
    EXPECT_EQ(config.header.value[9], 109u);

    home.WriteFile("config.ini", "[General]\nItemNum=-3\nItemName=I\n[I0]\nenable=1\n");
    EXPECT_EQ(BuildConfigTables().header.flags, 0u);
}

TEST(ConfigTables, FreqNumOneKeepsTheDefaultsInEntriesOneToThree) {
    test::TempHome home;
    home.WriteFile("config.ini", "[General]\nFreqNum=1\nFreqName=Clk\n"
                                 "[Clk0]\nfreq_spll_int=540\nfreq_arm=300\nregDram0C=0x12345678\n"
                                 "regDram28=4294967295\nbaudIdx=2\n");
    const BootConfig config = BuildConfigTables();
    const ClockEntry& e0 = config.clocks.entry[0];
    EXPECT_EQ(e0.freqSpllInt, 540);
    EXPECT_EQ(e0.freqArm, 300 & 0xFF) << "truncated to the field's width";
    EXPECT_EQ(e0.baudIdx, 2);
    EXPECT_EQ(e0.freqArmAhb, 0) << "a missing key gives 0, not the default";
    EXPECT_EQ(e0.regDram0C, 0x12345678u);
    EXPECT_EQ(e0.regDram28, 0xFFFFFFFFu);
    for (int i = 1; i < kClockEntries; ++i) {
        const ClockEntry& e = config.clocks.entry[i];
        EXPECT_EQ(e.freqSpllInt, 648) << i;
        EXPECT_EQ(e.regDram0C, 0xD3u) << i;
        EXPECT_EQ(std::memcmp(&e, &config.clocks.entry[1], sizeof e), 0);
    }
    const ClockEntry defaults = DefaultClockEntry();
    const std::uint8_t bytes[8] = {1, 7, 7, 0, 0, 7, 0, 0}; // freq_arm_ahb .. freq_ceva_apb
    EXPECT_EQ(std::memcmp(&defaults.freqArmAhb, bytes, 8), 0);
    EXPECT_EQ(defaults.refCeva23, 3);
    EXPECT_EQ(defaults.refArm23, 3);
}

TEST(ConfigTables, FreqNumIsBoundedToFourEntries) {
    test::TempHome home;
    std::string ini = "[General]\nFreqNum=6\nFreqName=F\n";
    for (int i = 0; i < 6; ++i) {
        ini += "[F" + std::to_string(i) + "]\nfreq_spll_int=" + std::to_string(500 + i) + "\n";
    }
    home.WriteFile("config.ini", ini);
    const BootConfig config = BuildConfigTables();
    EXPECT_EQ(config.clocks.entry[3].freqSpllInt, 503);
}

class BootHeaderPage : public testing::Test {
protected:
    void SetUp() override {
        home_.WriteFile("config.ini", "[General]\nItemNum=1\nItemName=I\nFreqNum=1\nFreqName=F\n"
                                      "[I0]\nenable=1\nvalue=3\n[F0]\nfreq_spll_int=600\n");
    }
    std::string ImageWithWord4(std::uint32_t word4) {
        BootImageContent content;
        content.bootHeaderValue = word4;
        content.word6 = 0x66666666;
        content.word7 = 0x77777777;
        EXPECT_TRUE(WriteBootImageFile(home_.Path("image.bin"), content));
        return home_.Path("image.bin");
    }
    test::TempHome home_;
    std::vector<std::uint8_t> page_ = std::vector<std::uint8_t>(2048, 0);
};

TEST_F(BootHeaderPage, BelowThe30000ThresholdTheShortFormIsWritten) {
    BootConfig config = BuildConfigTables();
    ASSERT_EQ(BuildBootHeader(page_, config, ImageWithWord4(0x2FFFF)), BootHeaderForm::kShort);
    EXPECT_EQ(std::memcmp(page_.data(), &config.header, 48), 0);
    EXPECT_EQ(std::memcmp(page_.data(), "CK8S", 4), 0);
    EXPECT_EQ(std::memcmp(page_.data() + 48, &config.clocks, 176), 0);
    for (std::size_t i = kShortFormBytes; i < page_.size(); ++i) {
        ASSERT_EQ(page_[i], 0) << i;
    }
}

TEST_F(BootHeaderPage, AnUnreadableImageGivesTheShortForm) {
    BootConfig config = BuildConfigTables();
    EXPECT_EQ(BuildBootHeader(page_, config, home_.Path("absent.bin")), BootHeaderForm::kShort);
    home_.WriteFile("short.bin", std::string(31, '\xFF'));
    EXPECT_EQ(BuildBootHeader(page_, config, home_.Path("short.bin")), BootHeaderForm::kShort);
    EXPECT_EQ(std::memcmp(config.header.magic, "CK8S", 4), 0);
}

TEST_F(BootHeaderPage, From30000OnTheDirectoryFormCarriesTheImageWords) {
    BootConfig config = BuildConfigTables();
    const BootConfig original = config;
    ASSERT_EQ(BuildBootHeader(page_, config, ImageWithWord4(0x30000)), BootHeaderForm::kDirectory);
    const std::uint32_t directory[] = {0x53384B44u, 0, 32, 80, 256, 272, 0xFFFFFFFFu, 0xFFFFFFFFu};
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(WordAt(page_, 4 * i), directory[i]) << "directory word " << i;
    }
    EXPECT_EQ(std::memcmp(page_.data() + 32, "DK8S", 4), 0);
    EXPECT_EQ(std::memcmp(page_.data() + 36, &original.header.flags, 44), 0);
    EXPECT_EQ(std::memcmp(page_.data() + 80, &original.clocks, 176), 0);
    EXPECT_EQ(WordAt(page_, 256), 0x30000u);
    EXPECT_EQ(WordAt(page_, 260), 0x66666666u);
    EXPECT_EQ(WordAt(page_, 264), 0x77777777u);
    EXPECT_EQ(WordAt(page_, 268), 0u);
    for (std::size_t i = kDirectoryFormBytes; i < page_.size(); ++i) {
        ASSERT_EQ(page_[i], 0) << i;
    }
    // The magic change stays in this call's copy.
    EXPECT_EQ(std::memcmp(config.header.magic, "DK8S", 4), 0);
    EXPECT_EQ(std::memcmp(BuildConfigTables().header.magic, "CK8S", 4), 0);
}

} // namespace
