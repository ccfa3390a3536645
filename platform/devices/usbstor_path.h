#pragma once
// The Windows form of a USB mass-storage disk's interface path and friendly name, built from the
// disk's SCSI inquiry strings and its instance part. Every backend presents its devices this way
// so the device-set logic that reduces paths to identities runs unchanged.

#include "platform/export.h"
#include <string>
#include <string_view>

namespace kestrel::platform::devices {

// \\?\usbstor#disk&ven_<vendor>&prod_<product>&rev_<revision>#<instance>#{53f56307-...}, in
// lower case, with blanks inside each field turned into '_' and surrounding blanks dropped.
// Characters that would break the path's fields ('#', '\\', '&' in the inquiry strings, '#' and
// '\\' in the instance) become '_' as well.
KESTREL_PLATFORM_API std::string UsbStorInterfacePath(std::string_view vendor,
                                                      std::string_view product,
                                                      std::string_view revision,
                                                      std::string_view instance);

// The instance part of a USB disk's path on Linux and in the simulation: "<serial>&<port>&<lun>",
// or "kestrel&<port>&<lun>" when the device reports no USB serial. The port (the USB port path,
// e.g. "1-1.2") keeps it unique among present devices even when units of one batch share a
// serial, and lets a unit that restarts on its port be found again.
KESTREL_PLATFORM_API std::string UsbStorInstance(std::string_view serial, std::string_view port,
                                                 std::string_view lun);

// "<vendor> <product> USB Device", each inquiry string trimmed.
KESTREL_PLATFORM_API std::string UsbStorFriendlyName(std::string_view vendor,
                                                     std::string_view product);

// Upper-case copy (ASCII), as the device set keeps paths and identities.
KESTREL_PLATFORM_API std::string ToUpperAscii(std::string_view text);

// Equality without regard to ASCII case.
KESTREL_PLATFORM_API bool EqualsIgnoreCase(std::string_view a, std::string_view b);

} // namespace kestrel::platform::devices
