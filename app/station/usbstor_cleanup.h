#pragma once
// "Clear Registry": removes the production model's mass-storage entries from the device
// registry (HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USBSTOR) through VantorDll's
// GetRegDir and DelRegDir, so that the system enumerates the devices afresh.
//
// Each direct subkey of USBSTOR, in the ascending order GetRegDir lists them, is compared in an
// upper-case copy (ASCII letters only, so the bytes of multi-byte characters stay as they are)
// with kProductionDiskPattern; a match is deleted with everything below it under the name as
// listed. Keys that cannot be deleted are passed over. Runs on the calling thread (the page's
// UI thread, with its button disabled around the call).

#include <string>
#include <vector>

namespace kestrel::station {

inline constexpr const char* kUsbStorKey = "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";
inline constexpr const char* kProductionDiskPattern = "DISK&VEN_USB_DISK&PROD_MASS_STORAGE";

// Returns the key paths handed to DelRegDir, in order.
std::vector<std::string> ClearUsbStorRegistry();

} // namespace kestrel::station
