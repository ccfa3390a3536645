// The window driving the real library: an ISP press in "Boot code" mode programs three
// simulated devices through WriteFW2NandFun, and the page shows what the library posted.
#include "gui_fixture.h"

#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/boot_image_writer.h"

#include <QPushButton>

#include <gtest/gtest.h>

namespace kestrel::test {
namespace {

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return bytes;
}

TEST_F(GuiTest, BootCodeRunOnThreeSimulatedDevicesThroughTheLibrary) {
    WriteIni("config.ini", "[General]\nItemNum=2\nItemName=Item\nHoldingPerInRomcode=1\n"
                           "FreqNum=1\nFreqName=Clk\n[Item0]\nenable=1\nvalue=5\n"
                           "[Item1]\nenable=1\nvalue=7\n[Clk0]\nfreq_spll_int=540\n");
    program::BootImageContent content;
    content.bootHeaderValue = 0x30001;
    content.blocks = {{0x200, Bytes(5000, 1)}, {0x1100, Bytes(40000, 2)}, {0x000, Bytes(7, 3)}};
    std::string error;
    ASSERT_TRUE(program::WriteBootImageFile(home_->Path("boot.img"), content, &error)) << error;
    WriteIni("isp.ini", "[General]\nImageType=1\neccmode=1\n[Redboot]\nname=" +
                            home_->Path("boot.img") + "\n");
    sim::DeviceConfig config;
    config.loaderClass = 2; // a loader whose boot code file is written as it stands
    for (int i = 0; i < 3; ++i) {
        AddDevice(config);
    }
    dialog_ = std::make_unique<app::CKestrelDlg>(station::KestrellibBinding());
    auto* isp = Control<QPushButton>(app::ids::kIsp);
    isp->click();
    ASSERT_TRUE(Settle([&] { return !Basic().Page().RunUnderWay(); }, 30000));
    ASSERT_TRUE(Settle([&] { return Basic().Sink().Pending() == 0; }));
    QCoreApplication::processEvents();

    EXPECT_EQ(Boxes(), std::vector<std::string>{});
    const std::string log = Basic().LogText().toStdString();
    for (int d = 0; d < 3; ++d) {
        const std::string dev = "Device:" + std::to_string(d) + " ==> ";
        EXPECT_NE(log.find(dev + "Begin write FW.\n"), std::string::npos) << log;
        EXPECT_NE(log.find(dev + "Write FW is success. ("), std::string::npos) << log;
        EXPECT_EQ(Basic().Slot(d)->Text(), "Connected");
    }
    EXPECT_EQ(log.find("resource"), std::string::npos);
    EXPECT_TRUE(isp->isEnabled());
    for (const auto& device : sim::TheFarm().Devices()) {
        EXPECT_TRUE(device->HostErrors().empty());
    }
}

} // namespace
} // namespace kestrel::test
