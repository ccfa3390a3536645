#include "app/qt_message_sink.h"

#include <QMetaObject>

#include <utility>

namespace kestrel::app {

QtMessageSink::QtMessageSink(QObject* receiver, Handler handler)
    : context_(std::make_unique<QObject>()), handler_(std::move(handler)) {
    context_->moveToThread(receiver->thread());
}

QtMessageSink::~QtMessageSink() = default;

void QtMessageSink::Post(platform::WindowMessage message) {
    bool wake = false;
    {
        std::lock_guard guard(lock_);
        queue_.push_back(std::move(message));
        if (!wakeQueued_) {
            wakeQueued_ = true;
            wake = true;
        }
    }
    if (wake) {
        Wake();
    }
}

void QtMessageSink::Wake() {
    QMetaObject::invokeMethod(
        context_.get(),
        [this] {
            if (DrainSlice(kSliceMs)) {
                Wake(); // behind the paint and input events queued meanwhile
            }
        },
        Qt::QueuedConnection);
}

bool QtMessageSink::DrainSlice(std::chrono::steady_clock::duration budget) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        platform::WindowMessage message;
        {
            std::lock_guard guard(lock_);
            if (queue_.empty()) {
                wakeQueued_ = false;
                return false;
            }
            message = std::move(queue_.front());
            queue_.pop_front();
        }
        message.Bind();
        handler_(message);
        handled_.fetch_add(1, std::memory_order_relaxed);
        if (std::chrono::steady_clock::now() - start >= budget) {
            return true;
        }
    }
}

std::size_t QtMessageSink::DrainAll() {
    std::size_t handled = 0;
    for (;;) {
        platform::WindowMessage message;
        {
            std::lock_guard guard(lock_);
            if (queue_.empty()) {
                return handled;
            }
            message = std::move(queue_.front());
            queue_.pop_front();
        }
        message.Bind();
        handler_(message);
        handled_.fetch_add(1, std::memory_order_relaxed);
        ++handled;
    }
}

std::size_t QtMessageSink::Pending() const {
    std::lock_guard guard(lock_);
    return queue_.size();
}

} // namespace kestrel::app
