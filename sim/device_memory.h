#pragma once
// The device's memory as the host reaches it with sub-commands 0x01 and 0x02: a 32-bit address
// space stored sparsely in 4 KiB frames; bytes never written read 0. Not thread-safe: the
// owning device serialises access.

#include "sim/sim_api.h"
#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace kestrel::sim {

class KESTREL_SIM_API DeviceMemory {
public:
    // Both return false when the range runs past the end of the 32-bit address space.
    bool Write(std::uint32_t address, const std::uint8_t* data, std::size_t length);
    bool Read(std::uint32_t address, std::uint8_t* out, std::size_t length) const;

    std::uint32_t Word(std::uint32_t address) const;          // little-endian
    void SetWord(std::uint32_t address, std::uint32_t value); // little-endian
    std::vector<std::uint8_t> Bytes(std::uint32_t address, std::size_t length) const;

    void Clear() { frames_.clear(); }

private:
    static constexpr std::uint32_t kFrameSize = 4096;
    using Frame = std::array<std::uint8_t, kFrameSize>;
    std::unordered_map<std::uint32_t, std::unique_ptr<Frame>> frames_;
};

} // namespace kestrel::sim
