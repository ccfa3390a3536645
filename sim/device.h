#pragma once
// One simulated device of the production model, as the station sees it through the vendor
// command (operation code 0xC2): the NAND array, device memory with the loader signature, the
// NAND controller registers, the system-information record, the boot table and boot device id,
// plug state and timing. Host side: Execute, called by the devices layer's sim backend. Device
// side: everything else, for tests and the device-side readers to look at what the host did.
//
// Sub-commands (byte 1 of the command block; the address is bytes 4..7, big-endian):
//   0x01 out  write device memory at address (multiple of 4)
//   0x02 in   read device memory
//   0x05 none start the program loaded in memory at the address (recorded)
//   0x07 none DRAM initialisation (counted)
//   0x10 in   identification record: 16 bytes at loader level 0, 64 bytes above
//   0x11 none erase the block holding page `address`
//   0x12 out  program page `address`            } through the disk window while the word at
//   0x13 in   read page `address`               } 0x9D80012C is 0 (see below)
//   0x14 out  boot table, 4096 bytes (loader level 2 and up)
//   0x15 in   boot device id, 4 bytes (level 2 and up)
//   0x16 out  set boot device id, 4 bytes (level 2 and up)
//   0x20 out  NAND info record, 64 bytes (level 1 and up)
//   0x30 out  system-information block, 1024 bytes, programmed at page `address` (level 1 up)
//   0x31 in   system-information block, 1024 bytes (level 1 and up)
// A command the loader level does not have, an unknown sub-command, a wrong direction, a
// misaligned or out-of-range address or a data length that is not what the sub-command carries
// (a page command of another length than the page size) fails with kErrorGenFailure (31) and is
// recorded as a host error, as are programs the chip refuses for their order (nand_array.h);
// a program into a page that is not erased is recorded and carried out as the chip would (bits
// only cleared). With the config's bad-block status on, an erase or program of a bad block fails
// with kErrorGenFailure without being a host error.
//
// Device memory words: 0x9D800010 loader signature (A5, 01, level | class << 4, 5A, 0, 0, 0, 0);
// 0x9D80012C disk window (power-on 1): while it is 0, page commands 0x12 and 0x13 reach the
// device's disk in 2048-byte units (unit 0 and 1 hold the boot table) instead of raw NAND;
// 0x920050B8 kept across restarts, 0 after power-on; 0x93008000..0x9300801F NAND controller
// (sim/nand_controller.h).
//
// Power: Unplug/Replug are a power cycle (memory, controller and the chip's parameter registers
// back to power-on values; the NAND array, the system-information record, the boot device id
// and the disk keep what they hold). Restart is a soft reset: it leaves the bus at once and
// comes back after the restart delay under the same identity; memory and controller registers
// return to power-on values, but the word at 0x920050B8 and the parameter registers stay.
// Handles opened before an unplug or restart fail with kErrorNotConnected for good.
//
// Thread-safe: every call takes the device's lock.

#include "platform/devices/devices.h"
#include "sim/device_config.h"
#include "sim/device_memory.h"
#include "sim/latency_clock.h"
#include "sim/nand_array.h"
#include "sim/nand_controller.h"
#include "sim/sim_api.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::sim {

inline constexpr std::uint8_t kVendorOpcode = 0xC2;
inline constexpr std::uint32_t kLoaderSignatureAddress = 0x9D800010;
inline constexpr std::uint32_t kDiskWindowWord = 0x9D80012C;
inline constexpr std::uint32_t kParameterMarkWord = 0x920050B8;
inline constexpr std::uint32_t kDiskUnit = 2048;
inline constexpr std::size_t kSysInfoBlockSize = 1024;
inline constexpr std::size_t kBootTableSize = 4096;
inline constexpr std::size_t kNandInfoSize = 64;
inline constexpr std::size_t kOldIdRecordSize = 16;

enum class HostErrorKind {
    kProgramNotErased,   // a page programmed twice without an erase in between
    kPageOrder,          // a page programmed below one already programmed in its block
    kUpperPageFirst,     // upper page of a pair programmed while its lower page holds nothing
    kLengthMismatch,     // data length not what the sub-command carries
    kAddressOutOfRange,  // page beyond the chip, memory beyond the address space
    kMisalignedAddress,  // memory address not a multiple of 4
    kUnsupportedCommand, // unknown sub-command, or one the loader level does not have
    kWrongDirection,     // data phase in the wrong direction
    kMalformedCommand,   // not operation code 0xC2, not 10 bytes, reserved bytes not 0
};

KESTREL_SIM_API const char* HostErrorName(HostErrorKind kind);

struct HostError {
    HostErrorKind kind;
    std::uint8_t subCommand;
    std::uint32_t address;
    std::uint32_t length;
    std::string detail;
};

struct CommandRecord {
    std::array<std::uint8_t, 16> cdb{};
    std::uint8_t cdbLength = 0;
    platform::devices::Direction direction = platform::devices::Direction::kNone;
    std::uint32_t length = 0;
    int result = 0; // 0 or the error code returned

    std::uint8_t SubCommand() const { return cdb[1]; }
    std::uint32_t Address() const {
        return static_cast<std::uint32_t>(cdb[4]) << 24 | static_cast<std::uint32_t>(cdb[5]) << 16 |
               static_cast<std::uint32_t>(cdb[6]) << 8 | cdb[7];
    }
};

struct SysInfoWrite {
    std::uint32_t page;
    std::vector<std::uint8_t> block; // 1024 bytes
};

class KESTREL_SIM_API Device {
public:
    // The revision must be filled (the farm does it in Add); an empty instance is made from the
    // config's USB serial and port.
    explicit Device(DeviceConfig config);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    const DeviceConfig& Config() const { return config_; }
    const Chip& Geometry() const { return config_.chip; }
    std::string InterfacePath() const;
    const std::string& FriendlyName() const { return friendlyName_; }
    bool IsProductionModel() const;

    // ---- plug state
    bool Present() const;
    std::uint64_t Generation() const; // changes at every unplug and restart
    void Unplug();
    void Replug();
    // Plugs an unplugged device into another USB port: it comes back with the instance and
    // interface path of that port (a given `instance` of the config is replaced too). Nothing
    // happens while the device is present.
    void ReplugOnPort(const std::string& port);
    // Leaves now; comes back after delayMs (the config's restart delay when omitted), scaled by
    // the clock's sleep scale (at once in tests that set it to 0).
    void Restart();
    void Restart(std::uint32_t delayMs);
    // Blocks until a pending restart has come back (or returns at once).
    void WaitForRestart();
    // Receives arrivals and removals (set by the farm). Called outside the device's lock.
    void SetPlugListener(std::function<void(std::uint32_t event, const std::string& path)> fn);

    // ---- host side
    // Runs one command sent on a handle opened at `generation`. 0 or an error code.
    int Execute(std::uint64_t generation, const platform::devices::ScsiRequest& request);

    // ---- faults at run time
    void AddFailure(const FailureRule& rule);
    void ClearFailures();

    // ---- device side
    std::vector<std::uint8_t> PageBytes(std::uint64_t page) const; // stored, no read faults
    // The page as the host's read command returns it: the same read faults (failing pages,
    // factory-bad blocks) apply.
    std::vector<std::uint8_t> ReadPage(std::uint64_t page) const;
    bool IsPageErased(std::uint64_t page) const;
    std::uint32_t PageProgramsSinceErase(std::uint64_t page) const;
    BlockStats BlockStatsOf(std::uint32_t block) const;
    bool IsBlockBad(std::uint32_t block) const;

    std::vector<std::uint8_t> Memory(std::uint32_t address, std::size_t length) const;
    std::uint32_t MemoryWord(std::uint32_t address) const; // controller window included
    void SetMemoryWord(std::uint32_t address, std::uint32_t value);

    std::uint8_t ParameterRegister(std::uint8_t reg) const;
    std::map<std::uint8_t, std::uint8_t> ParameterRegisters() const;
    std::vector<ParameterChange> ParameterHistory() const;
    std::vector<std::uint32_t> ControllerModeWrites() const;

    std::vector<std::uint8_t> SysInfoRecord() const; // 1024 bytes, as 0x31 returns it
    std::vector<SysInfoWrite> SysInfoWrites() const;
    std::vector<std::vector<std::uint8_t>> BootTables() const; // every 0x14 received
    std::vector<std::uint8_t> DiskBytes(std::uint64_t offset, std::size_t length) const;
    // Stores bytes in the disk, as the device's own mass-storage side does for a host's write.
    void StoreDiskBytes(std::uint64_t offset, const std::uint8_t* data, std::size_t length);
    std::uint32_t BootDeviceId() const;
    std::vector<std::uint32_t> BootDeviceIdWrites() const;
    std::vector<std::vector<std::uint8_t>> NandInfoWrites() const; // every 0x20 received
    std::vector<std::uint32_t> StartedPrograms() const;            // entry addresses of 0x05
    std::uint32_t DramInitCount() const;                           // 0x07 received

    // The identification record the device sends for 0x10 (16 or 64 bytes by loader level).
    std::vector<std::uint8_t> IdRecord() const;

    std::vector<HostError> HostErrors() const;
    void ClearHostErrors();
    std::vector<CommandRecord> CommandLog() const;
    void ClearCommandLog();
    std::uint64_t CommandCount() const; // commands executed (failed ones included)

    // Modelled time the device has spent on commands, in microseconds.
    double BusyMicroseconds() const;

private:
    using Direction = platform::devices::Direction;
    int Run(const platform::devices::ScsiRequest& request, double& costUs);
    int RunSub(std::uint8_t sub, std::uint32_t address, Direction direction, std::uint8_t* data,
               std::uint32_t length, double& costUs);
    bool TakeFailure(std::uint8_t sub, int& code);
    // The command's result for what the chip made of a program, host errors noted.
    int ProgramOutcome(NandArray::ProgramResult result, std::uint8_t sub, std::uint32_t page,
                       std::uint32_t length, const char* what);
    void NoteHostError(HostErrorKind kind, std::uint8_t sub, std::uint32_t address,
                       std::uint32_t length, std::string detail);
    bool MemoryWrite(std::uint32_t address, const std::uint8_t* data, std::uint32_t length);
    bool MemoryRead(std::uint32_t address, std::uint8_t* data, std::uint32_t length) const;
    void PowerOnMemory(bool keepParameterMark);
    void DiskWrite(std::uint64_t offset, const std::uint8_t* data, std::size_t length);
    void DiskRead(std::uint64_t offset, std::uint8_t* data, std::size_t length) const;
    std::vector<std::uint8_t> IdRecordLocked() const;
    void Delay(double costUs, std::chrono::steady_clock::time_point issued);
    // Brings the device back after delayMs (scaled) on the restart thread.
    void ReplugLater(std::uint32_t delayMs);
    void Notify(std::uint32_t event);

    DeviceConfig config_;
    std::string path_; // guarded by lock_ (it changes with ReplugOnPort)
    std::string friendlyName_;

    mutable std::mutex lock_;
    bool present_ = true;
    std::uint64_t generation_ = 1;
    NandArray nand_;
    DeviceMemory memory_;
    NandController controller_;
    std::vector<FailureRule> failures_;
    std::vector<std::uint8_t> sysInfo_;
    std::vector<SysInfoWrite> sysInfoWrites_;
    std::vector<std::vector<std::uint8_t>> bootTables_;
    std::map<std::uint64_t, std::array<std::uint8_t, kDiskUnit>> disk_;
    std::uint32_t bootDeviceId_;
    std::vector<std::uint32_t> bootDeviceIdWrites_;
    std::vector<std::vector<std::uint8_t>> nandInfoWrites_;
    std::vector<std::uint32_t> startedPrograms_;
    std::uint32_t dramInits_ = 0;
    std::vector<HostError> hostErrors_;
    std::deque<CommandRecord> log_;
    std::uint64_t commands_ = 0;
    bool cablePulled_ = false; // the configured unplug happened
    double busyUs_ = 0;
    LatencyClock pacing_;

    std::function<void(std::uint32_t, const std::string&)> listener_;

    // Restart: a thread that brings the device back after the delay.
    std::mutex restartLock_;
    std::condition_variable restartWake_;
    bool restartCancel_ = false;
    std::thread restarter_;
};

} // namespace kestrel::sim
