#include "kestrellib/device/device_exports.h"

#include "kestrellib/device/device_discovery.h"
#include "kestrellib/device/device_set.h"

#include <cstring>

using namespace kestrel::device;

// No exception leaves the library: the only throwing operations inside are allocations, and
// an exhausted heap ends in the documented failure results.

void Device_handle_set_init(void) {
    InitDeviceSet();
}

int EnumUsbStorDevice(void) {
    try {
        return EnumerateDevices();
    } catch (...) {
        return -1;
    }
}

int ParseDeviceChange(unsigned event, const void* header) {
    try {
        return HandleDeviceChange(event, header);
    } catch (...) {
        return 0;
    }
}

int Device_handle_set_get_count(void) {
    return DeviceCount();
}

void* Device_handle_set_get_heald(int index) {
    return DeviceHandleAt(index);
}

char* Device_handle_set_get_DevId(int index) {
    try {
        const std::string id = DeviceDevIdAt(index);
        char* text = static_cast<char*>(std::malloc(id.size() + 1));
        if (text != nullptr) {
            std::memcpy(text, id.c_str(), id.size() + 1);
        }
        return text;
    } catch (...) {
        return nullptr;
    }
}

void CloseAllDevice(void* window) {
    try {
        CloseAllDevices(window);
    } catch (...) {
    }
}
