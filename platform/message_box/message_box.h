#pragma once
// Message box: a modal box with an OK button, shown by whichever thread meets the error. The
// front end installs the handler: the window shows a modal box on the UI thread and blocks the
// calling worker until the operator confirms, the command line prints to stderr, tests record.
// Without a handler the text goes to stderr.

#include <functional>
#include <string>

namespace kestrel::platform {

using MessageBoxHandler = std::function<void(const std::string& text, const std::string& caption)>;

// Shows the text and returns once it was confirmed.
void ShowMessageBox(const std::string& text, const std::string& caption = {});

// Installs a handler (an empty one restores the default) and returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

} // namespace kestrel::platform
