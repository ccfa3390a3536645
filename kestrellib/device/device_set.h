#pragma once
// The device set: the process-wide table of up to 64 open devices of the production model, in
// registration order and always dense (removing an entry moves every later one down, so a
// device's index can change when an earlier device goes away). Each entry holds the device
// handle, its interface path and its reduced identity (DevId), both upper case. The table owns
// its handles: a handle leaves it only through CloseDevice or by being replaced.
//
// A unit is its DevId (model and revision) together with the instance part of its interface
// path (the USB port, and the USB serial where the unit has one, on Linux; the instance Windows
// gives it there). Units of one production batch report one revision and so share a DevId; they
// are told apart by their instance, so two present devices are never merged. An arrival of a
// device already in the table with the same instance replaces its entry.
//
// One lock serialises every change and every read of the table, so the UI thread (enumeration,
// device-change notifications), a demo-copy thread (CloseAllDevice) and the workers (index and
// handle look-ups) may meet. A registration beyond 64 devices is refused: the new handle is
// handed back to the caller, who closes it, and nothing is written past the table.

#include "platform/devices/devices.h"

#include <string>
#include <string_view>

namespace kestrel::device {

using DeviceHandle = platform::devices::DeviceHandle;

inline constexpr int kDeviceSetCapacity = 64;
inline constexpr int kUnknownDeviceIndex = 1234; // DeviceIndexOf of a handle not in the set

// The reduced identity of an interface path: every "\\?\" removed, cut before the last '#'
// twice, '#' replaced by '\', upper case. USBSTOR\DISK&VEN_USB_DISK&PROD_MASS_STORAGE&REV_1.00
// for the production model at revision 1.00: it names model and revision, not the device.
std::string DevIdFromPath(std::string_view path);

// The instance part of an interface path: what lies between its last two '#', upper case; "" when
// the path has fewer than two '#'.
std::string InstanceFromPath(std::string_view path);

// Empties the table (count 0, null handles, empty strings) without closing anything.
void InitDeviceSet();

// Opens the device of `path` and registers it; a handle it replaces is closed. False only when
// the path does not contain "USBSTOR" (nothing is opened then); true also when the open failed.
bool OpenAndRegisterDevice(const std::string& path);

// Adds an entry, or replaces the entry with an equal DevId and the same instance part of the
// path (count unchanged). Returns the
// handle the table no longer holds, for the caller to close: the replaced one, or `handle`
// itself when the table is full; null when a new entry was added.
DeviceHandle RegisterDevice(DeviceHandle handle, const std::string& path, const std::string& devId);

// Closes the handle and removes its entry (when it has one). False when the handle is null or
// closing it failed; the entry then stays.
bool CloseDevice(DeviceHandle handle);

// The handle of the first entry whose path equals `path` upper-cased; null when none.
DeviceHandle FindDeviceByPath(const std::string& path);

// The handle of the first entry whose DevId equals `devId` upper-cased; null when none.
DeviceHandle FindDeviceByDevId(const std::string& devId);

// The present handle of the unit that `previous` was opened on, after that unit may have
// restarted and re-enumerated under a new handle: the entry with the DevId `devId` and the same
// instance (port) as the path `previous` had. Falls back to the reduced identity alone only when
// the port of `previous` is not known (a null or foreign handle) and exactly one entry has
// `devId`; null when nothing fits (yet). The paths of handles that left the table are
// remembered (the most recent kDepartedMemory of them) for this search.
DeviceHandle FindRestartedDevice(const std::string& devId, DeviceHandle previous);
inline constexpr std::size_t kDepartedMemory = 256;

// The index of the first entry holding the handle; kUnknownDeviceIndex when none.
int DeviceIndexOf(DeviceHandle handle);

// The same, or for a handle that left the table the index its entry had then (what a message
// about a device that was just removed shows); kUnknownDeviceIndex when neither.
int DeviceIndexOrLastOf(DeviceHandle handle);

// The path of the entry holding the handle, or for a handle that left the table the path it
// had; "" when neither.
std::string DevicePathOf(DeviceHandle handle);

int DeviceCount();
// The entry's handle, DevId and path; null and "" for an index out of range.
DeviceHandle DeviceHandleAt(int index);
std::string DeviceDevIdAt(int index);
std::string DevicePathAt(int index);

} // namespace kestrel::device
