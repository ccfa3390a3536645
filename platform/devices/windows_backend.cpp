// The Windows backend's logic over its system-call table (see windows_backend.h).

#include "platform/devices/windows_backend.h"

#include "platform/devices/usbstor_path.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

namespace kestrel::platform::devices {
namespace {

constexpr std::uint8_t kStatusGood = 0;

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// The value of "<key>" in "...&<key>value&...", lower case, with the padding underscores that
// Windows puts in place of trailing blanks removed.
std::string IdField(std::string_view id, std::string_view key) {
    const std::size_t at = id.find(key);
    if (at == std::string_view::npos) {
        return {};
    }
    std::string_view value = id.substr(at + key.size());
    value = value.substr(0, value.find_first_of("&#"));
    while (!value.empty() && value.back() == '_') {
        value.remove_suffix(1);
    }
    return std::string(value);
}

// What a removal does to open connections of the device: they answer kErrorNotConnected.
class RemovedPaths {
public:
    void Add(const std::string& path) {
        std::lock_guard guard(lock_);
        paths_.insert(LowerAscii(path));
    }
    void Forget(const std::string& path) {
        std::lock_guard guard(lock_);
        paths_.erase(LowerAscii(path));
    }
    bool Contains(const std::string& path) const {
        std::lock_guard guard(lock_);
        return paths_.count(LowerAscii(path)) != 0;
    }

private:
    mutable std::mutex lock_;
    std::set<std::string> paths_;
};

bool MeansDeviceGone(std::uint32_t error) {
    return error == static_cast<std::uint32_t>(kErrorNotConnected) ||
           error == kWinErrorNoSuchDevice || error == kWinErrorDeviceRemoved ||
           error == static_cast<std::uint32_t>(kErrorFileNotFound);
}

class WindowsConnection final : public Connection {
public:
    WindowsConnection(NativeHandle handle, std::string path, StorageAdapterDescriptor adapter,
                      std::shared_ptr<WindowsSystemCalls> calls,
                      std::shared_ptr<RemovedPaths> removed)
        : handle_(handle), path_(std::move(path)), adapter_(adapter), calls_(std::move(calls)),
          removed_(std::move(removed)) {}
    ~WindowsConnection() override { calls_->closeHandle(handle_); }

    int Send(const ScsiRequest& request) override {
        if (gone_ || removed_->Contains(path_)) {
            gone_ = true;
            return kErrorNotConnected;
        }
        if (request.cdb == nullptr || request.cdbLength == 0 || request.cdbLength > 16 ||
            (request.length != 0 && request.buffer == nullptr)) {
            return kErrorInvalidParameter;
        }
        if (adapter_.maximumTransferLength != 0 &&
            request.length > adapter_.maximumTransferLength) {
            return kErrorInvalidParameter;
        }
        const Direction direction = request.length == 0 ? Direction::kNone : request.direction;

        // The adapter needs the data buffer aligned to alignmentMask + 1; a caller's buffer that
        // is not goes through an aligned copy.
        void* data = request.buffer;
        std::vector<std::uint8_t> bounce;
        const std::uintptr_t mask = adapter_.alignmentMask;
        if (request.length != 0 && (reinterpret_cast<std::uintptr_t>(data) & mask) != 0) {
            bounce.resize(request.length + mask);
            auto at = reinterpret_cast<std::uintptr_t>(bounce.data());
            at = (at + mask) & ~mask;
            data = reinterpret_cast<void*>(at);
            if (direction == Direction::kOut) {
                std::memcpy(data, request.buffer, request.length);
            }
        }

        PassThroughWithSense record;
        record.request.length = static_cast<std::uint16_t>(sizeof(PassThroughDirect));
        record.request.cdbLength = request.cdbLength;
        record.request.senseInfoLength = static_cast<std::uint8_t>(kSenseBufferLength);
        record.request.senseInfoOffset =
            static_cast<std::uint32_t>(offsetof(PassThroughWithSense, sense));
        record.request.dataIn = direction == Direction::kIn    ? kScsiDataIn
                                : direction == Direction::kOut ? kScsiDataOut
                                                               : kScsiDataUnspecified;
        record.request.dataTransferLength = request.length;
        record.request.dataBuffer = request.length != 0 ? data : nullptr;
        record.request.timeOutValue = request.timeoutSeconds;
        std::memcpy(record.request.cdb, request.cdb, request.cdbLength);

        std::uint32_t returned = 0;
        std::uint32_t error = 0;
        if (!calls_->deviceIoControl(handle_, kIoctlScsiPassThroughDirect, &record, sizeof record,
                                     &record, sizeof record, returned, error)) {
            if (MeansDeviceGone(error)) {
                gone_ = true;
                return kErrorNotConnected;
            }
            return error != 0 ? static_cast<int>(error) : kErrorGenFailure;
        }
        if (record.request.scsiStatus != kStatusGood) {
            lastSense_.assign(record.sense, record.sense + kSenseBufferLength);
            return kErrorGenFailure;
        }
        if (!bounce.empty() && direction == Direction::kIn) {
            std::memcpy(request.buffer, data, request.length);
        }
        return 0;
    }

private:
    NativeHandle handle_;
    std::string path_;
    StorageAdapterDescriptor adapter_;
    std::shared_ptr<WindowsSystemCalls> calls_;
    std::shared_ptr<RemovedPaths> removed_;
    bool gone_ = false;
    std::vector<std::uint8_t> lastSense_; // of the last command the device refused
};

class WindowsBackend final : public Backend {
public:
    explicit WindowsBackend(WindowsSystemCalls calls)
        : calls_(std::make_shared<WindowsSystemCalls>(std::move(calls))),
          removed_(std::make_shared<RemovedPaths>()) {}
    ~WindowsBackend() override { StopMonitor(); }

    const char* Name() const override { return "windows"; }

    bool Enumerate(std::vector<InterfaceInfo>& interfaces) override {
        std::vector<WindowsDiskInterface> disks;
        std::uint32_t error = 0;
        if (!calls_->listDisks(disks, error)) {
            return false;
        }
        for (const WindowsDiskInterface& disk : disks) {
            if (IsModelInterfacePath(disk.path)) {
                interfaces.push_back({LowerAscii(disk.path), disk.friendlyName});
            }
        }
        return true;
    }

    std::unique_ptr<Connection> Open(const std::string& path, int& error) override {
        if (!IsModelInterfacePath(path)) {
            error = kErrorFileNotFound;
            return nullptr;
        }
        std::vector<WindowsDiskInterface> disks;
        std::uint32_t listError = 0;
        if (!calls_->listDisks(disks, listError)) {
            error = listError != 0 ? static_cast<int>(listError) : kErrorGenFailure;
            return nullptr;
        }
        const auto present = std::find_if(disks.begin(), disks.end(), [&](const auto& disk) {
            return EqualsIgnoreCase(disk.path, path);
        });
        if (present == disks.end()) {
            error = kErrorFileNotFound;
            return nullptr;
        }
        std::uint32_t openError = 0;
        const NativeHandle handle = calls_->createFile(present->path, openError);
        if (handle == -1) {
            error = openError != 0 ? static_cast<int>(openError) : kErrorGenFailure;
            return nullptr;
        }
        removed_->Forget(path);
        return std::make_unique<WindowsConnection>(handle, path, AdapterOf(handle), calls_,
                                                   removed_);
    }

    bool StartMonitor(BackendEventSink sink) override {
        std::lock_guard guard(lock_);
        if (monitoring_) {
            return true;
        }
        auto removed = removed_;
        monitoring_ = calls_->startNotifications(
            [removed, sink = std::move(sink)](std::uint32_t event, const std::string& name) {
                if (!IsModelInterfacePath(name)) {
                    return;
                }
                const std::string path = LowerAscii(name);
                if (event == kDeviceRemoveComplete) {
                    removed->Add(path);
                } else if (event != kDeviceArrival) {
                    return;
                }
                sink(event, path);
            });
        return monitoring_;
    }

    void StopMonitor() override {
        std::lock_guard guard(lock_);
        if (monitoring_) {
            calls_->stopNotifications();
            monitoring_ = false;
        }
    }

private:
    // The adapter's limits; none known when the query fails (the driver then checks alone).
    StorageAdapterDescriptor AdapterOf(NativeHandle handle) {
        StoragePropertyQuery query;
        StorageAdapterDescriptor adapter;
        std::uint32_t returned = 0;
        std::uint32_t error = 0;
        if (!calls_->deviceIoControl(handle, kIoctlStorageQueryProperty, &query, sizeof query,
                                     &adapter, sizeof adapter, returned, error) ||
            returned < sizeof adapter) {
            return StorageAdapterDescriptor{};
        }
        return adapter;
    }

    std::shared_ptr<WindowsSystemCalls> calls_;
    std::shared_ptr<RemovedPaths> removed_;
    std::mutex lock_;
    bool monitoring_ = false;
};

} // namespace

bool IsModelInterfacePath(std::string_view path) {
    const std::string lower = LowerAscii(path);
    if (lower.rfind("\\\\?\\usbstor#disk&", 0) != 0 ||
        lower.find(LowerAscii(kDiskInterfaceClass)) == std::string::npos) {
        return false;
    }
    std::string vendor = LowerAscii(kModelVendor);
    std::string product = LowerAscii(kModelProduct);
    std::replace(vendor.begin(), vendor.end(), ' ', '_');
    std::replace(product.begin(), product.end(), ' ', '_');
    return IdField(lower, "&ven_") == vendor && IdField(lower, "&prod_") == product;
}

std::shared_ptr<Backend> MakeWindowsBackend(WindowsSystemCalls calls) {
    return std::make_shared<WindowsBackend>(std::move(calls));
}

} // namespace kestrel::platform::devices
