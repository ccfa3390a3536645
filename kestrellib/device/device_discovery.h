#pragma once
// Keeping the device set current: the start-up enumeration of present devices, the arrival and
// removal notifications, and closing every device. These are the bodies of the exports
// EnumUsbStorDevice, ParseDeviceChange and CloseAllDevice.

#include "platform/messages/message_sink.h"

#include <cstdint>
#include <string>

namespace kestrel::device {

// The friendly-name text that marks a device of the production model (case-sensitive).
inline constexpr const char* kModelFriendlyName = "USB DISK MASS STORAGE";
// What the reduced part of an interface name must contain for a notification to concern us.
inline constexpr const char* kModelDevIdPart = "USBSTOR\\DISK&VEN_USB_DISK&PROD_MASS_STORAGE";

// Registers every present interface whose friendly name contains kModelFriendlyName (path
// upper-cased). -1 when the interface list cannot be obtained, otherwise 1.
int EnumerateDevices();

// Handles one device-change notification: `event` the notification code, `record` the
// device-interface broadcast record (read only within its size field, never past it). 1 for
// events not handled and for a registered arrival or a closed removal; 0 for an arrival or
// removal that does not concern a device of the model, or a removal of a path not in the set.
int HandleDeviceChange(std::uint32_t event, const void* record);

// Closes every registered device from the last to the first, posting WM_ISP_STATUS with
// wParam 8 after each one to `window`.
void CloseAllDevices(platform::WindowHandle window);

} // namespace kestrel::device
