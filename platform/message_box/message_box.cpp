#include "platform/message_box/message_box.h"
#include "platform/message_box/message_box_observer.h"

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace kestrel::platform {
// Process-wide state. It exists once per process because it lives only in KestrelPlatform, the
// shared library every module calls into; the accessor itself is not exported.
namespace detail {

struct BoxState {
    std::mutex lock;
    std::shared_ptr<const MessageBoxHandler> handler;
    std::map<int, std::shared_ptr<const MessageBoxObserver>> observers;
    int nextObserver = 1;
};

BoxState& MessageBoxStateInstance() {
    static BoxState state;
    return state;
}

int& ThreadDeviceInstance() {
    thread_local int device = -1;
    return device;
}

} // namespace detail

void ShowMessageBox(const std::string& text, const std::string& caption) {
    std::shared_ptr<const MessageBoxHandler> handler;
    std::vector<std::shared_ptr<const MessageBoxObserver>> observers;
    {
        std::lock_guard guard(detail::MessageBoxStateInstance().lock);
        handler = detail::MessageBoxStateInstance().handler;
        for (const auto& [id, observer] : detail::MessageBoxStateInstance().observers) {
            observers.push_back(observer);
        }
    }
    for (const auto& observer : observers) {
        (*observer)(text);
    }
    // The handler runs outside the lock: it may block until the operator confirms.
    if (handler && *handler) {
        (*handler)(text, caption);
        return;
    }
    std::fprintf(stderr, "%s%s", text.c_str(), (!text.empty() && text.back() == '\n') ? "" : "\n");
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
    auto next = handler ? std::make_shared<const MessageBoxHandler>(std::move(handler)) : nullptr;
    std::lock_guard guard(detail::MessageBoxStateInstance().lock);
    auto previous = std::exchange(detail::MessageBoxStateInstance().handler, std::move(next));
    return previous ? *previous : MessageBoxHandler{};
}

int MessageBoxDevice() {
    return detail::ThreadDeviceInstance();
}

MessageBoxDeviceScope::MessageBoxDeviceScope(int device)
    : previous_(detail::ThreadDeviceInstance()) {
    detail::ThreadDeviceInstance() = device;
}

MessageBoxDeviceScope::~MessageBoxDeviceScope() {
    detail::ThreadDeviceInstance() = previous_;
}

int AddMessageBoxObserver(MessageBoxObserver observer) {
    auto& state = detail::MessageBoxStateInstance();
    std::lock_guard guard(state.lock);
    const int id = state.nextObserver++;
    state.observers.emplace(id, std::make_shared<const MessageBoxObserver>(std::move(observer)));
    return id;
}

void RemoveMessageBoxObserver(int id) {
    auto& state = detail::MessageBoxStateInstance();
    std::lock_guard guard(state.lock);
    state.observers.erase(id);
}

} // namespace kestrel::platform
