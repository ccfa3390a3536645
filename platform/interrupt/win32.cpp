#include "platform/interrupt/interrupt.h"

#include <windows.h>

#include <atomic>

namespace kestrel::platform {
namespace {

std::atomic<int> requests{0};

BOOL WINAPI OnConsoleEvent(DWORD) {
    if (requests.fetch_add(1) >= 1) {
        return FALSE; // the next handler (the default) ends the process
    }
    return TRUE;
}

} // namespace

InterruptWatch::InterruptWatch() {
    requests.store(0);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptWatch::~InterruptWatch() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}

bool InterruptWatch::Requested() const {
    return requests.load() > 0;
}

} // namespace kestrel::platform
