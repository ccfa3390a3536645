// The NAND controller registers driven with the host's parameter-register sequences: every bit
// change is a device-word read followed by a write of the control register, through vendor
// memory commands, as the station does it.
#include "sim/device.h"
#include "sim_test_support.h"

#include <gtest/gtest.h>

namespace kestrel::sim {
namespace {

class Host {
public:
    explicit Host(Device& device) : device_(device) {}

    std::uint32_t Word(std::uint32_t address) {
        return test::Le32(test::In(device_, 0x02, address, 4).data, 0);
    }
    void SetWord(std::uint32_t address, std::uint32_t value) {
        test::Out(device_, 0x01, address,
                  {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
    }
    void Set(std::uint32_t bit) { SetWord(kControllerControl, Word(kControllerControl) | bit); }
    void Clear(std::uint32_t bit) { SetWord(kControllerControl, Word(kControllerControl) & ~bit); }

    void Idle() {
        Set(0x01);
        Clear(0x10);
        Clear(0x20);
        Set(0x40);
        Set(0x80);
    }
    void Command(std::uint8_t byte) {
        Clear(0x01);
        Clear(0x40);
        Set(0x10);
        SetWord(kControllerDataOut, byte);
        Clear(0x100);
        Set(0x40);
        Set(0x100);
        Clear(0x10);
    }
    void Address(std::uint8_t reg) {
        Clear(0x40);
        Set(0x20);
        SetWord(kControllerDataOut, reg);
        Clear(0x100);
        Set(0x40);
        Set(0x100);
        Clear(0x20);
    }
    std::uint8_t ReadParameter(std::uint8_t reg) {
        Idle();
        Command(0x37);
        Address(reg);
        Clear(0x80);
        Set(0x80);
        const auto value = static_cast<std::uint8_t>(Word(kControllerDataIn));
        Idle();
        return value;
    }
    void WriteParameter(std::uint8_t reg, std::uint8_t value) {
        Idle();
        Command(0x36);
        Address(reg);
        SetWord(kControllerDataOut, value);
        Clear(0x40);
        Clear(0x100);
        Set(0x40);
        Set(0x100);
        Command(0x16);
        Idle();
    }

private:
    Device& device_;
};

TEST(NandController, ParameterSequencesReadAndWriteTheChipRegisters) {
    DeviceConfig config = DeviceConfig::ForClass(9);
    config.parameterRegisters[0xA0] = 0x21;
    Device device(test::Named(config));
    Host host(device);
    EXPECT_EQ(host.ReadParameter(0xA0), 0x21);
    EXPECT_EQ(host.ReadParameter(0xC9), 0x01);

    host.SetWord(kControllerMode, 11);
    host.WriteParameter(0xA0, static_cast<std::uint8_t>(0x21 + 38));
    host.SetWord(kControllerMode, 9);
    EXPECT_EQ(device.ParameterRegister(0xA0), 0x21 + 38);
    EXPECT_EQ(host.ReadParameter(0xA0), 0x21 + 38);
    const auto history = device.ParameterHistory();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].reg, 0xA0);
    EXPECT_EQ(history[0].before, 0x21);
    EXPECT_EQ(history[0].after, 0x21 + 38);
    EXPECT_EQ(device.ControllerModeWrites(), std::vector<std::uint32_t>({11, 9}));
    EXPECT_TRUE(device.HostErrors().empty());
}

TEST(NandController, WriteWithoutConfirmCommandChangesNothing) {
    Device device(test::Named(DeviceConfig::ForClass(10)));
    Host host(device);
    host.Idle();
    host.Command(0x36);
    host.Address(0xB0);
    host.SetWord(kControllerDataOut, 0x77);
    host.Clear(0x40);
    host.Set(0x40);
    host.Idle(); // no 0x16
    EXPECT_EQ(device.ParameterRegister(0xB0), DeviceConfig::DefaultParameterRegisters()[0xB0]);
    EXPECT_TRUE(device.ParameterHistory().empty());
}

TEST(NandController, DeselectedChipIgnoresTheBus) {
    Device device(test::Named(DeviceConfig::ForClass(9)));
    Host host(device);
    host.Idle(); // chip enable high: deselected
    host.SetWord(kControllerControl, 0x01 | 0x10);
    host.SetWord(kControllerDataOut, 0x36);
    host.SetWord(kControllerControl, 0x01 | 0x10 | 0x40);
    host.SetWord(kControllerControl, 0x01 | 0x20);
    host.SetWord(kControllerDataOut, 0xA0);
    host.SetWord(kControllerControl, 0x01 | 0x20 | 0x40);
    EXPECT_TRUE(device.ParameterHistory().empty());
}

TEST(NandController, TimingWordsAreReadAndWrittenAsEightBytes) {
    Device device(test::Named(DeviceConfig{}));
    auto bytes = test::In(device, 0x02, kControllerTiming, 8).data;
    bytes[0] = 0x22;
    bytes[1] = 0x22;
    ASSERT_EQ(test::Out(device, 0x01, kControllerTiming, bytes), 0);
    EXPECT_EQ(test::In(device, 0x02, kControllerTiming, 8).data, bytes);
    EXPECT_EQ(device.MemoryWord(kControllerTiming) & 0xFFFF, 0x2222u);
}

} // namespace
} // namespace kestrel::sim
