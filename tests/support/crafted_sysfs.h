#pragma once
// A crafted sysfs tree and recording system calls for the Linux device backend: a system disk
// on SATA, a USB stick of another model, two devices of the production model on USB (one with a
// serial number, one without), and a SATA disk that claims the model's inquiry strings. The
// recorded calls show every device node the backend opened and every command it sent.

#include "platform/devices/linux_backend.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <cerrno>
#include <scsi/sg.h>

namespace kestrel::test {

class CraftedSysfs {
public:
    CraftedSysfs() {
        std::random_device rd;
        root_ = std::filesystem::temp_directory_path() /
                ("kestrel-sysfs-" + std::to_string(rd()) + std::to_string(rd()));
        const std::string pci = "devices/pci0000:00";
        AddDisk(pci + "/0000:00:17.0/ata1/host0/target0:0:0", "0:0:0:0", "ATA     ",
                "Samsung SSD 860 ", "1B6Q", 0, "");
        AddUsb(pci + "/0000:00:14.0/usb1/1-1", "4C530001");
        AddDisk(pci + "/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0", "6:0:0:0", "SanDisk ",
                "Cruzer Blade    ", "1.00", 1, "");
        AddUsb(pci + "/0000:00:14.0/usb1/1-2", "A1B2");
        AddDisk(pci + "/0000:00:14.0/usb1/1-2/1-2:1.0/host7/target7:0:0", "7:0:0:0", "USB DISK",
                "MASS STORAGE    ", "1.00", 2, "");
        AddUsb(pci + "/0000:00:14.0/usb1/1-3", "");
        AddDisk(pci + "/0000:00:14.0/usb1/1-3/1-3:1.0/host8/target8:0:0", "8:0:0:0", "USB DISK",
                "MASS STORAGE    ", "1.01", 3, "");
        AddDisk(pci + "/0000:00:17.0/ata2/host1/target1:0:0", "1:0:0:0", "USB DISK",
                "MASS STORAGE    ", "1.02", 4, "");
    }
    ~CraftedSysfs() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    CraftedSysfs(const CraftedSysfs&) = delete;
    CraftedSysfs& operator=(const CraftedSysfs&) = delete;

    std::string SysRoot() const { return (root_ / "sys").string(); }
    std::string DevRoot() const { return (root_ / "dev").string(); }

    // Removes a device (its SCSI entry disappears as on unplugging).
    // The disk's SCSI generic node goes away, as when the sg driver is not loaded.
    void RemoveGenericNode(const std::string& scsiAddress) {
        std::filesystem::remove_all(root_ / "sys/bus/scsi/devices" / scsiAddress / "scsi_generic");
    }

    void Unplug(const std::string& scsiAddress) {
        std::filesystem::remove(root_ / "sys/bus/scsi/devices" / scsiAddress);
    }

    // Every sg node of the tree: sg0 system disk, sg1 other model, sg2 and sg3 the model on
    // USB, sg4 the model's strings on SATA.
    static constexpr const char* kModelNodes[2] = {"sg2", "sg3"};

    struct Recorder {
        std::mutex lock;
        std::vector<std::string> opened;     // node paths
        std::map<int, std::string> fdToNode; // open fds
        std::vector<std::string> commandedNodes;
        std::vector<sg_io_hdr_t> headers; // as sent; their pointers are the caller's
        std::vector<std::vector<std::uint8_t>> commandBlocks; // copied while the call runs
        int nextFd = 100;
        // What the next commands report: 0 or a SCSI status info word.
        unsigned info = SG_INFO_OK;
        unsigned short hostStatus = 0;
        // Minor number fstat reports for a node (default: the node's own number).
        std::map<std::string, std::uint32_t> minorOverride;
        // Nodes ("sg2") this process may not open read-write.
        std::set<std::string> deniedNodes;
    };

    platform::devices::LinuxSystemCalls Calls(Recorder& r) const {
        platform::devices::LinuxSystemCalls calls;
        calls.open = [&r](const char* path, int) {
            std::lock_guard guard(r.lock);
            r.opened.push_back(path);
            const int fd = r.nextFd++;
            r.fdToNode[fd] = std::filesystem::path(path).filename().string();
            return fd;
        };
        calls.close = [&r](int fd) {
            std::lock_guard guard(r.lock);
            return r.fdToNode.erase(fd) == 1 ? 0 : -1;
        };
        calls.sgIo = [&r](int fd, void* header) {
            std::lock_guard guard(r.lock);
            auto it = r.fdToNode.find(fd);
            if (it == r.fdToNode.end()) {
                errno = EBADF;
                return -1;
            }
            auto* h = static_cast<sg_io_hdr_t*>(header);
            r.commandedNodes.push_back(it->second);
            r.headers.push_back(*h);
            r.commandBlocks.emplace_back(h->cmdp, h->cmdp + h->cmd_len);
            h->info = r.info;
            h->host_status = r.hostStatus;
            return 0;
        };
        calls.stat = [&r](int fd, bool& isChar, std::uint32_t& major, std::uint32_t& minor) {
            std::lock_guard guard(r.lock);
            auto it = r.fdToNode.find(fd);
            if (it == r.fdToNode.end()) {
                return -1;
            }
            isChar = true;
            major = 21;
            auto o = r.minorOverride.find(it->second);
            minor = o != r.minorOverride.end()
                        ? o->second
                        : static_cast<std::uint32_t>(std::stoul(it->second.substr(2)));
            return 0;
        };
        calls.accessReadWrite = [&r](const char* path) {
            std::lock_guard guard(r.lock);
            if (r.deniedNodes.count(std::filesystem::path(path).filename().string()) != 0) {
                errno = EACCES;
                return -1;
            }
            return 0;
        };
        return calls;
    }

    platform::devices::LinuxBackendOptions Options(Recorder& r) const {
        platform::devices::LinuxBackendOptions options;
        options.sysfsRoot = SysRoot();
        options.devRoot = DevRoot();
        options.calls = Calls(r);
        options.hotplug = false;
        return options;
    }

private:
    void Write(const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }
    void AddUsb(const std::string& dir, const std::string& serial) {
        const auto at = root_ / "sys" / dir;
        Write(at / "idVendor", "1234");
        Write(at / "busnum", "1");
        if (!serial.empty()) {
            Write(at / "serial", serial);
        }
    }
    void AddDisk(const std::string& parent, const std::string& address, const std::string& vendor,
                 const std::string& model, const std::string& rev, int sg, const std::string&) {
        const auto dev = root_ / "sys" / parent / address;
        Write(dev / "type", "0");
        Write(dev / "vendor", vendor);
        Write(dev / "model", model);
        Write(dev / "rev", rev);
        Write(dev / "scsi_generic" / ("sg" + std::to_string(sg)) / "dev",
              "21:" + std::to_string(sg));
        std::filesystem::create_directories(root_ / "sys/bus/scsi/devices");
        std::filesystem::create_directory_symlink(dev, root_ / "sys/bus/scsi/devices" / address);
        std::filesystem::create_directories(root_ / "dev");
        Write(root_ / "dev" / ("sg" + std::to_string(sg)), "");
    }

    std::filesystem::path root_;
};

} // namespace kestrel::test
