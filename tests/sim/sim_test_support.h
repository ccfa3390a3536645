#pragma once
// Sends vendor commands straight to a simulated device, as the devices layer's sim backend
// does, so the device can be tested without the transport above it.

#include "sim/device.h"

#include <cstdint>
#include <vector>

namespace kestrel::sim::test {

struct Sent {
    int result;
    std::vector<std::uint8_t> data; // what came back for a data-in command
};

inline Sent SendTo(Device& device, std::uint8_t sub, std::uint32_t address,
                   platform::devices::Direction direction, std::vector<std::uint8_t> data = {},
                   std::uint32_t length = 0) {
    const std::uint8_t cdb[10] = {0xC2,
                                  sub,
                                  0,
                                  0,
                                  static_cast<std::uint8_t>(address >> 24),
                                  static_cast<std::uint8_t>(address >> 16),
                                  static_cast<std::uint8_t>(address >> 8),
                                  static_cast<std::uint8_t>(address),
                                  0,
                                  0};
    if (direction == platform::devices::Direction::kIn) {
        data.assign(length, 0xEE);
    }
    platform::devices::ScsiRequest request;
    request.cdb = cdb;
    request.cdbLength = 10;
    request.direction = direction;
    request.buffer = data.empty() ? nullptr : data.data();
    request.length = static_cast<std::uint32_t>(data.size());
    const int result = device.Execute(device.Generation(), request);
    return {result, std::move(data)};
}

inline Sent In(Device& d, std::uint8_t sub, std::uint32_t address, std::uint32_t length) {
    return SendTo(d, sub, address, platform::devices::Direction::kIn, {}, length);
}
inline int Out(Device& d, std::uint8_t sub, std::uint32_t address, std::vector<std::uint8_t> data) {
    return SendTo(d, sub, address, platform::devices::Direction::kOut, std::move(data)).result;
}
inline int None(Device& d, std::uint8_t sub, std::uint32_t address) {
    return SendTo(d, sub, address, platform::devices::Direction::kNone).result;
}

// A device with the identity fields the farm would fill in.
inline DeviceConfig Named(DeviceConfig config) {
    config.revision = "1.00";
    config.instance = "test&0";
    config.latency = LatencyModel::Zero();
    return config;
}

inline std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}
inline std::uint16_t Le16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

} // namespace kestrel::sim::test
