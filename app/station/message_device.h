#pragma once
// The device a message-box text is about: per-device texts begin "Device:%d ==>" or
// "Device%d-->" with the device index.

#include <optional>
#include <string>

namespace kestrel::station {

// The device index a message text names at its start ("Device:5 ==>", "Device5-->"), if any.
std::optional<int> DeviceOfMessage(const std::string& text);

} // namespace kestrel::station
