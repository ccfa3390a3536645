#pragma once
// The Windows backend: disks of the disk interface class found with SetupAPI, opened with
// CreateFile on their interface path, driven with IOCTL_SCSI_PASS_THROUGH_DIRECT (sense data
// requested, the adapter's alignment and maximum transfer length honoured), and followed through
// device-change notifications delivered to a message-only window.
//
// The backend's logic (windows_backend.cpp) goes through a table of the system calls it makes,
// so that tests drive it with a faked table on every platform; win32_calls.cpp supplies the real
// table on Windows. Only interfaces whose path names the production model (USBSTOR, vendor
// "USB DISK", product "MASS STORAGE") are listed, opened or reported; nothing is sent to a handle
// the backend did not open.
//
// Error codes are Windows error numbers: the system call's own code, kErrorNotConnected (1167)
// for a device removed since it was opened, kErrorGenFailure (31) for a command the device
// answered with a status other than GOOD (CHECK CONDITION included: a rejected command never
// passes as a success), kErrorInvalidParameter (87) for a transfer larger than the adapter takes.

#include "platform/devices/devices.h"
#include "platform/export.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform::devices {

// Control codes and Windows error numbers the backend uses (winioctl.h, ntddscsi.h, winerror.h).
inline constexpr std::uint32_t kIoctlScsiPassThroughDirect = 0x0004D014;
inline constexpr std::uint32_t kIoctlStorageQueryProperty = 0x002D1400;
inline constexpr std::uint32_t kWinErrorNoSuchDevice = 433;
inline constexpr std::uint32_t kWinErrorDeviceRemoved = 1617;

// Data directions of the pass-through record.
inline constexpr std::uint8_t kScsiDataOut = 0;
inline constexpr std::uint8_t kScsiDataIn = 1;
inline constexpr std::uint8_t kScsiDataUnspecified = 2;

inline constexpr std::size_t kSenseBufferLength = 32;

// SCSI_PASS_THROUGH_DIRECT in its native layout (win32_calls.cpp checks it against the system's
// header), followed by the sense buffer that SenseInfoOffset points at.
struct PassThroughDirect {
    std::uint16_t length = 0;
    std::uint8_t scsiStatus = 0;
    std::uint8_t pathId = 0;
    std::uint8_t targetId = 0;
    std::uint8_t lun = 0;
    std::uint8_t cdbLength = 0;
    std::uint8_t senseInfoLength = 0;
    std::uint8_t dataIn = 0;
    std::uint32_t dataTransferLength = 0;
    std::uint32_t timeOutValue = 0;
    void* dataBuffer = nullptr;
    std::uint32_t senseInfoOffset = 0;
    std::uint8_t cdb[16] = {};
};

struct PassThroughWithSense {
    PassThroughDirect request;
    std::uint32_t filler = 0;
    std::uint8_t sense[kSenseBufferLength] = {};
};

// STORAGE_PROPERTY_QUERY for the adapter descriptor, and the head of STORAGE_ADAPTER_DESCRIPTOR.
struct StoragePropertyQuery {
    std::uint32_t propertyId = 1; // StorageAdapterProperty
    std::uint32_t queryType = 0;  // PropertyStandardQuery
    std::uint8_t additional[1] = {};
};

struct StorageAdapterDescriptor {
    std::uint32_t version = 0;
    std::uint32_t size = 0;
    std::uint32_t maximumTransferLength = 0;
    std::uint32_t maximumPhysicalPages = 0;
    std::uint32_t alignmentMask = 0;
};

struct WindowsDiskInterface {
    std::string path;         // device interface path as SetupAPI gives it
    std::string friendlyName; // the device's friendly name, "" when it has none
};

using NativeHandle = std::intptr_t; // -1: none

// The system calls the backend makes, replaceable by tests.
struct WindowsSystemCalls {
    // The present interfaces of the disk interface class (SetupDiGetClassDevs with
    // DIGCF_PRESENT | DIGCF_DEVICEINTERFACE, then each interface's detail and its device's
    // friendly name). False with error set when the list cannot be had.
    std::function<bool(std::vector<WindowsDiskInterface>& disks, std::uint32_t& error)> listDisks;
    // CreateFileA for reading and writing, shared, of an existing path; -1 with error set.
    std::function<NativeHandle(const std::string& path, std::uint32_t& error)> createFile;
    std::function<void(NativeHandle handle)> closeHandle;
    // DeviceIoControl; false with error set.
    std::function<bool(NativeHandle handle, std::uint32_t code, void* in, std::uint32_t inSize,
                       void* out, std::uint32_t outSize, std::uint32_t& returned,
                       std::uint32_t& error)>
        deviceIoControl;
    // Starts a thread with a message-only window registered for the disk interface class's
    // device-change notifications; sink receives each one's event and interface name until
    // stopNotifications returns. False when the window cannot be made.
    std::function<bool(BackendEventSink sink)> startNotifications;
    std::function<void()> stopNotifications;
};

// Whether an interface path is a USB mass-storage disk of the production model.
KESTREL_PLATFORM_API bool IsModelInterfacePath(std::string_view path);

KESTREL_PLATFORM_API std::shared_ptr<Backend> MakeWindowsBackend(WindowsSystemCalls calls);

#if defined(_WIN32)
// The real system calls (win32_calls.cpp).
KESTREL_PLATFORM_API WindowsSystemCalls RealWindowsSystemCalls();
#endif

} // namespace kestrel::platform::devices
