#pragma once
// Message box: a modal box with an OK button, shown by whichever thread meets the error. The
// front end installs the handler: the window shows the box on the UI thread and blocks the
// calling worker until the operator confirms, the command line prints to stderr, tests record.
// Without a handler the text goes to stderr.
//
// A thread working for one device (an ISP worker) names its device for the boxes it raises with
// MessageBoxDeviceScope, so that a handler can tell whose box it shows even when the text does
// not begin with the device index.

#include "platform/export.h"
#include <functional>
#include <string>

namespace kestrel::platform {

using MessageBoxHandler = std::function<void(const std::string& text, const std::string& caption)>;

// Shows the text and returns once it was confirmed.
KESTREL_PLATFORM_API void ShowMessageBox(const std::string& text, const std::string& caption = {});

// Installs a handler (an empty one restores the default) and returns the previous one.
KESTREL_PLATFORM_API MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The device the calling thread works for, or -1 when it names none.
KESTREL_PLATFORM_API int MessageBoxDevice();

// Names the calling thread's device for as long as the scope lives.
class KESTREL_PLATFORM_API MessageBoxDeviceScope {
public:
    explicit MessageBoxDeviceScope(int device);
    ~MessageBoxDeviceScope();
    MessageBoxDeviceScope(const MessageBoxDeviceScope&) = delete;
    MessageBoxDeviceScope& operator=(const MessageBoxDeviceScope&) = delete;

private:
    int previous_;
};

} // namespace kestrel::platform
