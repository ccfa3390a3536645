// The main dialog and the Basic page's slots, log and ISP run on simulated devices.
#include "gui_fixture.h"

#include "app/advanced_page.h"
#include "app/slot_picture.h"
#include "app/station/isp_page.h"
#include "sim/farm.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>

#include <gtest/gtest.h>

namespace kestrel::test {
namespace {

using station::SlotPicture;

constexpr const char* kBase = "Tarn4410 Kestrel Pro v1.3.0.10";

class CaptionAndSlots : public GuiTest, public ::testing::WithParamInterface<int> {};

TEST_P(CaptionAndSlots, FollowTheDeviceCount) {
    const int n = GetParam();
    for (int i = 0; i < n; ++i) {
        AddDevice();
    }
    OpenDialog();
    const std::string caption =
        n > 0 ? kBase + std::string("[USB:") + std::to_string(n) + "]" : std::string(kBase);
    EXPECT_EQ(dialog_->windowTitle().toStdString(), caption);
    ASSERT_TRUE(Settle([&] { return Basic().Sink().Pending() == 0; }));
    QCoreApplication::processEvents();
    for (int k = 0; k < station::kSlotCount; ++k) {
        const bool connected = k < n;
        EXPECT_EQ(Basic().Slot(k)->Text(), connected ? "Connected" : "Not Connected") << k;
        auto* picture = Control<app::SlotPictureWidget>(app::kSlotControlIds[k].picture);
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->property("bitmap").toInt(), connected ? 137 : 135) << k;
        EXPECT_EQ(Control<QLabel>(app::kSlotControlIds[k].status)->text(), Basic().Slot(k)->Text());
    }
}

INSTANTIATE_TEST_SUITE_P(Devices, CaptionAndSlots, ::testing::Values(0, 3, 10));

TEST_F(GuiTest, SheetHasBasicAndAdvancedPagesAndTheHiddenControls) {
    OpenDialog();
    ASSERT_EQ(dialog_->Sheet()->count(), 2);
    EXPECT_EQ(dialog_->Sheet()->tabText(0), "Basic");
    EXPECT_EQ(dialog_->Sheet()->tabText(1), "Advanced");
    EXPECT_NE(qobject_cast<app::CAdevancedPg*>(dialog_->Sheet()->widget(1)), nullptr);
    EXPECT_TRUE(Control(app::ids::kLogWindows)->isHidden());
    EXPECT_TRUE(Control(app::ids::kDownloadDemo)->isHidden());
    EXPECT_TRUE(Control(app::ids::kDemoEdit)->isHidden());
    EXPECT_TRUE(Control(app::ids::kRomfs1Edit)->isHidden()); // [Romfs1] enable defaults to 0
    EXPECT_FALSE(Control(app::ids::kIsp)->isHidden());
    EXPECT_FALSE(Control(app::ids::kClearRegistry)->isHidden());
    for (int k = 0; k < station::kSlotCount; ++k) {
        EXPECT_NE(Control<QProgressBar>(app::kSlotControlIds[k].bar), nullptr);
    }
}

TEST_F(GuiTest, IspWithThreeDevicesRunsToTheEnd) {
    WriteIni("config.ini", "[General]\nItemName=T\n");
    WriteIni("isp.ini", "[Redboot]\nname=boot.img\n");
    for (int i = 0; i < 3; ++i) {
        AddDevice();
    }
    OpenDialog();
    Basic().Page().SetTickSource([] { return 7u; });
    auto* isp = Control<QPushButton>(app::ids::kIsp);
    gate_.Close();
    isp->click();
    EXPECT_FALSE(isp->isEnabled());
    ASSERT_TRUE(Settle([&] { return gate_.waiting == 3; }));
    ASSERT_TRUE(Settle([&] { return Basic().Slot(2)->Text() == "Writing FW..."; }));
    // Each worker posts on its own; slot 2's text says nothing of slot 0's range yet.
    EXPECT_TRUE(Settle([&] { return Basic().Slot(0)->Bar()->maximum() == 4; }))
        << Basic().Slot(0)->Bar()->maximum();
    EXPECT_EQ(Basic().Slot(3)->Text(), "Not Connected");
    EXPECT_FALSE(isp->isEnabled());
    gate_.Open();
    ASSERT_TRUE(Settle([&] { return !Basic().Page().RunUnderWay(); }));
    ASSERT_TRUE(Settle([&] { return Basic().Sink().Pending() == 0; }));
    QCoreApplication::processEvents();

    EXPECT_TRUE(isp->isEnabled());
    const std::string log = Basic().LogText().toStdString();
    for (int d = 0; d < 3; ++d) {
        const std::string dev = "Device:" + std::to_string(d) + " ==> ";
        EXPECT_NE(log.find(dev + "Begin write FW.\n"), std::string::npos) << log;
        EXPECT_NE(log.find(dev + "Write FW is success. (0 s)\n"), std::string::npos) << log;
        EXPECT_NE(log.find(dev + "Begin write resource.\n"), std::string::npos) << log;
        EXPECT_NE(log.find(dev + "Write resource is success. (0 s)\n"), std::string::npos);
        EXPECT_EQ(Basic().Slot(d)->Text(), "Connected");
        EXPECT_EQ(Basic().Slot(d)->Picture(), SlotPicture::kIdle);
        EXPECT_EQ(Basic().Slot(d)->Bar()->value(), 0);
    }
    EXPECT_EQ(Basic().Slot(3)->Text(), "Not Connected");
    EXPECT_EQ(dialog_->windowTitle().toStdString(), kBase + std::string("[USB:3]"));
}

TEST_F(GuiTest, DeviceChangeDuringARunMovesTheCaptionAtOnceAndTheSlotsAfterTheRun) {
    WriteIni("config.ini", "[General]\nItemName=T\n");
    WriteIni("isp.ini", "[General]\nImageType=1\n");
    auto first = AddDevice();
    AddDevice();
    OpenDialog();
    ASSERT_TRUE(dialog_->DeviceNotificationsActive());
    ASSERT_TRUE(Settle([&] { return Basic().Slot(1)->Text() == "Connected"; }));
    gate_.Close();
    Basic().OnIsp();
    ASSERT_TRUE(Settle([&] { return gate_.waiting == 2; }));

    AddDevice(); // arrives during the run
    ASSERT_TRUE(Settle([&] { return dialog_->windowTitle().endsWith("[USB:3]"); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(Basic().Slot(2)->Text(), "Not Connected");
    EXPECT_EQ(Basic().Slot(0)->Text(), "Writing FW...");

    gate_.Open();
    ASSERT_TRUE(Settle([&] { return Basic().Slot(2)->Text() == "Connected"; }));
    EXPECT_EQ(Basic().Slot(0)->Text(), "Connected");

    sim::TheFarm().Remove(first); // leaves while idle: caption and slots at once
    ASSERT_TRUE(Settle([&] { return dialog_->windowTitle().endsWith("[USB:2]"); }));
    ASSERT_TRUE(Settle([&] { return Basic().Slot(2)->Text() == "Not Connected"; }));
}

// The ISP press itself writes config.ini (the Dram value), so the file can only be missing when
// the workers look if it goes away in between; here it is removed while the boot image is chosen.
TEST_F(GuiTest, MissingConfigIniGivesOneMessagePerDevice) {
    WriteIni("isp.ini", "[General]\nImageType=1\n");
    for (int i = 0; i < 3; ++i) {
        AddDevice();
    }
    station::StationLibrary lib = Library();
    lib.getRedboot = [this](IspJob&, const std::string& path, int& result) {
        std::filesystem::remove(home_->Dir() / "config.ini");
        result = 0;
        return path;
    };
    dialog_ = std::make_unique<app::CKestrelDlg>(lib);
    Basic().OnIsp();
    ASSERT_TRUE(Settle([&] { return !Basic().Page().RunUnderWay(); }));
    EXPECT_EQ(Boxes(), std::vector<std::string>(3, "Can't found config.ini"));
    EXPECT_TRUE(Control(app::ids::kIsp)->isEnabled());
    EXPECT_EQ(Basic().LogText(), "Run ended: 0 passed, 3 failed (Dev0, Dev1, Dev2)\n")
        << "each unit failed with its box";
}

TEST_F(GuiTest, ClosingDuringARunAsksThenStopsAndJoinsTheWorkers) {
    WriteIni("config.ini", "[General]\nItemName=T\n");
    AddDevice();
    AddDevice();
    OpenDialog();
    int asked = 0;
    bool answer = false;
    dialog_->SetCloseConfirm([&](QWidget*) {
        ++asked;
        return answer;
    });
    dialog_->show();
    gate_.Close();
    Basic().OnIsp();
    ASSERT_TRUE(Settle([&] { return gate_.waiting == 2; }));

    dialog_->reject(); // refused: the run goes on
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_TRUE(Basic().Page().RunUnderWay());

    answer = true;
    dialog_->reject();
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(gate_.waiting, 0); // both workers ended before reject returned
    dialog_.reset();             // the page and the counter lock go after the workers
}

TEST_F(GuiTest, ClosingWhenIdleDoesNotAsk) {
    OpenDialog();
    int asked = 0;
    dialog_->SetCloseConfirm([&](QWidget*) { return ++asked > 0; });
    dialog_->show();
    dialog_->reject();
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(dialog_->isVisible());
}

TEST_F(GuiTest, ClearAllLogEmptiesTheLogAndLeavesAnEmptyLogEmpty) {
    OpenDialog();
    auto* clear = Control<QPushButton>(app::ids::kClearAllLog);
    clear->click();
    EXPECT_EQ(Basic().LogText(), "");
    Basic().AppendLog("Device:0 ==> Begin write FW.\n");
    Basic().AppendLog("Device:1 ==> Begin write FW.\n");
    EXPECT_EQ(Basic().LogText(), "Device:0 ==> Begin write FW.\nDevice:1 ==> Begin write FW.\n");
    clear->click();
    EXPECT_EQ(Basic().LogText(), "");
}

TEST_F(GuiTest, NotificationsAboutDevicesBeyondTheSlotsLogButTouchNoSlot) {
    OpenDialog();
    auto* window = Basic().Page().Window();
    platform::PostWindowMessage(window, WM_ISP_EVENT, kEventBootBegin, 9);
    platform::PostWindowMessage(window, WM_ISP_STATUS, kStatusProgressStep, 9);
    ASSERT_TRUE(Settle([&] { return !Basic().LogText().isEmpty(); }));
    EXPECT_EQ(Basic().LogText(), "Device:9 ==> Begin write FW.\n");
    for (int k = 0; k < station::kSlotCount; ++k) {
        EXPECT_EQ(Basic().Slot(k)->Text(), "Not Connected");
    }
}

} // namespace
} // namespace kestrel::test
