#include "sim/nand_controller.h"

#include <utility>

namespace kestrel::sim {
namespace {

constexpr std::uint32_t kChipEnableHigh = 0x01; // chip deselected while set
constexpr std::uint32_t kCommandLatch = 0x10;
constexpr std::uint32_t kAddressLatch = 0x20;
constexpr std::uint32_t kWriteEnable = 0x40;
constexpr std::uint32_t kReadEnable = 0x80;

// Power-on values of the controller words (index = offset / 4).
constexpr std::uint32_t kPowerOnWords[8] = {
    9,                                            // mode
    0,                                            //
    0x11111111,                                   // timing
    0x00000011,                                   // timing
    kChipEnableHigh | kWriteEnable | kReadEnable, // control: idle
    0,
    0,
    0,
};

} // namespace

NandController::NandController(std::map<std::uint8_t, std::uint8_t> powerOnParameters)
    : powerOn_(std::move(powerOnParameters)), parameters_(powerOn_) {
    ResetRegisters();
}

void NandController::ResetRegisters() {
    for (int i = 0; i < 8; ++i) {
        words_[i] = kPowerOnWords[i];
    }
    mode_ = ChipMode::kIdle;
    haveAddress_ = false;
    staged_.clear();
}

void NandController::PowerCycle() {
    ResetRegisters();
    parameters_ = powerOn_;
}

std::uint8_t NandController::Parameter(std::uint8_t reg) const {
    auto it = parameters_.find(reg);
    return it == parameters_.end() ? 0 : it->second;
}

std::uint32_t NandController::ReadWord(std::uint32_t address) const {
    return words_[(address - kControllerBase) / 4 % 8];
}

void NandController::WriteWord(std::uint32_t address, std::uint32_t value) {
    const std::uint32_t index = (address - kControllerBase) / 4 % 8;
    if (address == kControllerDataIn) {
        return; // read only
    }
    const std::uint32_t before = words_[index];
    words_[index] = value;
    if (address == kControllerMode) {
        modeWrites_.push_back(value);
    } else if (address == kControllerControl) {
        OnControl(before, value);
    }
}

void NandController::OnControl(std::uint32_t before, std::uint32_t after) {
    const bool selected = (after & kChipEnableHigh) == 0;
    if (!selected) {
        return;
    }
    const bool writeEdge = (before & kWriteEnable) == 0 && (after & kWriteEnable) != 0;
    if (writeEdge) {
        Latch(static_cast<std::uint8_t>(words_[(kControllerDataOut - kControllerBase) / 4]),
              (after & kCommandLatch) != 0, (after & kAddressLatch) != 0);
    }
    const bool readEdge = (before & kReadEnable) != 0 && (after & kReadEnable) == 0;
    if (readEdge) {
        std::uint32_t out = 0xFF;
        if (mode_ == ChipMode::kReadParameter && haveAddress_) {
            out = Parameter(address_);
        }
        words_[(kControllerDataIn - kControllerBase) / 4] = out;
    }
}

void NandController::Latch(std::uint8_t byte, bool command, bool address) {
    if (command) {
        switch (byte) {
        case 0x37:
            mode_ = ChipMode::kReadParameter;
            haveAddress_ = false;
            break;
        case 0x36:
            mode_ = ChipMode::kWriteParameter;
            haveAddress_ = false;
            staged_.clear();
            break;
        case 0x16:
            if (mode_ == ChipMode::kWriteParameter) {
                for (const auto& [reg, value] : staged_) {
                    history_.push_back({reg, Parameter(reg), value});
                    parameters_[reg] = value;
                }
            }
            staged_.clear();
            mode_ = ChipMode::kIdle;
            haveAddress_ = false;
            break;
        default:
            mode_ = ChipMode::kIdle; // any other command ends a parameter sequence
            haveAddress_ = false;
            staged_.clear();
            break;
        }
        return;
    }
    if (address) {
        address_ = byte;
        haveAddress_ = true;
        return;
    }
    if (mode_ == ChipMode::kWriteParameter && haveAddress_) {
        staged_[address_] = byte;
    }
}

} // namespace kestrel::sim
