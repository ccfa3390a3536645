// Message boxes raised by workers: shown modally on the UI thread while the raising worker
// waits and the others go on; released when the window closes.
#include "app/worker_message_boxes.h"
#include "gui_fixture.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kestrel::test {
namespace {

QMessageBox* OpenBox() {
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
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
        QMessageBox* box = OpenBox();
        if (box == nullptr) {
            return;
        }
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
        if (OpenBox() != nullptr) {
            boxes.Release(); // one box open, the other queued or not yet raised
            poll.stop();
        }
    });
    poll.start(5);
    ASSERT_TRUE(WaitFor([&] { return returned == 2; }));
    first.join();
    second.join();
    EXPECT_TRUE(boxes.Released());
    EXPECT_EQ(OpenBox(), nullptr);
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

} // namespace
} // namespace kestrel::test
