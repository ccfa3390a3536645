#pragma once
// Tells the operator why present devices of the model cannot be used (no udev rule, no rights,
// no SCSI generic node), so that a run that programs nothing says "no access" rather than
// "no device".

#include <cstdio>

namespace kestrel::cli {

// Prints one line per present device of the model that cannot be opened, naming its node, what
// is lacking and the udev rule to install. Returns the number of such devices.
int ReportInaccessibleDevices(std::FILE* out);

} // namespace kestrel::cli
