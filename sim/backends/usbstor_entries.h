#pragma once
// The device-registry entries Windows makes when a USB mass-storage disk is first installed,
// made for a simulated device so that the registry clean-up of the station finds what it would
// find on a real system:
//
//   HKLM\SYSTEM\CurrentControlSet\Enum\USBSTOR\Disk&Ven_<v>&Prod_<p>&Rev_<r>\<instance>
//       DeviceDesc, FriendlyName, Class, ClassGUID, Service (strings)
//       subkey "Device Parameters"
//       subkey "Properties": its access list grants local system alone (the owner keeps the
//                            right to rewrite the list), as Windows protects it
//
// <v>, <p> and <r> are the inquiry strings trimmed, with blanks turned into '_'. Entries
// already present are left as they are (Windows keeps them across unplugging).

#include "sim/sim_api.h"
#include <string>
#include <string_view>

namespace kestrel::sim::backends {

// "Disk&Ven_<vendor>&Prod_<product>&Rev_<revision>".
KESTREL_SIM_API std::string UsbStorDeviceKeyName(std::string_view vendor, std::string_view product,
                                                 std::string_view revision);

// Makes the entries of one disk; true when they are present afterwards.
KESTREL_SIM_API bool RecordUsbStorEntries(std::string_view vendor, std::string_view product,
                                          std::string_view revision, std::string_view instance,
                                          std::string_view friendlyName);

} // namespace kestrel::sim::backends
