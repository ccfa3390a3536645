#include "platform/messages/message_sink.h"

#include <chrono>
#include <cstring>

namespace kestrel::platform {

void QueueSink::Post(WindowMessage message) {
    {
        std::lock_guard guard(lock_);
        queue_.push_back(std::move(message));
        queue_.back().Bind();
    }
    ready_.notify_one();
}

std::optional<WindowMessage> QueueSink::Take(std::uint32_t timeoutMs) {
    std::unique_lock guard(lock_);
    if (!ready_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                         [this] { return !queue_.empty(); })) {
        return std::nullopt;
    }
    WindowMessage message = std::move(queue_.front());
    queue_.pop_front();
    message.Bind();
    return message;
}

std::optional<WindowMessage> QueueSink::TryTake() {
    std::lock_guard guard(lock_);
    if (queue_.empty()) {
        return std::nullopt;
    }
    WindowMessage message = std::move(queue_.front());
    queue_.pop_front();
    message.Bind();
    return message;
}

std::size_t QueueSink::Size() const {
    std::lock_guard guard(lock_);
    return queue_.size();
}

bool PostWindowMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                       std::intptr_t lParam) {
    if (window == nullptr) {
        return false;
    }
    static_cast<MessageSink*>(window)->Post(WindowMessage{message, wParam, lParam, {}});
    return true;
}

bool PostWindowMessageCopy(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                           const void* data, std::size_t size) {
    if (window == nullptr) {
        return false;
    }
    WindowMessage m{message, wParam, 0, {}};
    m.payload.resize(size == 0 ? 1 : size);
    if (size > 0) {
        std::memcpy(m.payload.data(), data, size);
    }
    m.Bind();
    static_cast<MessageSink*>(window)->Post(std::move(m));
    return true;
}

} // namespace kestrel::platform
