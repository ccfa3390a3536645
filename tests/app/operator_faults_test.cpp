// The window while devices fail: worker boxes never block it, a slot shows that its device waits
// for the operator, closing never waits for a box, and the window keeps its size.
#include "gui_fixture.h"

#include "app/station/isp_page.h"
#include "app/worker_message_boxes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace kestrel::test {
namespace {

class OperatorFaults : public GuiTest {
protected:
    void TearDown() override {
        dialog_.reset();
        boxes_.reset();
        GuiTest::TearDown();
    }

    // The window with worker boxes; every device's boot code step raises a box and fails.
    void OpenFailingWindow(int devices) {
        WriteIni("config.ini", "[General]\nItemName=T\n");
        for (int i = 0; i < devices; ++i) {
            AddDevice();
        }
        boxes_ = std::make_unique<app::WorkerMessageBoxes>(nullptr);
        station::StationLibrary lib = Library();
        lib.writeFw = [this](IspJob* job) {
            ++raised_;
            platform::ShowMessageBox("Device" + std::to_string(job->devIndex) +
                                     "-->[ReadVendorSector]: error id: 31");
            ++returned_;
            return -1;
        };
        dialog_ = std::make_unique<app::CKestrelDlg>(lib, boxes_.get());
        boxes_->SetParent(dialog_.get());
        dialog_->SetCloseConfirm([](QWidget*) { return true; });
        dialog_->show();
    }

    std::unique_ptr<app::WorkerMessageBoxes> boxes_;
    std::atomic<int> raised_{0};
    std::atomic<int> returned_{0};
};

TEST_F(OperatorFaults, WhileWorkerBoxesWaitTabsSwitchAndTheWindowCloses) {
    OpenFailingWindow(2);
    Basic().OnIsp();
    ASSERT_TRUE(Settle([&] { return boxes_->BoxOf(0) != nullptr && boxes_->BoxOf(1) != nullptr; }));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    ASSERT_TRUE(Settle([&] { return Basic().Slot(1)->Text() == "waiting for operator"; }));
    EXPECT_EQ(Basic().Slot(0)->Text(), "waiting for operator");

    QTabBar* tabs = dialog_->Sheet()->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    EXPECT_EQ(dialog_->Sheet()->currentIndex(), 1);
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
    EXPECT_EQ(dialog_->Sheet()->currentIndex(), 0);

    // Confirming one box lets its worker end; the slot no longer waits.
    boxes_->BoxOf(0)->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(Settle([&] { return Basic().Slot(0)->Text() != "waiting for operator"; }));
    EXPECT_EQ(Basic().Slot(1)->Text(), "waiting for operator");

    QElapsedTimer timer;
    timer.start();
    dialog_->reject(); // device 1's box still waits
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(returned_, 2); // every worker went on and was joined
    EXPECT_EQ(boxes_->BoxOf(1), nullptr);
}

TEST_F(OperatorFaults, ClosingWithQueuedBoxesNeverShownReturnsWithinASecond) {
    OpenFailingWindow(3);
    Basic().OnIsp();
    // No event is handled meanwhile: the boxes are queued for the UI thread, none is on screen.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (raised_ < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(raised_, 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(boxes_->BoxOf(0), nullptr);

    QElapsedTimer timer;
    timer.start();
    dialog_->reject();
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(returned_, 3);
    QCoreApplication::processEvents();
    EXPECT_EQ(boxes_->BoxOf(0), nullptr); // released boxes never come up afterwards
}

TEST_F(OperatorFaults, TheWindowKeepsItsSizeWhateverTheSlotsSay) {
    AddDevice();
    OpenDialog();
    dialog_->show();
    QCoreApplication::processEvents();
    const QSize before = dialog_->size();
    for (const char* text :
         {"Writing Nand fs...", "waiting for operator", "Writing demo file..."}) {
        for (int k = 0; k < station::kSlotCount; ++k) {
            Basic().SetSlotText(k, text);
        }
        QCoreApplication::processEvents();
        EXPECT_EQ(dialog_->size(), before) << text;
        EXPECT_EQ(Basic().Slot(0)->Text(), text);
    }
}

} // namespace
} // namespace kestrel::test
