// kestrel-usb-disk: one device of the production model as a USB disk for a QEMU guest. It
// listens on a Unix socket for QEMU's usb-redir character device and serves each connection as
// one plugging of the device; the device behind it is a simulated device of sim/ (from a
// simulated-device configuration file, with its geometry and failure rules) that keeps its NAND
// between pluggings.
//
//   kestrel-usb-disk --socket PATH [--sim-config FILE --index N] [--serial S] [--revision R]
//                    [--fault KIND@N]
//
// Faults, starting after the N-th vendor command: bad-csw-signature, stalled-bulk-in, pull (the
// device leaves the bus).

#include "sim/config_file.h"
#include "sim/device.h"
#include "usbdisk/bulk_only.h"
#include "usbdisk/redir_link.h"
#include "usbdisk/scsi_disk.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace kestrel;

struct Options {
    std::string socket;
    std::string simConfig;
    std::size_t index = 0;
    std::string serial;
    std::string revision;
    std::string fault;
    std::uint32_t blocks = 2048; // 1 MiB
};

struct FaultPlan {
    usbdisk::FaultKind kind = usbdisk::FaultKind::kNone;
    bool pull = false;
    std::uint64_t afterVendorCommands = 0;
};

bool ParseFault(const std::string& text, FaultPlan& plan) {
    if (text.empty()) {
        return true;
    }
    const std::size_t at = text.find('@');
    const std::string kind = text.substr(0, at);
    if (at != std::string::npos) {
        try {
            plan.afterVendorCommands = std::stoull(text.substr(at + 1));
        } catch (...) {
            return false;
        }
    }
    if (kind == "bad-csw-signature") {
        plan.kind = usbdisk::FaultKind::kBadCswSignature;
    } else if (kind == "stalled-bulk-in") {
        plan.kind = usbdisk::FaultKind::kStalledBulkIn;
    } else if (kind == "pull") {
        plan.pull = true;
    } else {
        return false;
    }
    return true;
}

int Listen(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        std::fprintf(stderr, "kestrel-usb-disk: socket path too long: %s\n", path.c_str());
        return -1;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::unlink(path.c_str());
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 1) != 0) {
        std::fprintf(stderr, "kestrel-usb-disk: %s: %s\n", path.c_str(), std::strerror(errno));
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

int Run(const Options& options) {
    FaultPlan plan;
    if (!ParseFault(options.fault, plan)) {
        std::fprintf(stderr, "kestrel-usb-disk: unknown fault '%s'\n", options.fault.c_str());
        return 2;
    }
    sim::DeviceConfig config = sim::DefaultSimulatedDevice(options.index);
    if (!options.simConfig.empty()) {
        std::vector<sim::DeviceConfig> devices;
        std::string error;
        if (!sim::LoadSimConfigFile(options.simConfig, devices, error)) {
            std::fprintf(stderr, "kestrel-usb-disk: %s\n", error.c_str());
            return 2;
        }
        if (options.index >= devices.size()) {
            std::fprintf(stderr, "kestrel-usb-disk: %s has %zu devices, no device %zu\n",
                         options.simConfig.c_str(), devices.size(), options.index);
            return 2;
        }
        config = devices[options.index];
    }
    // The guest's own pace is the device's pace: no modelled latency on top.
    config.latency = sim::LatencyModel::Zero();
    if (!options.revision.empty()) {
        config.revision = options.revision;
    } else if (config.revision.empty()) {
        char revision[8];
        std::snprintf(revision, sizeof revision, "1.%02zu", options.index % 100);
        config.revision = revision;
    }
    const std::string serial =
        !options.serial.empty() ? options.serial : "KESTREL" + std::to_string(1000 + options.index);
    config.instance = serial;
    sim::Device device(config);

    usbdisk::ScsiDisk disk(device, options.blocks);
    usbdisk::BulkOnlyMachine machine(disk);
    const usbdisk::UsbIdentity identity{config.vendor, config.product, serial,
                                        usbdisk::BcdFromRevision(config.revision)};

    const int listener = Listen(options.socket);
    if (listener < 0) {
        return 1;
    }
    std::fprintf(stderr, "[%s] listening on %s (revision %s, serial %s)\n", serial.c_str(),
                 options.socket.c_str(), config.revision.c_str(), serial.c_str());
    bool armed = false;
    for (int plugging = 0;; ++plugging) {
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::fprintf(stderr, "[%s] accept: %s\n", serial.c_str(), std::strerror(errno));
            return 1;
        }
        if (plugging > 0) {
            disk.PowerCycle();
        }
        machine.PortReset();
        usbdisk::RedirLink link(fd, machine, identity);
        const bool faulty = plan.pull || plan.kind != usbdisk::FaultKind::kNone;
        const std::string why = link.Serve([&] {
            if (!faulty || armed || disk.VendorCommands() < plan.afterVendorCommands) {
                return false;
            }
            armed = true;
            std::fprintf(stderr, "[%s] fault armed after %llu vendor commands\n", serial.c_str(),
                         static_cast<unsigned long long>(disk.VendorCommands()));
            if (plan.pull) {
                return true;
            }
            machine.SetFault({plan.kind, machine.Commands()});
            return false;
        });
        ::close(fd);
        const usbdisk::LinkStats& stats = link.Stats();
        std::fprintf(stderr,
                     "[%s] unplugged (%s): %llu vendor commands, %llu host errors, %llu port "
                     "resets, %llu mass-storage resets\n",
                     serial.c_str(), why.c_str(),
                     static_cast<unsigned long long>(disk.VendorCommands()),
                     static_cast<unsigned long long>(device.HostErrors().size()),
                     static_cast<unsigned long long>(stats.portResets),
                     static_cast<unsigned long long>(stats.massStorageResets));
    }
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    Options options;
    CLI::App app{"kestrel-usb-disk: a device of the production model on QEMU's usb-redir"};
    app.add_option("--socket", options.socket, "Unix socket to listen on")->required();
    app.add_option("--sim-config", options.simConfig, "Simulated-device configuration file");
    app.add_option("--index", options.index, "Device of the configuration file (0-based)");
    app.add_option("--serial", options.serial, "USB serial number");
    app.add_option("--revision", options.revision, "SCSI revision (4 characters)");
    app.add_option("--blocks", options.blocks, "Disk capacity in 512-byte blocks")
        ->check(CLI::Range(64u, 1u << 22));
    app.add_option("--fault", options.fault,
                   "bad-csw-signature@N, stalled-bulk-in@N or pull@N (after N vendor commands)");
    CLI11_PARSE(app, argc, argv);
    return Run(options);
}
