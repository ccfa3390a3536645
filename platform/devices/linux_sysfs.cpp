// The sysfs scan of the Linux backend: SCSI disks of the production model attached through
// USB, with their SCSI generic node and the USB serial and port that make their instance.

#include "platform/devices/linux_backend.h"
#include "platform/devices/usbstor_path.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kestrel::platform::devices {
namespace {

namespace fs = std::filesystem;

// The first line of a small sysfs attribute, trimmed; "" when unreadable.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in) {
        return {};
    }
    char buffer[256] = {};
    in.read(buffer, sizeof buffer - 1);
    line.assign(buffer, static_cast<std::size_t>(in.gcount()));
    line = line.substr(0, line.find('\n'));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
        line.pop_back();
    }
    std::size_t start = 0;
    while (start < line.size() && line[start] == ' ') {
        ++start;
    }
    return line.substr(start);
}

bool IsScsiAddress(const std::string& name) {
    int fields = 1;
    bool digit = false;
    for (char c : name) {
        if (c == ':') {
            if (!digit) {
                return false;
            }
            ++fields;
            digit = false;
        } else if (c >= '0' && c <= '9') {
            digit = true;
        } else {
            return false;
        }
    }
    return fields == 4 && digit;
}

bool ParseDevNumber(const std::string& text, std::uint32_t& major, std::uint32_t& minor) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) {
        return false;
    }
    try {
        std::size_t used = 0;
        const unsigned long ma = std::stoul(text.substr(0, colon), &used);
        if (used != colon) {
            return false;
        }
        const unsigned long mi = std::stoul(text.substr(colon + 1), &used);
        if (used != text.size() - colon - 1) {
            return false;
        }
        major = static_cast<std::uint32_t>(ma);
        minor = static_cast<std::uint32_t>(mi);
        return true;
    } catch (...) {
        return false;
    }
}

// The USB device above a SCSI device: the nearest ancestor with an idVendor attribute (bounded
// walk up the canonical path, stopping at the sysfs root).
bool FindUsbDevice(const fs::path& scsiDevice, const fs::path& root, fs::path& usbDevice) {
    std::error_code ec;
    fs::path at = fs::canonical(scsiDevice, ec);
    const fs::path canonicalRoot = fs::canonical(root, ec);
    if (ec) {
        return false;
    }
    for (int depth = 0; depth < 32 && at.has_relative_path() && at != canonicalRoot; ++depth) {
        if (fs::exists(at / "idVendor", ec) && fs::exists(at / "busnum", ec)) {
            usbDevice = at;
            return true;
        }
        at = at.parent_path();
    }
    return false;
}

} // namespace

std::vector<LinuxModelDisk> ScanModelDisks(const std::string& sysfsRoot, bool keepWithoutNode) {
    std::vector<LinuxModelDisk> disks;
    const fs::path root(sysfsRoot);
    const fs::path devicesDir = root / "bus" / "scsi" / "devices";
    std::error_code ec;
    fs::directory_iterator it(devicesDir, ec);
    if (ec) {
        return disks;
    }
    std::vector<fs::path> entries;
    for (const auto& entry : it) {
        if (IsScsiAddress(entry.path().filename().string())) {
            entries.push_back(entry.path());
        }
        if (entries.size() >= 1024) {
            break;
        }
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& dev : entries) {
        // The model check comes first; nothing else about a foreign disk is looked at.
        if (ReadAttribute(dev / "type") != "0" || ReadAttribute(dev / "vendor") != kModelVendor ||
            ReadAttribute(dev / "model") != kModelProduct) {
            continue;
        }
        fs::path usb;
        if (!FindUsbDevice(dev, root, usb)) {
            continue; // the model over another bus is not a device of ours
        }
        LinuxModelDisk disk;
        disk.scsiAddress = dev.filename().string();
        disk.vendor = kModelVendor;
        disk.product = kModelProduct;
        disk.revision = ReadAttribute(dev / "rev");
        disk.usbSerial = ReadAttribute(usb / "serial");
        disk.usbPort = usb.filename().string();
        // No SCSI generic node (sg module not loaded): the disk cannot be driven.
        fs::directory_iterator sg(dev / "scsi_generic", ec);
        for (const auto& node : ec ? fs::directory_iterator() : sg) {
            const std::string name = node.path().filename().string();
            if (name.rfind("sg", 0) == 0 && name.size() > 2 &&
                std::all_of(name.begin() + 2, name.end(),
                            [](char c) { return c >= '0' && c <= '9'; }) &&
                ParseDevNumber(ReadAttribute(node.path() / "dev"), disk.sgMajor, disk.sgMinor)) {
                disk.sgNode = name;
                break;
            }
        }
        if (disk.sgNode.empty() && !keepWithoutNode) {
            continue;
        }
        const std::string lun = disk.scsiAddress.substr(disk.scsiAddress.rfind(':') + 1);
        const std::string instance = UsbStorInstance(disk.usbSerial, disk.usbPort, lun);
        disk.interfacePath =
            UsbStorInterfacePath(disk.vendor, disk.product, disk.revision, instance);
        disk.friendlyName = UsbStorFriendlyName(disk.vendor, disk.product);
        disks.push_back(std::move(disk));
    }
    return disks;
}

std::vector<std::pair<std::uint32_t, std::string>>
DiffScans(const std::vector<LinuxModelDisk>& before, const std::vector<LinuxModelDisk>& after) {
    std::vector<std::pair<std::uint32_t, std::string>> events;
    auto has = [](const std::vector<LinuxModelDisk>& list, const LinuxModelDisk& disk) {
        return std::any_of(list.begin(), list.end(), [&](const LinuxModelDisk& d) {
            return d.interfacePath == disk.interfacePath && d.sgNode == disk.sgNode;
        });
    };
    for (const auto& disk : before) {
        if (!has(after, disk)) {
            events.emplace_back(kDeviceRemoveComplete, disk.interfacePath);
        }
    }
    for (const auto& disk : after) {
        if (!has(before, disk)) {
            events.emplace_back(kDeviceArrival, disk.interfacePath);
        }
    }
    return events;
}

} // namespace kestrel::platform::devices
