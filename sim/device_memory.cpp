#include "sim/device_memory.h"

#include <algorithm>
#include <cstring>

namespace kestrel::sim {
namespace {

bool InAddressSpace(std::uint32_t address, std::size_t length) {
    return length <= (std::uint64_t{1} << 32) - address;
}

} // namespace

bool DeviceMemory::Write(std::uint32_t address, const std::uint8_t* data, std::size_t length) {
    if (!InAddressSpace(address, length)) {
        return false;
    }
    std::uint64_t at = address;
    while (length > 0) {
        const auto frameIndex = static_cast<std::uint32_t>(at / kFrameSize);
        const std::size_t offset = at % kFrameSize;
        const std::size_t n = std::min<std::size_t>(length, kFrameSize - offset);
        auto& frame = frames_[frameIndex];
        if (!frame) {
            frame = std::make_unique<Frame>();
            frame->fill(0);
        }
        std::memcpy(frame->data() + offset, data, n);
        data += n;
        at += n;
        length -= n;
    }
    return true;
}

bool DeviceMemory::Read(std::uint32_t address, std::uint8_t* out, std::size_t length) const {
    if (!InAddressSpace(address, length)) {
        return false;
    }
    std::uint64_t at = address;
    while (length > 0) {
        const auto frameIndex = static_cast<std::uint32_t>(at / kFrameSize);
        const std::size_t offset = at % kFrameSize;
        const std::size_t n = std::min<std::size_t>(length, kFrameSize - offset);
        auto it = frames_.find(frameIndex);
        if (it == frames_.end()) {
            std::memset(out, 0, n);
        } else {
            std::memcpy(out, it->second->data() + offset, n);
        }
        out += n;
        at += n;
        length -= n;
    }
    return true;
}

std::uint32_t DeviceMemory::Word(std::uint32_t address) const {
    std::uint8_t b[4] = {};
    Read(address, b, 4);
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void DeviceMemory::SetWord(std::uint32_t address, std::uint32_t value) {
    const std::uint8_t b[4] = {
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    Write(address, b, 4);
}

std::vector<std::uint8_t> DeviceMemory::Bytes(std::uint32_t address, std::size_t length) const {
    std::vector<std::uint8_t> out(length, 0);
    Read(address, out.data(), length);
    return out;
}

} // namespace kestrel::sim
