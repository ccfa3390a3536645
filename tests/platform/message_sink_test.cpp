#include "platform/messages/message_sink.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using namespace kestrel::platform;

TEST(MessageSink, EachProducersOrderIsKept) {
    QueueSink sink;
    constexpr int kThreads = 4, kPerThread = 2000;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) {
                PostWindowMessage(&sink, 1224, static_cast<std::uintptr_t>(t), i);
            }
        });
    }
    std::vector<int> next(kThreads, 0);
    for (int received = 0; received < kThreads * kPerThread; ++received) {
        auto m = sink.Take(5000);
        ASSERT_TRUE(m);
        ASSERT_EQ(m->lParam, next[m->wParam]) << "producer " << m->wParam;
        ++next[m->wParam];
    }
    for (auto& p : producers) {
        p.join();
    }
}

TEST(MessageSink, PayloadIsACopyOwnedByTheMessage) {
    QueueSink sink;
    struct Record {
        unsigned short index;
        unsigned steps;
    } record{5, 17};
    PostWindowMessageCopy(&sink, 1224, 1, &record, sizeof record);
    record.steps = 999; // the producer may reuse its record at once
    auto m = sink.Take(100);
    ASSERT_TRUE(m);
    const auto* delivered = reinterpret_cast<const Record*>(m->lParam);
    EXPECT_EQ(delivered->index, 5);
    EXPECT_EQ(delivered->steps, 17u);
}

TEST(MessageSink, NullWindowIsRefused) {
    EXPECT_FALSE(PostWindowMessage(nullptr, 1, 2, 3));
}
