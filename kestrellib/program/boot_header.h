#pragma once
// The boot header page: ROM-code options and clock/DRAM settings from config.ini, in the short
// form ("CK8S") or, for boot images whose header word 4 is 0x30000 or more, the directory form
// ("DK8S") that also carries three words of the image header.
//
// Every call of the boot-code procedure builds its own BootConfig from config.ini and its own
// header page from it, so devices programmed at once never see each other's "DK8S" change.
// config.ini may name more items and clock entries than the tables hold: [General] ItemNum is
// bounded to 10 and FreqNum to 4 (negative values count as 0); the sections beyond are not read.

#include <cstdint>
#include <span>
#include <string>

namespace kestrel::program {

inline constexpr int kMaxConfigItems = 10;
inline constexpr int kClockEntries = 4;

#pragma pack(push, 1)
struct ConfigHeader {
    char magic[4]; // "CK8S", or "DK8S" in the directory form
    std::uint32_t
        flags; // bit i: [item i] enable; bit 30 HoldingPerInRomcode; 31 Enable_RomCodeMessage
    std::uint32_t value[kMaxConfigItems]; // [item i] value
};

struct ClockEntry {
    std::uint16_t freqSpllInt;
    std::uint16_t freqSpllPnt;
    std::uint8_t freqArm;
    std::uint8_t freqArmAhb;
    std::uint8_t freqArmApb;
    std::uint8_t freqSys;
    std::uint8_t freqSysAhb;
    std::uint8_t freqSysApb;
    std::uint8_t freqCeva;
    std::uint8_t freqCevaAhb;
    std::uint8_t freqCevaApb;
    std::uint8_t refCeva23;
    std::uint8_t refArm23;
    std::uint8_t baudIdx;
    std::uint32_t regScuCDdrPhyCtrl;
    std::uint32_t regDram08;
    std::uint32_t regDram0C;
    std::uint32_t regDram18;
    std::uint32_t regDram1C;
    std::uint32_t regDram24;
    std::uint32_t regDram28;
};

struct ClockTable {
    ClockEntry entry[kClockEntries];
};
#pragma pack(pop)

static_assert(sizeof(ConfigHeader) == 48);
static_assert(sizeof(ClockEntry) == 44);
static_assert(sizeof(ClockTable) == 176);

struct BootConfig {
    ConfigHeader header;
    ClockTable clocks;
};

// Page offsets of the two forms.
inline constexpr std::size_t kShortFormBytes = 224;       // ConfigHeader at 0, ClockTable at 48
inline constexpr std::size_t kDirectoryFormBytes = 272;   // directory, tables, image words
inline constexpr std::size_t kDirectoryConfigOffset = 32; // ConfigHeader
inline constexpr std::size_t kDirectoryClockOffset = 80;  // ClockTable
inline constexpr std::size_t kDirectoryImageOffset = 256; // image header words 4, 6, 7 and 0

// The built-in clock/DRAM entry every table entry starts from.
ClockEntry DefaultClockEntry();

// Reads config.ini (beside the program) into a fresh ConfigHeader and ClockTable.
BootConfig BuildConfigTables();

enum class BootHeaderForm { kShort, kDirectory };

// Fills page (zero-filled by the caller, at least kDirectoryFormBytes long) with the boot header
// for the boot image file at imagePath: the short form when the file's first 32 bytes cannot be
// read or its word 4 is below 0x30000, else the directory form, for which config's magic
// becomes "DK8S" (config is the caller's own copy).
BootHeaderForm BuildBootHeader(std::span<std::uint8_t> page, BootConfig& config,
                               const std::string& imagePath);

} // namespace kestrel::program
