#pragma once
// A simulated device's NAND as a PageSource for the device-side readers: pages as the host's read
// command returns them, with the same read faults (a failing page, a factory-bad block), so a
// reader never finds clean what the host would read wrong.

#include "sim/device.h"
#include "sim/page_source.h"
#include "sim/sim_api.h"

#include <algorithm>
#include <memory>

namespace kestrel::sim {

class DevicePageSource : public PageSource {
public:
    explicit DevicePageSource(std::shared_ptr<const Device> device) : device_(std::move(device)) {}
    bool ReadPage(std::uint32_t physicalPage, std::span<std::uint8_t> out) override {
        if (physicalPage >= device_->Geometry().PageCount()) {
            return false;
        }
        const auto bytes = device_->ReadPage(physicalPage);
        const std::size_t n = std::min(bytes.size(), out.size());
        std::copy_n(bytes.begin(), n, out.begin());
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(n), out.end(), 0xFF);
        return true;
    }

private:
    std::shared_ptr<const Device> device_;
};

} // namespace kestrel::sim
