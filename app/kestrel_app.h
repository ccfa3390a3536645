#pragma once
// CKestrelApp, the application object: initialises the device set, shows the main dialog
// modally and ends the program when it closes. The message boxes of every thread are shown by
// the window for the dialog's lifetime.
//
// The original program also sets up the common controls and a settings registry key; Qt needs
// neither, and the station keeps no setting in the registry.

#include "app/station/station_library.h"

namespace kestrel::app {

class CKestrelApp {
public:
    // Runs the program on the given library table; returns the process exit code. Needs a
    // QApplication.
    int Run(station::StationLibrary library);
};

} // namespace kestrel::app
