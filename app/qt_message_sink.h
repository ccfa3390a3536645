#pragma once
// A window's message sink in the Qt program. Producers on any thread post; the messages are
// handed to the window's handler on the thread of the receiver object (the UI thread), in
// posting order, through queued invocation.
//
// Posting never waits for the UI thread: a post appends to the sink's own queue and, when the
// queue was empty, queues one wake-up call to the UI thread. The wake-up drains the queue in
// slices of at most kSliceMs and queues itself again when messages remain, so a flood of
// progress notifications from eight devices leaves room for painting and input between slices
// instead of queuing one Qt event per notification ahead of every repaint.
//
// The sink must outlive every producer that posts to it (workers are joined and hot-plug
// subscriptions reset before it goes). Messages still queued when it is destroyed are dropped.

#include "platform/messages/message_sink.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace kestrel::app {

class QtMessageSink : public platform::MessageSink {
public:
    using Handler = std::function<void(const platform::WindowMessage&)>;
    static constexpr std::chrono::milliseconds kSliceMs{8};

    // receiver: an object of the UI thread; the handler runs on its thread.
    QtMessageSink(QObject* receiver, Handler handler);
    ~QtMessageSink() override;
    QtMessageSink(const QtMessageSink&) = delete;
    QtMessageSink& operator=(const QtMessageSink&) = delete;

    void Post(platform::WindowMessage message) override;

    platform::WindowHandle Handle() { return platform::ToWindowHandle(this); }

    // Hands every queued message to the handler now, on the calling (UI) thread; returns how
    // many were handled.
    std::size_t DrainAll();
    std::size_t Pending() const;
    // Messages handed to the handler so far.
    std::uint64_t Handled() const { return handled_.load(std::memory_order_relaxed); }

private:
    // Handles queued messages for at most one slice; true when messages remain.
    bool DrainSlice(std::chrono::steady_clock::duration budget);
    void Wake();

    std::unique_ptr<QObject> context_; // the queued wake-ups die with it
    Handler handler_;
    mutable std::mutex lock_;
    std::deque<platform::WindowMessage> queue_;
    bool wakeQueued_ = false;
    std::atomic<std::uint64_t> handled_{0};
};

} // namespace kestrel::app
