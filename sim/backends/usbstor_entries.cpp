#include "sim/backends/usbstor_entries.h"

#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"

#include <cstring>

namespace kestrel::sim::backends {
namespace {

namespace reg = platform::registry;

constexpr const char* kUsbStorKey = "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";

// A registry key name cannot hold a backslash; the blanks of an inquiry field become '_'.
std::string Field(std::string_view text) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    std::string field(text.substr(first, text.find_last_not_of(' ') - first + 1));
    for (char& c : field) {
        if (c == ' ' || c == '\\') {
            c = '_';
        }
    }
    return field;
}

bool SetString(reg::HKEY key, const char* name, std::string_view text) {
    const std::string value(text);
    return reg::SetValue(key, name, reg::kRegSz, reinterpret_cast<const reg::BYTE*>(value.c_str()),
                         static_cast<reg::DWORD>(value.size() + 1)) == reg::kErrorSuccess;
}

bool CreateSubKey(reg::HKEY parent, const char* name, reg::ScopedKey& key) {
    return reg::CreateKey(parent, name, key.Receive()) == reg::kErrorSuccess;
}

} // namespace

std::string UsbStorDeviceKeyName(std::string_view vendor, std::string_view product,
                                 std::string_view revision) {
    return "Disk&Ven_" + Field(vendor) + "&Prod_" + Field(product) + "&Rev_" + Field(revision);
}

bool RecordUsbStorEntries(std::string_view vendor, std::string_view product,
                          std::string_view revision, std::string_view instance,
                          std::string_view friendlyName) {
    std::string instanceName(instance);
    for (char& c : instanceName) {
        c = c == '\\' ? '_' : c;
    }
    const std::string path = std::string(kUsbStorKey) + "\\" +
                             UsbStorDeviceKeyName(vendor, product, revision) + "\\" + instanceName;
    reg::ScopedKey existing;
    if (reg::OpenKeyEx(reg::kHkeyLocalMachine, path.c_str(), reg::kKeyQueryValue,
                       existing.Receive()) == reg::kErrorSuccess) {
        return true;
    }
    reg::ScopedKey key;
    if (reg::CreateKey(reg::kHkeyLocalMachine, path.c_str(), key.Receive()) != reg::kErrorSuccess) {
        return false;
    }
    bool ok = SetString(key.Get(), "DeviceDesc", "Disk drive") &&
              SetString(key.Get(), "FriendlyName", friendlyName) &&
              SetString(key.Get(), "Class", "DiskDrive") &&
              SetString(key.Get(), "ClassGUID", "{4d36e967-e325-11ce-bfc1-08002be10318}") &&
              SetString(key.Get(), "Service", "disk");
    reg::ScopedKey parameters;
    ok = ok && CreateSubKey(key.Get(), "Device Parameters", parameters);
    reg::ScopedKey properties;
    ok = ok && CreateSubKey(key.Get(), "Properties", properties);
    if (ok) {
        reg::SecurityDescriptor descriptor;
        descriptor.dacl = {{reg::kAccessAllowedAceType,
                            reg::kContainerInheritAce | reg::kObjectInheritAce, reg::kKeyAllAccess,
                            reg::kSidLocalSystem}};
        ok = reg::SetKeySecurity(properties.Get(), reg::kDaclSecurityInformation, descriptor) ==
             reg::kErrorSuccess;
    }
    return ok;
}

} // namespace kestrel::sim::backends
