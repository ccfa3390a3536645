#pragma once
// The device's NAND controller registers as the host drives them through device memory, and the
// NAND chip's parameter registers behind them.
//
//   0x93008000  mode word (the host writes 11 before and 9 after a manual parameter sequence)
//   0x93008008  two timing words (the host sets their bytes 0 and 1 to 0x22)
//   0x93008010  pin control: 0x01 chip enable (active low), 0x10 command latch, 0x20 address
//               latch, 0x40 write enable (a rising edge latches the data-out byte), 0x80 read
//               enable (a falling edge puts the chip's output into data-in), 0x100 bus drive
//   0x93008014  data out (low byte driven onto the bus)
//   0x93008018  data in (the byte the chip put out)
//
// The chip understands the parameter commands: 0x37 (then an address byte; read enable gives
// the register's value), 0x36 (then address/data byte pairs, staged) and 0x16 (commits the
// staged values). Every commit is kept in a history with the old and new values. Words of the
// window not listed above are plain storage. Not thread-safe: the owning device serialises.

#include "sim/sim_api.h"
#include <cstdint>
#include <map>
#include <vector>

namespace kestrel::sim {

inline constexpr std::uint32_t kControllerBase = 0x93008000;
inline constexpr std::uint32_t kControllerMode = 0x93008000;
inline constexpr std::uint32_t kControllerTiming = 0x93008008;
inline constexpr std::uint32_t kControllerControl = 0x93008010;
inline constexpr std::uint32_t kControllerDataOut = 0x93008014;
inline constexpr std::uint32_t kControllerDataIn = 0x93008018;
inline constexpr std::uint32_t kControllerEnd = 0x93008020; // one past the window

struct ParameterChange {
    std::uint8_t reg;
    std::uint8_t before;
    std::uint8_t after;
};

class KESTREL_SIM_API NandController {
public:
    explicit NandController(std::map<std::uint8_t, std::uint8_t> powerOnParameters);

    static bool InWindow(std::uint32_t address) {
        return address >= kControllerBase && address < kControllerEnd;
    }
    // Word access at a 4-aligned address inside the window.
    std::uint32_t ReadWord(std::uint32_t address) const;
    void WriteWord(std::uint32_t address, std::uint32_t value);

    // Controller registers to their power-on values (a restart of the device).
    void ResetRegisters();
    // Chip parameter registers to their power-on values too (power removed).
    void PowerCycle();

    std::uint8_t Parameter(std::uint8_t reg) const;
    const std::map<std::uint8_t, std::uint8_t>& Parameters() const { return parameters_; }
    const std::vector<ParameterChange>& History() const { return history_; }
    const std::vector<std::uint32_t>& ModeWrites() const { return modeWrites_; }

private:
    void OnControl(std::uint32_t before, std::uint32_t after);
    void Latch(std::uint8_t byte, bool command, bool address);

    std::map<std::uint8_t, std::uint8_t> powerOn_;
    std::map<std::uint8_t, std::uint8_t> parameters_;
    std::vector<ParameterChange> history_;
    std::vector<std::uint32_t> modeWrites_;
    std::uint32_t words_[8] = {};

    enum class ChipMode { kIdle, kReadParameter, kWriteParameter };
    ChipMode mode_ = ChipMode::kIdle;
    bool haveAddress_ = false;
    std::uint8_t address_ = 0;
    std::map<std::uint8_t, std::uint8_t> staged_;
};

} // namespace kestrel::sim
