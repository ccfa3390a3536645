#pragma once
// Interrupt requests: the operator's Ctrl-C at the terminal, or the system asking the program to
// end (SIGTERM on Linux, a console close or shutdown event on Windows). While an InterruptWatch
// lives, the first request is only counted, so that the program can stop its work at a safe
// point and still write what it owes (summary, records); a second request ends the process at
// once, as an unwatched one would. Without a watch the system's default applies.

#include "platform/export.h"

namespace kestrel::platform {

class KESTREL_PLATFORM_API InterruptWatch {
public:
    InterruptWatch();  // installs the handlers; at most one watch at a time
    ~InterruptWatch(); // restores the previous handling
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // Whether an interrupt was requested since the watch began (any thread).
    bool Requested() const;
};

} // namespace kestrel::platform
