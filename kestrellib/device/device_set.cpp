#include "kestrellib/device/device_set.h"

#include "platform/devices/usbstor_path.h"

#include <array>
#include <deque>
#include <mutex>
#include <utility>

namespace kestrel::device {
namespace {

struct Entry {
    DeviceHandle handle = nullptr;
    std::string path;
    std::string devId;
};

struct Departed {
    DeviceHandle handle;
    std::string path;
    int index; // the position the entry had when the handle left
};

struct DeviceSet {
    std::mutex lock;
    int count = 0;
    std::array<Entry, kDeviceSetCapacity> entries;
    // Handles that left the table with the path they had, newest last (handle values are never
    // given out twice, so an old handle names its unit for good).
    std::deque<Departed> departed;
};

void RememberDeparted(DeviceSet& s, DeviceHandle handle, const std::string& path, int index) {
    if (handle == nullptr) {
        return;
    }
    if (s.departed.size() >= kDepartedMemory) {
        s.departed.pop_front();
    }
    s.departed.push_back({handle, path, index});
}

const Departed* FindDeparted(const DeviceSet& s, DeviceHandle handle) {
    for (auto it = s.departed.rbegin(); handle != nullptr && it != s.departed.rend(); ++it) {
        if (it->handle == handle) {
            return &*it;
        }
    }
    return nullptr;
}

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

std::string InstanceFromPath(std::string_view path) {
    const std::size_t last = path.rfind('#');
    if (last == std::string_view::npos || last == 0) {
        return {};
    }
    const std::size_t before = path.rfind('#', last - 1);
    if (before == std::string_view::npos) {
        return {};
    }
    return platform::devices::ToUpperAscii(path.substr(before + 1, last - before - 1));
}

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
    const std::string instance = InstanceFromPath(path);
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    for (int i = 0; i < s.count; ++i) {
        Entry& e = s.entries[static_cast<std::size_t>(i)];
        if (e.devId == id && InstanceFromPath(e.path) == instance) {
            DeviceHandle previous = e.handle;
            if (previous != handle) {
                RememberDeparted(s, previous, e.path, i);
            }
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
            RememberDeparted(s, handle, s.entries[static_cast<std::size_t>(i)].path, i);
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

DeviceHandle FindRestartedDevice(const std::string& devId, DeviceHandle previous) {
    const std::string wanted = platform::devices::ToUpperAscii(devId);
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    std::string previousPath;
    bool known = false;
    for (int i = 0; i < s.count && previous != nullptr; ++i) {
        if (s.entries[static_cast<std::size_t>(i)].handle == previous) {
            previousPath = s.entries[static_cast<std::size_t>(i)].path;
            known = true;
            break;
        }
    }
    if (const Departed* gone = known ? nullptr : FindDeparted(s, previous)) {
        previousPath = gone->path;
        known = true;
    }
    DeviceHandle only = nullptr;
    int sameId = 0;
    const std::string instance = InstanceFromPath(previousPath);
    for (int i = 0; i < s.count; ++i) {
        const Entry& e = s.entries[static_cast<std::size_t>(i)];
        if (e.devId != wanted) {
            continue;
        }
        if (known && InstanceFromPath(e.path) == instance) {
            return e.handle;
        }
        only = e.handle;
        ++sameId;
    }
    return !known && sameId == 1 ? only : nullptr;
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

int DeviceIndexOrLastOf(DeviceHandle handle) {
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    for (int i = 0; i < s.count; ++i) {
        if (s.entries[static_cast<std::size_t>(i)].handle == handle) {
            return i;
        }
    }
    const Departed* gone = FindDeparted(s, handle);
    return gone != nullptr ? gone->index : kUnknownDeviceIndex;
}

std::string DevicePathOf(DeviceHandle handle) {
    DeviceSet& s = Set();
    std::lock_guard guard(s.lock);
    for (int i = 0; i < s.count && handle != nullptr; ++i) {
        if (s.entries[static_cast<std::size_t>(i)].handle == handle) {
            return s.entries[static_cast<std::size_t>(i)].path;
        }
    }
    const Departed* gone = FindDeparted(s, handle);
    return gone != nullptr ? gone->path : std::string();
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
