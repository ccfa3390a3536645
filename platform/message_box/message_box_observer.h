#pragma once
// Observers of the message boxes: they learn of every box as it is raised, before the installed
// handler shows it, on the raising thread. Whoever must know what was reported (the run's result
// per device) observes, whatever handler shows the boxes. An observer must not block and must
// stay valid until it is removed.

#include "platform/export.h"

#include <functional>
#include <string>

namespace kestrel::platform {

using MessageBoxObserver = std::function<void(const std::string& text)>;

// Returns an id for RemoveMessageBoxObserver.
KESTREL_PLATFORM_API int AddMessageBoxObserver(MessageBoxObserver observer);
KESTREL_PLATFORM_API void RemoveMessageBoxObserver(int id);

} // namespace kestrel::platform
