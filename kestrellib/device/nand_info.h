#pragma once
// NandInfo: the 64-byte NAND identification and geometry record a device delivers (sub-command
// 0x10) and the host completes. Little-endian on the device and on every host we build for.

#include <bit>
#include <cstddef>
#include <cstdint>

namespace kestrel::device {

static_assert(std::endian::native == std::endian::little,
              "device records are laid out in host order on little-endian hosts");

#pragma pack(push, 1)
struct NandInfo {
    std::uint16_t pagesPerBlock;
    std::uint16_t rawPageSize; // page size including the spare area
    std::uint16_t pageSize;    // data bytes per page
    std::uint16_t eccSize;
    std::uint16_t spareParamA; // 64 in ECC mode 1, 32 in mode 0
    std::uint16_t spareParamB; // 44 in ECC mode 1, 32 in mode 0
    std::uint16_t blockCount;
    std::uint8_t blockCountShift;
    std::uint8_t eccMode;
    std::uint8_t reserved16[6];
    std::uint8_t pagesPerBlockShift;
    std::uint8_t reserved23;
    std::uint16_t spareSize;
    std::uint8_t reserved26[2];
    std::uint32_t idLength;
    std::uint8_t id[20]; // maker code first, or "SDBT", or "SPI..."
    std::uint8_t reserved52[12];
};

// The identification record of loader level 0: 16 bytes of u16 words.
struct OldNandInfo {
    std::uint16_t word[8];
};
#pragma pack(pop)

static_assert(sizeof(NandInfo) == 64);
static_assert(offsetof(NandInfo, blockCountShift) == 14);
static_assert(offsetof(NandInfo, pagesPerBlockShift) == 22);
static_assert(offsetof(NandInfo, spareSize) == 24);
static_assert(offsetof(NandInfo, idLength) == 28);
static_assert(offsetof(NandInfo, id) == 32);
static_assert(sizeof(OldNandInfo) == 16);

// Index of the highest set bit; 0 for 0 and 1.
constexpr std::uint8_t Log2(std::uint32_t value) {
    return value == 0 ? 0 : static_cast<std::uint8_t>(std::bit_width(value) - 1);
}

// Converts the level-0 record into a zero-filled NandInfo. Returns whether the record describes
// the large-page chip that sets the process-wide LargePageFlag.
bool ConvertOldNandInfo(const OldNandInfo& old, NandInfo& info);

// Process-wide flag set by the level-0 conversion of the large-page chip, read by the resource
// procedure and cleared by each programming procedure at its start.
bool LargePageFlag();
void SetLargePageFlag(bool value);

} // namespace kestrel::device
