// The window's message sink: posting order kept per producer, the progress record travelling as
// the message's own copy, and draining in slices that leave the event loop room.
#include "app/qt_message_sink.h"
#include "gui_fixture.h"
#include "kestrel/isp_job.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

namespace kestrel::test {
namespace {

TEST(QtMessageSink, KeepsEachProducersOrderAndCopiesTheRecord) {
    QObject receiver;
    std::map<std::intptr_t, std::vector<std::uintptr_t>> seen; // producer -> its codes in order
    std::vector<ProgressRecord> records;
    app::QtMessageSink sink(&receiver, [&](const platform::WindowMessage& m) {
        if (m.message == WM_ISP_STATUS && m.wParam == kStatusProgressRange) {
            records.push_back(*reinterpret_cast<const ProgressRecord*>(m.lParam));
            return;
        }
        seen[m.lParam].push_back(m.wParam);
    });
    constexpr int kProducers = 4;
    constexpr std::uintptr_t kPosts = 2000;
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&sink, p] {
            ProgressRecord record{static_cast<std::uint16_t>(p), 77};
            platform::PostWindowMessageCopy(sink.Handle(), WM_ISP_STATUS, kStatusProgressRange,
                                            &record, sizeof record);
            record.steps = 0; // the message holds its own copy
            for (std::uintptr_t i = 0; i < kPosts; ++i) {
                platform::PostWindowMessage(sink.Handle(), WM_ISP_EVENT, i, p);
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    ASSERT_TRUE(WaitFor([&] { return sink.Pending() == 0; }));
    ASSERT_EQ(records.size(), std::size_t{kProducers});
    for (const ProgressRecord& r : records) {
        EXPECT_EQ(std::uint32_t{r.steps}, 77u); // by value: the packed field is misaligned
    }
    for (int p = 0; p < kProducers; ++p) {
        const auto& codes = seen[p];
        ASSERT_EQ(codes.size(), kPosts);
        for (std::uintptr_t i = 0; i < kPosts; ++i) {
            ASSERT_EQ(codes[i], i);
        }
    }
}

TEST(QtMessageSink, ADrainSliceLeavesRoomForOtherEvents) {
    QObject receiver;
    int handled = 0;
    app::QtMessageSink sink(&receiver, [&](const platform::WindowMessage&) {
        ++handled;
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // a slow handler
    });
    for (int i = 0; i < 200; ++i) {
        platform::PostWindowMessage(sink.Handle(), WM_ISP_STATUS, kStatusProgressStep, 0);
    }
    int handledWhenTimerRan = -1;
    QTimer::singleShot(0, [&] { handledWhenTimerRan = handled; });
    ASSERT_TRUE(WaitFor([&] { return handled == 200; }));
    EXPECT_GT(handledWhenTimerRan, 0);
    EXPECT_LT(handledWhenTimerRan, 200); // the timer did not wait for the whole flood
}

TEST(QtMessageSink, MessagesStillQueuedAreDroppedWithTheSink) {
    QObject receiver;
    int handled = 0;
    {
        app::QtMessageSink sink(&receiver, [&](const platform::WindowMessage&) { ++handled; });
        platform::PostWindowMessage(sink.Handle(), WM_ISP_STATUS, kStatusRunStart, 0);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(handled, 0);
}

} // namespace
} // namespace kestrel::test
