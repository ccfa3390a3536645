#include "platform/interrupt/interrupt.h"

#include <atomic>
#include <csignal>

namespace kestrel::platform {
namespace {

std::atomic<int> requests{0};
struct sigaction previousInt {};
struct sigaction previousTerm {};

// Async-signal-safe: a lock-free counter, and on the second request the default action.
extern "C" void OnInterrupt(int signal) {
    if (requests.fetch_add(1) >= 1) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

} // namespace

InterruptWatch::InterruptWatch() {
    requests.store(0);
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

InterruptWatch::~InterruptWatch() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
}

bool InterruptWatch::Requested() const {
    return requests.load() > 0;
}

} // namespace kestrel::platform
