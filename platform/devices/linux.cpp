// The Linux backend: disks of the production model found in sysfs (linux_sysfs.cpp), driven
// through their SCSI generic node with SG_IO, and followed with a libudev monitor. The kernel
// refuses vendor operation codes on a block node unless the caller holds CAP_SYS_RAWIO; the sg
// node, made accessible by the udev rule in docs/, lets an operator run without root.
//
// Error codes: a failed system call reports its errno; a command the device or the transport
// did not complete reports ETIMEDOUT (timeout), ENODEV (device gone) or EIO (any other status
// that is not GOOD, including CHECK CONDITION: a rejected command never passes as a success).

#include "platform/devices/linux_backend.h"
#include "platform/devices/usbstor_path.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libudev.h>
#include <mutex>
#include <poll.h>
#include <scsi/sg.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace kestrel::platform::devices {
namespace {

constexpr unsigned kSenseLength = 32;
constexpr unsigned short kDidNoConnect = 0x01;
constexpr unsigned short kDidTimeOut = 0x03;

class LinuxConnection final : public Connection {
public:
    LinuxConnection(int fd, LinuxSystemCalls calls) : fd_(fd), calls_(std::move(calls)) {}
    ~LinuxConnection() override { calls_.close(fd_); }

    int Send(const ScsiRequest& request) override {
        unsigned char sense[kSenseLength] = {};
        sg_io_hdr_t header{};
        header.interface_id = 'S';
        header.cmd_len = request.cdbLength;
        header.mx_sb_len = kSenseLength;
        header.dxfer_len = request.length;
        header.dxferp = request.length != 0 ? request.buffer : nullptr;
        header.cmdp = const_cast<unsigned char*>(request.cdb);
        header.sbp = sense;
        header.timeout = request.timeoutSeconds * 1000;
        switch (request.length == 0 ? Direction::kNone : request.direction) {
        case Direction::kNone:
            header.dxfer_direction = SG_DXFER_NONE;
            break;
        case Direction::kIn:
            header.dxfer_direction = SG_DXFER_FROM_DEV;
            break;
        case Direction::kOut:
            header.dxfer_direction = SG_DXFER_TO_DEV;
            break;
        }
        if (calls_.sgIo(fd_, &header) < 0) {
            return errno != 0 ? errno : EIO;
        }
        if ((header.info & SG_INFO_OK_MASK) == SG_INFO_OK) {
            return 0;
        }
        if (header.host_status == kDidTimeOut) {
            return ETIMEDOUT;
        }
        if (header.host_status == kDidNoConnect) {
            return ENODEV;
        }
        return EIO;
    }

    // What the kernel reports for a disk whose USB device went away.
    bool IsGoneError(int error) const override {
        return error == ENODEV || error == ENXIO || error == ESHUTDOWN;
    }

private:
    int fd_;
    LinuxSystemCalls calls_;
};

class LinuxBackend final : public Backend, public std::enable_shared_from_this<LinuxBackend> {
public:
    explicit LinuxBackend(LinuxBackendOptions options) : options_(std::move(options)) {}
    ~LinuxBackend() override { StopMonitor(); }

    const char* Name() const override { return "linux"; }

    bool Enumerate(std::vector<InterfaceInfo>& interfaces) override {
        for (const LinuxModelDisk& disk : ScanModelDisks(options_.sysfsRoot)) {
            interfaces.push_back({disk.interfacePath, disk.friendlyName});
        }
        return true;
    }

    std::unique_ptr<Connection> Open(const std::string& path, int& error) override {
        for (const LinuxModelDisk& disk : ScanModelDisks(options_.sysfsRoot)) {
            if (!EqualsIgnoreCase(disk.interfacePath, path)) {
                continue;
            }
            const std::string node = options_.devRoot + "/" + disk.sgNode;
            errno = 0;
            const int fd = options_.calls.open(node.c_str(), O_RDWR | O_CLOEXEC);
            if (fd < 0) {
                error = errno != 0 ? errno : EACCES;
                return nullptr;
            }
            bool isChar = false;
            std::uint32_t major = 0;
            std::uint32_t minor = 0;
            if (options_.calls.stat(fd, isChar, major, minor) != 0 || !isChar ||
                major != disk.sgMajor || minor != disk.sgMinor) {
                // Not the node sysfs names for this disk (renumbered meanwhile): leave it.
                options_.calls.close(fd);
                error = ENODEV;
                return nullptr;
            }
            return std::make_unique<LinuxConnection>(fd, options_.calls);
        }
        error = ENOENT;
        return nullptr;
    }

    std::vector<AccessProblem> AccessProblems() override {
        std::vector<AccessProblem> problems;
        for (const LinuxModelDisk& disk : ScanModelDisks(options_.sysfsRoot, true)) {
            if (disk.sgNode.empty()) {
                problems.push_back(
                    {disk.interfacePath, "",
                     "the disk has no SCSI generic node: the sg driver is not loaded (the udev "
                     "rule " +
                         std::string(kUdevRuleName) + " loads it; or run: sudo modprobe sg)"});
                continue;
            }
            const std::string node = options_.devRoot + "/" + disk.sgNode;
            errno = 0;
            if (options_.calls.accessReadWrite(node.c_str()) == 0) {
                continue;
            }
            const int error = errno != 0 ? errno : EACCES;
            std::string reason =
                "no read-write access to " + node + " (" + std::strerror(error) + ")";
            if (error == EACCES || error == EPERM) {
                reason += ": install the udev rule " + std::string(kUdevRuleName) +
                          " (docs/devices.md), then unplug and replug the device";
            }
            problems.push_back({disk.interfacePath, node, std::move(reason)});
        }
        return problems;
    }

    bool StartMonitor(BackendEventSink sink) override {
        std::lock_guard guard(lock_);
        if (thread_.joinable()) {
            return true;
        }
        if (!options_.hotplug) {
            return false;
        }
        udev* context = udev_new();
        if (context == nullptr) {
            return false;
        }
        // Events come from the udev daemon once it has applied its rules (the node's group and
        // mode are set then); where no daemon runs (a minimal system, an initramfs) they come
        // straight from the kernel, whose device node devtmpfs has made before announcing it.
        const bool daemon = access(options_.udevControl.c_str(), F_OK) == 0;
        udev_monitor* monitor = udev_monitor_new_from_netlink(context, daemon ? "udev" : "kernel");
        if (monitor == nullptr ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor, "scsi_generic", nullptr) < 0 ||
            udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", "disk") < 0 ||
            udev_monitor_enable_receiving(monitor) < 0) {
            if (monitor != nullptr) {
                udev_monitor_unref(monitor);
            }
            udev_unref(context);
            return false;
        }
        const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (wake < 0) {
            udev_monitor_unref(monitor);
            udev_unref(context);
            return false;
        }
        wake_ = wake;
        known_ = ScanModelDisks(options_.sysfsRoot);
        thread_ = std::thread([this, context, monitor, wake, sink = std::move(sink)] {
            Watch(monitor, wake, sink);
            udev_monitor_unref(monitor);
            udev_unref(context);
        });
        return true;
    }

    void StopMonitor() override {
        std::lock_guard guard(lock_);
        if (!thread_.joinable()) {
            return;
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(wake_, &one, sizeof one);
        thread_.join();
        close(wake_);
        wake_ = -1;
    }

private:
    // The monitor thread: every event of a SCSI generic node or a disk leads to a fresh scan,
    // and the difference to the previous scan is announced.
    void Watch(udev_monitor* monitor, int wake, const BackendEventSink& sink) {
        const int fd = udev_monitor_get_fd(monitor);
        while (true) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if ((fds[1].revents & POLLIN) != 0) {
                return;
            }
            if ((fds[0].revents & POLLIN) == 0) {
                continue;
            }
            // Take every queued event, then scan once.
            while (udev_device* device = udev_monitor_receive_device(monitor)) {
                udev_device_unref(device);
            }
            auto now = ScanModelDisks(options_.sysfsRoot);
            for (const auto& [event, path] : DiffScans(known_, now)) {
                sink(event, path);
            }
            known_ = std::move(now);
        }
    }

    LinuxBackendOptions options_;
    std::mutex lock_;
    std::thread thread_;
    int wake_ = -1;
    std::vector<LinuxModelDisk> known_; // monitor thread only, once started
};

} // namespace

LinuxSystemCalls RealLinuxSystemCalls() {
    LinuxSystemCalls calls;
    calls.open = [](const char* path, int flags) { return ::open(path, flags); };
    calls.close = [](int fd) { return ::close(fd); };
    calls.sgIo = [](int fd, void* header) { return ::ioctl(fd, SG_IO, header); };
    calls.accessReadWrite = [](const char* path) { return ::access(path, R_OK | W_OK); };
    calls.stat = [](int fd, bool& isChar, std::uint32_t& major, std::uint32_t& minor) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            return -1;
        }
        isChar = S_ISCHR(st.st_mode);
        major = static_cast<std::uint32_t>(major(st.st_rdev));
        minor = static_cast<std::uint32_t>(minor(st.st_rdev));
        return 0;
    };
    return calls;
}

std::shared_ptr<Backend> MakeLinuxBackend(LinuxBackendOptions options) {
    return std::make_shared<LinuxBackend>(std::move(options));
}

std::shared_ptr<Backend> MakeSystemBackend() {
    return MakeLinuxBackend();
}

std::shared_ptr<Backend> MakeLinuxBackend() {
    return MakeLinuxBackend(LinuxBackendOptions{});
}

} // namespace kestrel::platform::devices
