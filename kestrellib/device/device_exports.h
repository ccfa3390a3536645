#pragma once
// The device-set exports of Kestrellib. The operator program calls Device_handle_set_init and
// EnumUsbStorDevice when its main window is created, ParseDeviceChange from its device-change
// handler, the getters when it builds the jobs, and CloseAllDevice when it shuts the devices
// down. Indexes are 0-based; an index out of range gives a null handle and an empty DevId.

#include "platform/export.h"

#ifdef __cplusplus
#include <cstdlib>
#include <string>
#endif

KESTREL_EXPORT void Device_handle_set_init(void);
// -1 when the interface list cannot be obtained, otherwise nonzero.
KESTREL_EXPORT int EnumUsbStorDevice(void);
// event: the device-change code; header: the device broadcast record. 1 or 0 (see the device
// set's documentation); the program returns it from its message handler.
KESTREL_EXPORT int ParseDeviceChange(unsigned event, const void* header);
KESTREL_EXPORT int Device_handle_set_get_count(void);
KESTREL_EXPORT void* Device_handle_set_get_heald(int index);
// A copy of the entry's DevId, NUL-terminated, allocated with malloc: the caller owns it and
// releases it with free(). Never null unless memory is exhausted.
KESTREL_EXPORT char* Device_handle_set_get_DevId(int index);
// window: the message sink (platform WindowHandle) that receives WM_ISP_STATUS 8 per device.
KESTREL_EXPORT void CloseAllDevice(void* window);

#ifdef __cplusplus
namespace kestrel::device {
// Device_handle_set_get_DevId as a string, freeing the exported copy.
inline std::string DeviceSetDevId(int index) {
    char* text = Device_handle_set_get_DevId(index);
    std::string id = text != nullptr ? text : "";
    std::free(text);
    return id;
}
} // namespace kestrel::device
#endif
