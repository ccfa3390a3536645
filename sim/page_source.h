#pragma once
// PageSource: how a device-side reader reads the NAND it decodes, one physical page at a time.
// A simulated device's NAND array implements it directly; FunctionPageSource wraps any read
// call, such as the vendor page-read command (sub-command 0x13) of a real device.

#include "sim/sim_api.h"
#include <cstdint>
#include <functional>
#include <span>
#include <utility>

namespace kestrel::sim {

class KESTREL_SIM_API PageSource {
public:
    virtual ~PageSource() = default;
    // Fills out (one page) with the physical page; false when the page cannot be read.
    virtual bool ReadPage(std::uint32_t physicalPage, std::span<std::uint8_t> out) = 0;
};

class KESTREL_SIM_API FunctionPageSource : public PageSource {
public:
    using Reader = std::function<bool(std::uint32_t page, std::uint8_t* data, std::uint32_t size)>;
    explicit FunctionPageSource(Reader reader) : reader_(std::move(reader)) {}
    bool ReadPage(std::uint32_t physicalPage, std::span<std::uint8_t> out) override {
        return reader_(physicalPage, out.data(), static_cast<std::uint32_t>(out.size()));
    }

private:
    Reader reader_;
};

} // namespace kestrel::sim
