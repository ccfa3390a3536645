// Continuous mode in the window: the check box below the buttons turns the ISP button into the
// shift's start and stop, units plugged in while it runs are programmed through the dialog's own
// device notifications, and the existing controls keep their texts.
#include "gui_fixture.h"

#include "app/station/isp_page.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace kestrel::test {
namespace {

class ContinuousWindow : public GuiTest {
protected:
    void SetUp() override {
        GuiTest::SetUp();
        WriteIni("config.ini", "[General]\nItemName=T\n");
        WriteIni("isp.ini", "[General]\nImageType=1\n");
    }
    std::string ShiftText() {
        return Control<QLabel>(app::ids::kShiftCounters)->text().toStdString();
    }
};

TEST_F(ContinuousWindow, TheCheckBoxMakesTheIspButtonStartAndStopTheShift) {
    AddDevice();
    OpenDialog();
    auto* isp = Control<QPushButton>(app::ids::kIsp);
    auto* box = Control<QCheckBox>(app::ids::kContinuous);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text().toStdString(), app::kContinuousText);
    EXPECT_FALSE(box->isChecked());
    box->click();
    isp->click();
    ASSERT_TRUE(Basic().Page().ContinuousOn());
    EXPECT_EQ(isp->text().toStdString(), station::kStopText);
    EXPECT_TRUE(isp->isEnabled());
    EXPECT_FALSE(box->isEnabled());
    ASSERT_TRUE(Settle([&] { return Basic().Page().Records().size() == 1; }));
    EXPECT_EQ(Basic().Slot(0)->Result(), station::SlotResult::kPassed);
    EXPECT_NE(ShiftText().find("Shift: 1 passed, 0 failed"), std::string::npos) << ShiftText();

    // A unit plugged in meanwhile reaches the page through the dialog's notifications.
    AddDevice();
    ASSERT_TRUE(Settle([&] { return Basic().Page().Records().size() == 2; }))
        << Basic().LogText().toStdString();
    EXPECT_EQ(Basic().Slot(1)->Result(), station::SlotResult::kPassed);
    EXPECT_EQ(Basic().Slot(0)->Result(), station::SlotResult::kPassed) << "not programmed again";

    isp->click(); // Stop
    ASSERT_TRUE(Settle([&] { return !Basic().Page().ContinuousOn(); }));
    EXPECT_EQ(isp->text().toStdString(), "ISP");
    EXPECT_TRUE(isp->isEnabled());
    EXPECT_TRUE(box->isEnabled());
    EXPECT_NE(Basic().LogText().toStdString().find("Continuous mode ended. Shift: 2 passed"),
              std::string::npos);
    EXPECT_EQ(Basic().Page().Records().size(), 2u);
}

TEST_F(ContinuousWindow, StoppingWaitsForTheUnitUnderWayWithTheButtonOff) {
    AddDevice();
    OpenDialog();
    gate_.Close(); // the unit's boot code waits
    Control<QCheckBox>(app::ids::kContinuous)->click();
    auto* isp = Control<QPushButton>(app::ids::kIsp);
    isp->click();
    ASSERT_TRUE(Settle([&] { return gate_.waiting.load() == 1; }));
    isp->click(); // Stop while the unit runs
    EXPECT_FALSE(isp->isEnabled());
    EXPECT_TRUE(Basic().Page().ContinuousOn());
    gate_.Open();
    ASSERT_TRUE(Settle([&] { return !Basic().Page().ContinuousOn(); }));
    ASSERT_EQ(Basic().Page().Records().size(), 1u);
    EXPECT_TRUE(Basic().Page().Records().front().ok) << Basic().Page().Records().front().message;
    EXPECT_TRUE(isp->isEnabled());
}

TEST_F(ContinuousWindow, WithoutTheBoxTheIspButtonRunsOneBatchAsBefore) {
    AddDevice();
    AddDevice();
    OpenDialog();
    auto* isp = Control<QPushButton>(app::ids::kIsp);
    isp->click();
    EXPECT_FALSE(Basic().Page().ContinuousOn());
    EXPECT_EQ(isp->text().toStdString(), "ISP");
    ASSERT_TRUE(Settle([&] { return !Basic().Page().RunUnderWay(); }));
    AddDevice(); // after the run: not programmed
    Settle([] { return false; }, 300);
    EXPECT_EQ(Basic().Page().Records().size(), 2u);
    EXPECT_NE(Basic().LogText().toStdString().find("Run ended: 2 passed, 0 failed"),
              std::string::npos);
    EXPECT_EQ(ShiftText(), "");
}

} // namespace
} // namespace kestrel::test
