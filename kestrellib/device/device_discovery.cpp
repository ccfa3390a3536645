#include "kestrellib/device/device_discovery.h"

#include "kestrel/isp_job.h"
#include "kestrellib/device/device_set.h"
#include "platform/devices/devices.h"
#include "platform/devices/usbstor_path.h"

#include <cstring>
#include <vector>

namespace kestrel::device {
namespace {

namespace devices = platform::devices;

void ReplaceAll(std::string& text, char from, char to) {
    for (char& c : text) {
        if (c == from) {
            c = to;
        }
    }
}

void CutBeforeLast(std::string& text, char c) {
    const std::size_t at = text.rfind(c);
    if (at != std::string::npos) {
        text.resize(at);
    }
}

std::string Enumerator(const std::string& rest) {
    return rest.substr(0, rest.find('\\'));
}

// The interface name of a broadcast record, read within the record's own size.
std::string InterfaceName(const unsigned char* record) {
    std::uint32_t size = 0;
    std::memcpy(&size, record, 4);
    if (size <= devices::kBroadcastNameOffset) {
        return {};
    }
    const char* name = reinterpret_cast<const char*>(record + devices::kBroadcastNameOffset);
    return std::string(name, strnlen(name, size - devices::kBroadcastNameOffset));
}

int Arrival(const std::string& fullName) {
    std::string rest = fullName.size() > 4 ? fullName.substr(4) : std::string();
    CutBeforeLast(rest, '#');
    CutBeforeLast(rest, '#');
    ReplaceAll(rest, '#', '\\');
    rest = devices::ToUpperAscii(rest);
    if (Enumerator(rest) == "ROOT") {
        return 0;
    }
    if (rest.find(kModelDevIdPart) == std::string::npos) {
        return 0;
    }
    OpenAndRegisterDevice(fullName);
    return 1;
}

int Removal(const std::string& fullName) {
    std::string rest = fullName.size() > 4 ? fullName.substr(4) : std::string();
    const std::size_t lastHash = rest.rfind('#');
    if (FindDeviceByPath(fullName) == nullptr) {
        return 0;
    }
    if (lastHash != std::string::npos) {
        rest.resize(lastHash);
    }
    ReplaceAll(rest, '#', '\\');
    rest = devices::ToUpperAscii(rest);
    if (Enumerator(rest) == "ROOT" || rest.find(kModelDevIdPart) == std::string::npos) {
        return 0;
    }
    return CloseDevice(FindDeviceByPath(fullName)) ? 1 : 0;
}

} // namespace

int EnumerateDevices() {
    std::vector<devices::InterfaceInfo> interfaces;
    if (!devices::Enumerate(interfaces)) {
        return -1;
    }
    for (const devices::InterfaceInfo& info : interfaces) {
        if (info.friendlyName.find(kModelFriendlyName) != std::string::npos) {
            OpenAndRegisterDevice(devices::ToUpperAscii(info.path));
        }
    }
    return 1;
}

int HandleDeviceChange(std::uint32_t event, const void* record) {
    switch (event) {
    case devices::kDeviceQueryRemoveFailed:
    case devices::kDeviceRemovePending:
        return 1;
    case devices::kDeviceArrival:
    case devices::kDeviceRemoveComplete:
    case devices::kDeviceQueryRemove:
        break;
    default:
        return 1;
    }
    if (record == nullptr) {
        return 1;
    }
    const auto* bytes = static_cast<const unsigned char*>(record);
    // The record's size word comes first and names its bytes: nothing past them is read.
    std::uint32_t size = 0;
    std::memcpy(&size, bytes, 4);
    if (size < 12) { // size, device type, reserved
        return 1;
    }
    std::uint32_t type = 0;
    std::memcpy(&type, bytes + 4, 4);
    if (type != devices::kDeviceTypeInterface) {
        return 1;
    }
    const std::string fullName = InterfaceName(bytes);
    return event == devices::kDeviceArrival ? Arrival(fullName) : Removal(fullName);
}

void CloseAllDevices(platform::WindowHandle window) {
    const int count = DeviceCount();
    for (int i = count - 1; i >= 0; --i) {
        DeviceHandle handle = DeviceHandleAt(i);
        if (handle != nullptr) {
            CloseDevice(handle);
        }
        platform::PostWindowMessage(window, WM_ISP_STATUS, kStatusDevicesChanged, 0);
    }
}

} // namespace kestrel::device
