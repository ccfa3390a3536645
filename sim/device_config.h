#pragma once
// Everything that makes one simulated device what it is: its chip, loader, identity, media
// faults, command failures and timing. A default-constructed config is a healthy device of the
// production model with loader level 2; tests change the fields they care about:
//
//   sim::DeviceConfig config = sim::DeviceConfig::ForClass(9);
//   config.loaderLevel = 1;
//   config.factoryBadBlocks = {3, 7};
//   config.failingPages = {640};
//   config.failures.push_back({.subCommand = 0x12, .count = 3, .errorCode = 31});

#include "sim/chip.h"
#include "sim/sim_api.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::sim {

// Commands that fail at the transport level (the pass-through itself reports an error) before
// the device acts on them.
struct FailureRule {
    int subCommand = -1;    // the sub-command it applies to; -1 for every command
    std::uint32_t skip = 0; // matching commands that pass before the failures begin
    std::int32_t count = 1; // failures in a row; -1 fails for ever (a permanent failure)
    int errorCode = 31;     // the OS error code the failure reports
};

// A block that wears out: it works until it has been erased `afterErases` times, then every
// program of it stores one bit wrong (a grown-bad block). 0 makes it bad from the start.
struct GrownBadBlock {
    std::uint32_t block = 0;
    std::uint32_t afterErases = 0;
};

// Time per command and per NAND operation. Defaults: 0.5 ms per USB command round trip and
// 40 MB/s of data (USB 2.0 mass-storage measurements); SLC 2 KiB pages read 25 us, program
// 200 us, erase 1.5 ms; MLC pages of 4 KiB and more read 50 us, program 1.3 ms, erase 3 ms
// (common NAND datasheets). Sources in docs/simulation.md.
struct KESTREL_SIM_API LatencyModel {
    double commandUs = 500.0;
    double bytesPerUs = 40.0; // 40 MB/s
    double pageReadUs = 25.0;
    double pageProgramUs = 200.0;
    double blockEraseUs = 1500.0;
    // Real time taken per unit of modelled time, further multiplied by the clock's sleep
    // scale (tests set that to 0, so no simulated command ever sleeps there).
    double scale = 1.0;
    // Real time the device may run ahead of its modelled time before it sleeps to catch up
    // (sim/latency_clock.h): sleeps are coalesced so that their wake-ups do not cost the host
    // more processor time than its own work; the modelled time is kept all the same.
    double sleepQuantumUs = 50000.0;

    static LatencyModel Zero();
    static LatencyModel ForPageSize(std::uint32_t pageSize); // SLC up to 2 KiB, else MLC
};

struct KESTREL_SIM_API DeviceConfig {
    Chip chip = DefaultChip();

    // Loader signature at 0x9D800010: present unless `loaderSignature` is false (an old loader,
    // which then behaves as level 0 and class 0 whatever the two fields say).
    bool loaderSignature = true;
    int loaderLevel = 2; // 0..15
    int loaderClass = 0; // 0..15

    std::uint32_t bootDeviceId = 0;   // what sub-command 0x15 reports
    std::uint16_t sysInfoBlock = 2;   // in the factory system-information record
    std::uint16_t bootAreaOffset = 2; // ditto

    // SCSI inquiry strings, USB port and serial. The farm fills an empty revision with 1.00 (the
    // units of one production batch all report one revision, and the station tells them apart
    // by their port) and an empty port with 1-1.1, 1-1.2, ... in order of addition. The
    // instance part of the interface path is made from serial and port as on Linux
    // ("<serial>&<port>&0", or "kestrel&<port>&0" without a serial) unless `instance` is given.
    std::string vendor = "USB DISK";
    std::string product = "MASS STORAGE";
    std::string revision;
    std::string port;
    std::string usbSerial;
    std::string instance;

    std::vector<std::uint32_t> factoryBadBlocks; // read back as 0x00, keep nothing
    std::vector<GrownBadBlock> grownBadBlocks;
    // Pages whose read-back differs from what was programmed in one byte (in the middle of the
    // page), every time they are read.
    std::vector<std::uint32_t> failingPages;
    std::vector<FailureRule> failures;

    // Page programs within a block must come in ascending page order, as MLC and most modern SLC
    // chips require: a program below (or at) the highest page programmed since the block's erase
    // fails and is recorded as a host error. Unset: on for MLC chips (Chip::IsMlc), off else.
    std::optional<bool> pageOrder;
    // Erase and program of a bad block (factory-bad, or grown-bad and worn out) fail with a
    // check condition, as on chips whose status register reports them; off, the commands pass
    // and the data do not stick.
    bool badBlockStatus = false;
    bool PageOrderRule() const { return pageOrder.value_or(chip.IsMlc()); }

    // Values of the NAND chip's parameter registers at power-on; registers not listed read 0.
    std::map<std::uint8_t, std::uint8_t> parameterRegisters = DefaultParameterRegisters();

    // The identification record as the device sends it, instead of the one built from the
    // chip (16 bytes at loader level 0, 64 bytes above).
    std::optional<std::vector<std::uint8_t>> idRecord;

    // A cable pulled mid-run: the device leaves (a power cycle, as Unplug) when the host sends
    // command number `unplugAfterCommands + 1`, which fails with error 1167, and comes back
    // `replugAfterMs` later (scaled like a restart's delay), or never when that is empty.
    std::optional<std::uint32_t> unplugAfterCommands;
    std::optional<std::uint32_t> replugAfterMs;

    LatencyModel latency = LatencyModel::ForPageSize(2048);
    // How long a restart keeps the device away before it re-enumerates.
    std::uint32_t restartDelayMs = 500;
    // Keep a log of every command (sub-command, address, length, outcome). Bounded to the
    // most recent kCommandLogLimit entries.
    bool commandLog = true;

    static std::map<std::uint8_t, std::uint8_t> DefaultParameterRegisters();
    // A default device whose chip is the preset of the identification class, with the latency
    // of its page size.
    static DeviceConfig ForClass(int idClass);
    static DeviceConfig ForChip(const Chip& chip);
};

inline constexpr std::size_t kCommandLogLimit = 65536;

} // namespace kestrel::sim
