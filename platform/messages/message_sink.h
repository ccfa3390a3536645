#pragma once
// Window messages: a window handle is a pointer to a MessageSink. Producers on any thread post
// (message, wParam, lParam) to it; posting never blocks on the consumer. A message may carry a
// small payload (a ProgressRecord, for instance) copied into the message itself: the consumer
// then receives lParam pointing at that copy, valid while it handles the message, so the
// producer's own record may change or die as soon as the post returns.

#include "platform/export.h"
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace kestrel::platform {

struct WindowMessage {
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
    std::vector<unsigned char> payload; // owned copy; when non-empty lParam points into it

    // Re-points lParam at the payload after the message was moved or copied.
    void Bind() {
        if (!payload.empty()) {
            lParam = reinterpret_cast<std::intptr_t>(payload.data());
        }
    }
};

class KESTREL_PLATFORM_API MessageSink {
public:
    virtual ~MessageSink() = default;
    // Called on the producing thread; must not block on the consumer.
    virtual void Post(WindowMessage message) = 0;
};

// A sink that queues messages for a consumer thread to take in posting order (the order of all
// posts, hence also of each producing thread's posts).
class KESTREL_PLATFORM_API QueueSink : public MessageSink {
public:
    void Post(WindowMessage message) override;
    // Takes the oldest message, waiting up to timeoutMs; nullopt when none arrived.
    std::optional<WindowMessage> Take(std::uint32_t timeoutMs);
    // Takes the oldest message without waiting.
    std::optional<WindowMessage> TryTake();
    std::size_t Size() const;

private:
    mutable std::mutex lock_;
    std::condition_variable ready_;
    std::deque<WindowMessage> queue_;
};

using WindowHandle = void*; // a MessageSink*, or null

// Posts to the sink behind handle; false when the handle is null.
KESTREL_PLATFORM_API bool PostWindowMessage(WindowHandle window, std::uint32_t message,
                                            std::uintptr_t wParam, std::intptr_t lParam);

// Posts with a copy of size bytes at data owned by the message.
KESTREL_PLATFORM_API bool PostWindowMessageCopy(WindowHandle window, std::uint32_t message,
                                                std::uintptr_t wParam, const void* data,
                                                std::size_t size);

inline WindowHandle ToWindowHandle(MessageSink* sink) {
    return static_cast<void*>(sink);
}

} // namespace kestrel::platform
