#pragma once
// Devices: the station's only way to a device. It lists the present disk interfaces of the
// production model with their interface paths and friendly names, opens and closes them, sends
// one SCSI command block with its data to an open device, and announces arrivals and removals
// as device-interface broadcast records.
//
// Interface paths have the Windows form on every platform,
//   \\?\usbstor#disk&ven_<vendor>&prod_<product>&rev_<revision>#<instance>#{53f56307-...}
// so the device-set logic above this layer runs unchanged.
//
// Handles are opaque values (like a Windows HANDLE) that this layer gives out and takes back;
// they are never dereferenced above it. A handle value is never given out twice, so a stale
// handle can only fail with kErrorInvalidHandle, never reach another device. A command in
// flight keeps its device open even when another thread closes the handle meanwhile.
//
// Backends (one file each): linux.cpp (sysfs scan, SG_IO on /dev/sgN, libudev monitor),
// win32.cpp, and the simulated devices' backend, which sim/backends/ implements and installs.
// The backend is chosen once per process: an installed one, or the default factory's on first
// use (the real backend unless the simulated station set another); tests may install a backend
// of their own. The selection and the handle table are process-wide: every module of the
// process sees the same.

#include "platform/export.h"
#include "platform/messages/message_sink.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestrel::platform::devices {

using DeviceHandle = void*;

// The disk interface class of the interface paths and broadcast records.
inline constexpr const char* kDiskInterfaceClass = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";

// What identifies the production model: the SCSI vendor and product of its inquiry data.
inline constexpr const char* kModelVendor = "USB DISK";
inline constexpr const char* kModelProduct = "MASS STORAGE";

// Error codes this layer reports for conditions it detects itself (Windows numbering, so the
// operator reads the same number on every platform). Backends report the operating system's
// own codes for everything else (errno on Linux; the configured code on simulated devices).
inline constexpr int kErrorInvalidHandle = 6;     // handle unknown or already closed
inline constexpr int kErrorGenFailure = 31;       // device rejected the command
inline constexpr int kErrorNotConnected = 1167;   // device gone since it was opened
inline constexpr int kErrorFileNotFound = 2;      // no present device has that path
inline constexpr int kErrorInvalidParameter = 87; // malformed request

struct InterfaceInfo {
    std::string path;         // interface path, Windows form (lower case as listed)
    std::string friendlyName; // e.g. "USB DISK MASS STORAGE USB Device"
};

// A present device of the model that this process cannot use, and why.
struct AccessProblem {
    std::string path;   // interface path, as Enumerate lists it
    std::string node;   // the node that cannot be used ("/dev/sg2"); "" when there is none
    std::string reason; // what is lacking and how to grant it, in words
};

// The file name of the udev rule that grants the operator the devices' nodes.
inline constexpr const char* kUdevRuleName = "70-kestrel-station.rules";

enum class Direction : std::uint8_t {
    kNone, // no data phase
    kIn,   // device to host, into buffer
    kOut,  // host to device, from buffer
};

// One SCSI command with its data phase.
struct ScsiRequest {
    const std::uint8_t* cdb = nullptr;
    std::uint8_t cdbLength = 0; // 6..16
    Direction direction = Direction::kNone;
    void* buffer = nullptr; // kIn: filled; kOut: read only
    std::uint32_t length = 0;
    std::uint32_t timeoutSeconds = 60;
};

// Device-change events (the wParam of a device-change notification).
inline constexpr std::uint32_t kDeviceArrival = 0x8000;           // DBT_DEVICEARRIVAL
inline constexpr std::uint32_t kDeviceQueryRemove = 0x8001;       // DBT_DEVICEQUERYREMOVE
inline constexpr std::uint32_t kDeviceQueryRemoveFailed = 0x8002; // DBT_DEVICEQUERYREMOVEFAILED
inline constexpr std::uint32_t kDeviceRemovePending = 0x8003;     // DBT_DEVICEREMOVEPENDING
inline constexpr std::uint32_t kDeviceRemoveComplete = 0x8004;    // DBT_DEVICEREMOVECOMPLETE
inline constexpr std::uint32_t kDeviceTypeInterface = 5;          // DBT_DEVTYP_DEVICEINTERFACE
// The window message that carries a device change (WM_DEVICECHANGE).
inline constexpr std::uint32_t kDeviceChangeMessage = 0x0219;
// Offset of the NUL-terminated interface name in a device-interface broadcast record (after
// size, device type, reserved and the 16-byte class identifier).
inline constexpr std::size_t kBroadcastNameOffset = 28;

// Builds the device-interface broadcast record for an interface name: u32 size, u32 device type
// 5, u32 reserved, the disk interface class identifier, the name and its NUL.
KESTREL_PLATFORM_API std::vector<unsigned char>
MakeInterfaceBroadcast(const std::string& interfaceName);

// ---------------------------------------------------------------------------------------------
// The operations table every backend implements. Each entry says who calls it, on which thread
// and what it may return.

// One open device. Destroying it closes the device.
class KESTREL_PLATFORM_API Connection {
public:
    virtual ~Connection() = default;
    // Called by Send below, on the thread of the device's worker (one request at a time per
    // handle; different handles from different threads at once). Returns 0 on success or the
    // error code of the failure: the OS error of the pass-through (errno on Linux), a device
    // status that is not GOOD as an I/O error, kErrorNotConnected once the device is gone.
    virtual int Send(const ScsiRequest& request) = 0;
    // Called by Send below after a failure, on the same thread. Whether `error` says the device
    // has vanished (unplugged, cable pulled): the layer then fails every further command on the
    // handle at once. The default knows kErrorNotConnected.
    virtual bool IsGoneError(int error) const { return error == kErrorNotConnected; }
};

// What a backend's hot-plug monitor reports: an event code above and the interface path.
using BackendEventSink = std::function<void(std::uint32_t event, const std::string& path)>;

class KESTREL_PLATFORM_API Backend {
public:
    virtual ~Backend() = default;
    virtual const char* Name() const = 0;
    // Called by Enumerate below, on the UI thread. Fills the present disk interfaces of the
    // production model (a real backend never lists another disk). False when the list cannot
    // be obtained.
    virtual bool Enumerate(std::vector<InterfaceInfo>& interfaces) = 0;
    // Called by Open below, any thread. Opens the device whose interface path equals `path`
    // (compared without regard to case) and that is of the production model; anything else is
    // refused without opening. On failure returns null and sets error.
    virtual std::unique_ptr<Connection> Open(const std::string& path, int& error) = 0;
    // Called when the first hot-plug subscriber arrives (any thread). The backend calls sink
    // from a thread of its own (or from the thread that caused a simulated change) for every
    // arrival and removal of a device of the model, until StopMonitor returns. False when the
    // monitor cannot be started. The layer calls StartMonitor and StopMonitor holding none of
    // the locks the sink takes, so a backend may call the sink under its own locks (one lock
    // order: the layer's monitor lock, the backend's locks, the layer's other locks).
    virtual bool StartMonitor(BackendEventSink sink) = 0;
    // Called when the last subscriber leaves; after it returns the sink is not called again.
    virtual void StopMonitor() = 0;
    // Called by InaccessibleDevices below, any thread. The present devices of the model that
    // Open would refuse for lack of rights or of a device node; never opens a device.
    virtual std::vector<AccessProblem> AccessProblems() { return {}; }
};

// ---------------------------------------------------------------------------------------------
// The layer's calls, used by the device set and the vendor transport.

// Present disk interfaces of the model; false when the list cannot be obtained.
KESTREL_PLATFORM_API bool Enumerate(std::vector<InterfaceInfo>& interfaces);

// Opens a device by interface path; null on failure with *error set (error may be null).
KESTREL_PLATFORM_API DeviceHandle Open(const std::string& path, int* error = nullptr);

// Closes a handle; false when the handle is null or not open.
KESTREL_PLATFORM_API bool Close(DeviceHandle handle);

// Sends one command. 0 on success, otherwise the error code (kErrorInvalidHandle for a handle
// that is not open).
KESTREL_PLATFORM_API int Send(DeviceHandle handle, const ScsiRequest& request);

// Whether the device behind the handle is gone for good: the handle is not open (never was, or
// was closed, as the device set does on a removal), or a command on it failed with the error of
// a vanished device (Connection::IsGoneError). Every further Send on a handle gone that way
// fails at once with kErrorNotConnected, without reaching the device; callers stop retrying.
KESTREL_PLATFORM_API bool IsGone(DeviceHandle handle);

// Present devices of the model that cannot be opened for lack of rights or of a device node
// (the udev rule not installed, the operator not in the rule's group), so that a front end can
// tell "no access" apart from "no device".
KESTREL_PLATFORM_API std::vector<AccessProblem> InaccessibleDevices();

// Number of handles open now (for tests and diagnostics).
KESTREL_PLATFORM_API std::size_t OpenHandleCount();

// ---------------------------------------------------------------------------------------------
// Hot-plug. A subscriber receives (event, record): the event code and the device-interface
// broadcast record, valid for the call. Callbacks run on the backend's monitor thread (never
// the UI thread): a front end forwards them, for instance with SubscribeWindow.

using HotplugCallback = std::function<void(std::uint32_t event, const void* record)>;

class KESTREL_PLATFORM_API Subscription {
public:
    Subscription() = default;
    ~Subscription();
    Subscription(Subscription&& other) noexcept;
    Subscription& operator=(Subscription&& other) noexcept;
    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;
    bool Active() const { return id_ != 0; }
    void Reset(); // unsubscribes; once it returns the callback is not running and never runs

private:
    friend struct SubscriptionAccess; // the layer's own code, which hands subscriptions out
    explicit Subscription(std::uint64_t id) : id_(id) {}
    std::uint64_t id_ = 0;
};

// The record's interface name is the interface path in upper case, as Windows notifications
// give it ("\\?\USBSTOR#DISK&VEN_..."); the device set tests it for "USBSTOR" case-sensitively.
//
// Subscribes; an inactive subscription when the backend's monitor cannot be started.
KESTREL_PLATFORM_API Subscription Subscribe(HotplugCallback callback);

// Subscribes a window: every change is posted as kDeviceChangeMessage with wParam the event and
// lParam pointing at the message's own copy of the broadcast record (so the window's thread
// calls ParseDeviceChange(wParam, lParam) as it would on Windows).
KESTREL_PLATFORM_API Subscription SubscribeWindow(WindowHandle window);

// ---------------------------------------------------------------------------------------------
// Backend selection (process-wide).

// The backend in use: the one installed last, or on first use the default factory's.
KESTREL_PLATFORM_API std::shared_ptr<Backend> CurrentBackend();

// Installs a backend (tests, --simulate). Open handles stay with the backend that opened them;
// hot-plug subscriptions move to the new backend.
KESTREL_PLATFORM_API void UseBackend(std::shared_ptr<Backend> backend);

// The factory CurrentBackend calls on first use when no backend was installed: the platform's
// real backend unless a layer above sets another (the simulated station sets one that reads the
// environment, sim/backends/environment.h). Null restores the real backend.
using BackendFactory = std::shared_ptr<Backend> (*)();
KESTREL_PLATFORM_API void SetDefaultBackendFactory(BackendFactory factory);

// The platform's real backend: on Linux the sysfs scan with SG_IO (linux_backend.h), on Windows
// SetupAPI with the SCSI pass-through (windows_backend.h), each over the real system calls.
KESTREL_PLATFORM_API std::shared_ptr<Backend> MakeSystemBackend();

#if !defined(_WIN32)
// The Linux backend over /sys, /dev and the real system calls.
KESTREL_PLATFORM_API std::shared_ptr<Backend> MakeLinuxBackend();
#endif

} // namespace kestrel::platform::devices
