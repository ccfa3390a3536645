// Message boxes raised by workers: shown on the UI thread without blocking it while the raising
// worker waits and the others go on; one box per device with a count of repeats; released when
// the window closes.
#include "app/worker_message_boxes.h"
#include "gui_fixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::test {
namespace {

QMessageBox* OpenBox() {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

// The message boxes on screen.
std::vector<QMessageBox*> ShownBoxes() {
    std::vector<QMessageBox*> shown;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
            shown.push_back(box);
        }
    }
    return shown;
}

QMessageBox* ShownBox() {
    const std::vector<QMessageBox*> shown = ShownBoxes();
    return shown.empty() ? nullptr : shown.front();
}

// A box runs its own modal loop on the UI thread; the test acts from a timer inside that loop.
TEST(WorkerMessageBoxes, WorkerWaitsForItsBoxWhileOthersGoOn) {
    app::WorkerMessageBoxes boxes(nullptr);
    std::atomic<bool> confirmed{false};
    std::atomic<bool> boxSeen{false};
    std::atomic<bool> otherDone{false};
    std::thread raising([&] {
        platform::ShowMessageBox("Can't found config.ini");
        confirmed = true;
    });
    std::thread other([&] { // another worker: goes on while the first one's box is open
        while (!boxSeen) {
            std::this_thread::yield();
        }
        otherDone = true;
    });
    QString text;
    QString title;
    bool confirmedWhileOpen = true;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QMessageBox* box = ShownBox();
        if (box == nullptr) {
            return;
        }
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr); // the window stays usable
        boxSeen = true;
        if (otherDone) {
            text = box->text();
            title = box->windowTitle();
            confirmedWhileOpen = confirmed;
            box->button(QMessageBox::Ok)->click();
            poll.stop();
        }
    });
    poll.start(5);
    ASSERT_TRUE(WaitFor([&] { return confirmed.load(); }));
    raising.join();
    other.join();
    EXPECT_EQ(text, "Can't found config.ini");
    EXPECT_EQ(title, "Kestrel");
    EXPECT_FALSE(confirmedWhileOpen);
}

TEST(WorkerMessageBoxes, BoxRaisedOnTheUiThreadShowsWithoutDeadlock) {
    app::WorkerMessageBoxes boxes(nullptr);
    QString seen;
    QTimer::singleShot(0, [&] {
        if (QMessageBox* box = OpenBox()) {
            seen = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    platform::ShowMessageBox("Device:0 ==> shown from the UI thread");
    EXPECT_EQ(seen, "Device:0 ==> shown from the UI thread");
}

TEST(WorkerMessageBoxes, ReleaseConfirmsOpenBoxesAndLetsLaterOnesPass) {
    app::WorkerMessageBoxes boxes(nullptr);
    std::atomic<int> returned{0};
    auto raise = [&](const char* text) {
        platform::ShowMessageBox(text);
        ++returned;
    };
    std::thread first(raise, "first");
    std::thread second(raise, "second");
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (ShownBox() != nullptr) {
            boxes.Release(); // one box open, the other queued or not yet raised
            poll.stop();
        }
    });
    poll.start(5);
    ASSERT_TRUE(WaitFor([&] { return returned == 2; }));
    first.join();
    second.join();
    EXPECT_TRUE(boxes.Released());
    EXPECT_TRUE(ShownBoxes().empty());
}

TEST(WorkerMessageBoxes, DestroyingReleasesQueuedWorkersAndRestoresTheHandler) {
    std::vector<std::string> recorded;
    auto previous = platform::SetMessageBoxHandler(
        [&](const std::string& text, const std::string&) { recorded.push_back(text); });
    std::atomic<bool> returned{false};
    std::thread worker;
    {
        app::WorkerMessageBoxes boxes(nullptr);
        worker = std::thread([&] {
            platform::ShowMessageBox("queued, never shown");
            returned = true;
        });
        // The worker's box is queued to the UI thread, which handles no event before the
        // object goes.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    worker.join();
    EXPECT_TRUE(returned);
    platform::ShowMessageBox("after");
    EXPECT_EQ(recorded, std::vector<std::string>{"after"});
    platform::SetMessageBoxHandler(previous);
}

// Workers of three devices meet the same failure over and over: each device has one box on
// screen, the first holds its worker until confirmed, the repeats only count on it.
TEST(WorkerMessageBoxes, AFloodOfIdenticalFailuresShowsOneBoxPerDeviceWithACount) {
    app::WorkerMessageBoxes boxes(nullptr);
    constexpr int kDevices = 3;
    constexpr int kRepeats = 40;
    std::atomic<int> done{0};
    std::vector<std::thread> workers;
    for (int d = 0; d < kDevices; ++d) {
        workers.emplace_back([d, &done] {
            const std::string text =
                "Device" + std::to_string(d) + "-->[ReadVendorSector]: error id: 31";
            for (int i = 0; i < kRepeats; ++i) {
                platform::ShowMessageBox(text);
            }
            ++done;
        });
    }
    ASSERT_TRUE(WaitFor([&] { return ShownBoxes().size() == kDevices; }));
    EXPECT_EQ(done, 0); // every worker waits for its first box
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ShownBoxes().size(), static_cast<std::size_t>(kDevices)); // no box over another
    std::set<std::pair<int, int>> places;
    for (int d = 0; d < kDevices; ++d) {
        QMessageBox* box = boxes.BoxOf(d);
        ASSERT_NE(box, nullptr) << d;
        EXPECT_TRUE(box->windowTitle().contains(QStringLiteral("Device %1").arg(d)));
        places.insert({box->pos().x(), box->pos().y()});
        box->button(QMessageBox::Ok)->click();
    }
    EXPECT_EQ(places.size(), static_cast<std::size_t>(kDevices)); // each box stands apart
    ASSERT_TRUE(WaitFor([&] { return done == kDevices; }));
    for (std::thread& w : workers) {
        w.join();
    }
    ASSERT_TRUE(WaitFor([&] {
        for (int d = 0; d < kDevices; ++d) {
            QMessageBox* box = boxes.BoxOf(d);
            if (box == nullptr || !box->informativeText().contains(QString::number(kRepeats))) {
                return false;
            }
        }
        return true;
    }));
    EXPECT_EQ(ShownBoxes().size(), static_cast<std::size_t>(kDevices));
    for (int d = 0; d < kDevices; ++d) {
        EXPECT_EQ(boxes.BoxOf(d)->text().toStdString(),
                  "Device" + std::to_string(d) + "-->[ReadVendorSector]: error id: 31");
    }
}

// A new text of a device waits behind the box the device has on screen, and holds its worker.
TEST(WorkerMessageBoxes, ADifferentTextOfADeviceWaitsForItsTurn) {
    app::WorkerMessageBoxes boxes(nullptr);
    std::atomic<int> step{0};
    std::thread worker([&] {
        const platform::MessageBoxDeviceScope device(4);
        platform::ShowMessageBox("Can't found config.ini");
        step = 1;
        platform::ShowMessageBox("Can't found isp.ini");
        step = 2;
    });
    ASSERT_TRUE(WaitFor([&] { return boxes.BoxOf(4) != nullptr; }));
    EXPECT_EQ(boxes.BoxOf(4)->windowTitle(), "Kestrel - Device 4"); // named by its worker
    boxes.BoxOf(4)->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(WaitFor([&] {
        return step == 1 && boxes.BoxOf(4) != nullptr &&
               boxes.BoxOf(4)->text() == "Can't found isp.ini";
    }));
    EXPECT_EQ(ShownBoxes().size(), 1u);
    boxes.BoxOf(4)->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(WaitFor([&] { return step == 2; }));
    worker.join();
}

// Releasing frees workers whose boxes were never shown, without any pass of the event loop.
TEST(WorkerMessageBoxes, ReleaseFreesQueuedWorkersAtOnce) {
    app::WorkerMessageBoxes boxes(nullptr);
    std::atomic<int> returned{0};
    std::vector<std::thread> workers;
    for (int d = 0; d < 4; ++d) {
        workers.emplace_back([d, &returned] {
            platform::ShowMessageBox("Device:" + std::to_string(d) + " ==> queued");
            ++returned;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // all four queued, none shown
    QElapsedTimer timer;
    timer.start();
    boxes.Release();
    for (std::thread& w : workers) {
        w.join();
    }
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(returned, 4);
    QCoreApplication::processEvents(); // the queued calls find nothing to show
    EXPECT_TRUE(ShownBoxes().empty());
}

} // namespace
} // namespace kestrel::test
