#include "kestrellib/device/device_set.h"

#include "platform/devices/usbstor_path.h"

#include <array>
#include <mutex>

namespace kestrel::device {
namespace {

struct Entry {
    DeviceHandle handle = nullptr;
    std::string path;
    std::string devId;
};

struct DeviceSet {
    std::mutex lock;
    int count = 0;
    std::array<Entry, kDeviceSetCapacity> entries;
};

DeviceSet& Set() {
    static DeviceSet set;
    return set;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    std::size_t at = 0;
    while ((at = text.find(from, at)) != std::string::npos) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
}

void CutBeforeLast(std::string& text, char c) {
    const std::size_t at = text.rfind(c);
    if (at != std::string::npos) {
        text.resize(at);
    }
}

} // namespace

std::string DevIdFromPath(std::string_view path) {
    std::string id(path);
    ReplaceAll(id, "\\\\?\\", "");
    CutBeforeLast(id, '#');
    CutBeforeLast(id, '#');
    ReplaceAll(id, "#", "\\");
    return platform::devices::ToUpperAscii(id);
}

void InitDeviceSet() {
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    s.count = 0;
    s.entries.fill(Entry{});
}

bool OpenAndRegisterDevice(const std::string& path) {
    const std::string devId = DevIdFromPath(path);
    if (path.find("USBSTOR") == std::string::npos) {
        return false;
    }
    DeviceHandle handle = platform::devices::Open(path);
    if (handle != nullptr) {
        DeviceHandle previous = RegisterDevice(handle, path, devId);
        if (previous != nullptr) {
            CloseDevice(previous);
        }
    }
    return true;
}

DeviceHandle RegisterDevice(DeviceHandle handle, const std::string& path,
                            const std::string& devId) {
    const std::string id = platform::devices::ToUpperAscii(devId);
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    for (int i = 0; i < s.count; ++i) {
        Entry& e = s.entries[static_cast<std::size_t>(i)];
        if (e.devId == id) {
            DeviceHandle previous = e.handle;
            e.handle = handle;
            e.path = platform::devices::ToUpperAscii(path);
            e.devId = id;
            // Registering the handle the entry already holds hands nothing back to close.
            return previous == handle ? nullptr : previous;
        }
    }
    if (s.count >= kDeviceSetCapacity) {
        return handle; // refused: the caller closes the handle it could not register
    }
    s.entries[static_cast<std::size_t>(s.count)] =
        Entry{handle, platform::devices::ToUpperAscii(path), id};
    ++s.count;
    return nullptr;
}

bool CloseDevice(DeviceHandle handle) {
    if (handle == nullptr) {
        return false;
    }
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    if (!platform::devices::Close(handle)) {
        return false;
    }
    for (int i = 0; i < s.count; ++i) {
        if (s.entries[static_cast<std::size_t>(i)].handle == handle) {
            for (int j = i; j + 1 < s.count; ++j) {
                s.entries[static_cast<std::size_t>(j)] =
                    std::move(s.entries[static_cast<std::size_t>(j + 1)]);
            }
            s.entries[static_cast<std::size_t>(s.count - 1)] = Entry{};
            --s.count;
            break;
        }
    }
    return true;
}

DeviceHandle FindDeviceByPath(const std::string& path) {
    const std::string wanted = platform::devices::ToUpperAscii(path);
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    for (int i = 0; i < s.count; ++i) {
        if (s.entries[static_cast<std::size_t>(i)].path == wanted) {
            return s.entries[static_cast<std::size_t>(i)].handle;
        }
    }
    return nullptr;
}

DeviceHandle FindDeviceByDevId(const std::string& devId) {
    const std::string wanted = platform::devices::ToUpperAscii(devId);
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    for (int i = 0; i < s.count; ++i) {
        if (s.entries[static_cast<std::size_t>(i)].devId == wanted) {
            return s.entries[static_cast<std::size_t>(i)].handle;
        }
    }
    return nullptr;
}

int DeviceIndexOf(DeviceHandle handle) {
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    for (int i = 0; i < s.count; ++i) {
        if (s.entries[static_cast<std::size_t>(i)].handle == handle) {
            return i;
        }
    }
    return kUnknownDeviceIndex;
}

int DeviceCount() {
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    return s.count;
}

DeviceHandle DeviceHandleAt(int index) {
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    return index >= 0 && index < s.count ? s.entries[static_cast<std::size_t>(index)].handle
                                         : nullptr;
}

std::string DeviceDevIdAt(int index) {
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    return index >= 0 && index < s.count ? s.entries[static_cast<std::size_t>(index)].devId
                                         : std::string();
}

std::string DevicePathAt(int index) {
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    return index >= 0 && index < s.count ? s.entries[static_cast<std::size_t>(index)].path
                                         : std::string();
}

} // namespace kestrel::device
