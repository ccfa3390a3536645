#pragma once
// The Linux backend's parts, open to tests: the sysfs scan for USB-attached SCSI disks of the
// production model, and the backend built over an injectable sysfs root, device-node directory
// and system calls (so a test can run it on a crafted tree and see every open and command).
//
// Safety: only a SCSI disk (type 0) whose inquiry vendor is "USB DISK" and product
// "MASS STORAGE", attached through USB, is ever listed; Open accepts only an interface path
// that a fresh scan lists, opens only that disk's SCSI generic node, and checks that the node
// opened is the character device sysfs names for it. No other node is opened, and nothing is
// sent to a handle this backend did not open.

#include "platform/devices/devices.h"
#include "platform/export.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrel::platform::devices {

// A disk of the model as the scan finds it.
struct LinuxModelDisk {
    std::string scsiAddress; // host:channel:target:lun
    std::string vendor;      // inquiry strings, trimmed
    std::string product;
    std::string revision;
    std::string usbSerial; // "" when the device reports none
    std::string usbPort;   // e.g. "1-1.2"
    std::string sgNode;    // "sg2"
    std::uint32_t sgMajor = 0;
    std::uint32_t sgMinor = 0;
    std::string interfacePath;
    std::string friendlyName;
};

// Scans <sysfsRoot>/bus/scsi/devices for disks of the model. Never opens a device node. A disk
// without a SCSI generic node cannot be driven and is left out, unless keepWithoutNode asks for
// it (with sgNode empty), to tell the user why it is not used.
KESTREL_PLATFORM_API std::vector<LinuxModelDisk> ScanModelDisks(const std::string& sysfsRoot,
                                                                bool keepWithoutNode = false);

// The system calls the backend makes, replaceable by tests. Each returns what the system call
// returns, with errno set on failure.
struct LinuxSystemCalls {
    std::function<int(const char* path, int flags)> open;
    std::function<int(int fd)> close;
    std::function<int(int fd, void* sgIoHeader)> sgIo; // ioctl(fd, SG_IO, header)
    // fstat: whether fd is a character device, and its device number.
    std::function<int(int fd, bool& isCharDevice, std::uint32_t& major, std::uint32_t& minor)> stat;
    // access(path, R_OK | W_OK): whether this process may open the node read-write.
    std::function<int(const char* path)> accessReadWrite;
};

KESTREL_PLATFORM_API LinuxSystemCalls RealLinuxSystemCalls();

struct LinuxBackendOptions {
    std::string sysfsRoot = "/sys";
    std::string devRoot = "/dev";
    LinuxSystemCalls calls = RealLinuxSystemCalls();
    bool hotplug = true; // start a libudev monitor for StartMonitor
    // Present while a udev daemon runs: the monitor listens to its events, otherwise to the
    // kernel's.
    std::string udevControl = "/run/udev/control";
};

KESTREL_PLATFORM_API std::shared_ptr<Backend> MakeLinuxBackend(LinuxBackendOptions options);

// What changed between two scans, as device-change events in the order they are announced:
// removals first, then arrivals.
KESTREL_PLATFORM_API std::vector<std::pair<std::uint32_t, std::string>>
DiffScans(const std::vector<LinuxModelDisk>& before, const std::vector<LinuxModelDisk>& after);

} // namespace kestrel::platform::devices
