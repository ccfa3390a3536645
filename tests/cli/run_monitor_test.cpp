#include "app/station/run_monitor.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace kestrel;
using namespace kestrel::station;

namespace {

platform::WindowMessage Event(std::uint32_t event, int device) {
    return {WM_ISP_EVENT, event, device, {}};
}

platform::WindowMessage Status(std::uint32_t code, std::intptr_t lParam) {
    return {WM_ISP_STATUS, code, lParam, {}};
}

struct PrefixCase {
    const char* text;
    std::optional<int> device;
    friend void PrintTo(const PrefixCase& c, std::ostream* os) { *os << c.text; }
};

class MessagePrefix : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(MessagePrefix, NamesTheDevice) {
    EXPECT_EQ(DeviceOfMessage(GetParam().text), GetParam().device);
}

INSTANTIATE_TEST_SUITE_P(Texts, MessagePrefix,
                         ::testing::Values(PrefixCase{"Device:5 ==> Error in write resource.\n", 5},
                                           PrefixCase{"Device12-->Write failed", 12},
                                           PrefixCase{"Device:1234 ==>Write FW is fail.\n", 1234},
                                           PrefixCase{"Can't found config.ini", std::nullopt},
                                           PrefixCase{"Device: ==> x", std::nullopt},
                                           PrefixCase{"Image is error, can't support this H/W!\n",
                                                      std::nullopt}));

struct ResultCase {
    int mode;
    std::vector<std::uint32_t> events;
    bool ok;
    friend void PrintTo(const ResultCase& c, std::ostream* os) {
        *os << "mode " << c.mode << " events";
        for (auto e : c.events) {
            *os << " " << e;
        }
    }
};

class Results : public ::testing::TestWithParam<ResultCase> {};

TEST_P(Results, DeviceSucceedsOnlyWithEveryPhaseOfItsMode) {
    RunMonitor monitor;
    monitor.Observe(Status(kStatusWorkerStarted, 4), 0);
    for (std::uint32_t e : GetParam().events) {
        monitor.Observe(Event(e, 4), 10);
    }
    monitor.Observe(Status(kStatusWorkerEnded, 4), 20);
    EXPECT_EQ(monitor.Succeeded(4, GetParam().mode), GetParam().ok);
    EXPECT_EQ(monitor.Explanation(4, GetParam().mode).empty(), GetParam().ok);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, Results,
    ::testing::Values(ResultCase{1, {768, 769}, true}, ResultCase{1, {768, 770}, false},
                      ResultCase{2, {784, 785}, true}, ResultCase{2, {}, false},
                      ResultCase{2, {800, 802, 784, 785}, false},
                      ResultCase{3, {768, 769, 784, 785}, true}, ResultCase{3, {768, 769}, false},
                      ResultCase{3, {768, 769, 784, 786}, false}, ResultCase{4, {}, false}));

TEST(RunMonitor, MessagesGoToTheirDeviceOrToTheRun) {
    RunMonitor monitor;
    monitor.Observe(Event(kEventBootBegin, 1), 0);
    monitor.Observe(Event(kEventBootSucceeded, 1), 0);
    monitor.Observe(Event(kEventResourceBegin, 1), 0);
    monitor.Observe(Event(kEventResourceSucceeded, 1), 0);
    monitor.AddMessageBox("Device:1 ==>CMD_NAND_WRITEPAGE is error!\n");
    monitor.AddMessageBox("Can't found isp.ini");
    EXPECT_FALSE(monitor.Succeeded(1, 3)) << "a message box of its own fails the device";
    EXPECT_EQ(monitor.Explanation(1, 3),
              "Device:1 ==>CMD_NAND_WRITEPAGE is error! | Can't found isp.ini");
    EXPECT_EQ(monitor.Explanation(0, 3), "Can't found isp.ini");
}

TEST(RunMonitor, ABoxWithoutADevicePrefixFailsEveryDeviceOfTheRun) {
    RunMonitor monitor;
    for (std::uintptr_t device = 0; device < 2; ++device) {
        for (std::uint32_t e : {768u, 769u, 784u, 785u}) {
            monitor.Observe(Event(e, device), 0);
        }
    }
    EXPECT_TRUE(monitor.Succeeded(0, 3));
    monitor.AddMessageBox("Failed to Open /absent/boot.pkg.\n");
    for (int device = 0; device < 2; ++device) {
        EXPECT_FALSE(monitor.Succeeded(device, 3)) << device;
        EXPECT_EQ(monitor.Explanation(device, 3), "Failed to Open /absent/boot.pkg.");
    }
}

TEST(RunMonitor, ABoxWithoutAPrefixFromADevicesWorkerCountsAgainstThatDevice) {
    RunMonitor monitor;
    for (std::uintptr_t device = 0; device < 2; ++device) {
        for (std::uint32_t e : {768u, 769u}) {
            monitor.Observe(Event(e, device), 0);
        }
    }
    monitor.AddMessageBox("Can't the nand flash info!\n", 1);
    EXPECT_TRUE(monitor.Succeeded(0, 1));
    EXPECT_FALSE(monitor.Succeeded(1, 1));
    EXPECT_EQ(monitor.Explanation(1, 1), "Can't the nand flash info!");
}

TEST(RunMonitor, PhasesCountTheTimeBeforeTheirBeginEvent) {
    RunMonitor monitor;
    monitor.Observe(Status(kStatusWorkerStarted, 2), 100);
    monitor.Observe(Event(kEventBootBegin, 2), 26100); // after 26 s of retries
    monitor.Observe(Event(kEventBootSucceeded, 2), 27100);
    monitor.Observe(Event(kEventResourceBegin, 2), 28100);
    monitor.Observe(Event(kEventResourceSucceeded, 2), 30100);
    const DeviceProgress d = monitor.Device(2);
    EXPECT_EQ(d.boot.elapsedMs, 27000u);
    EXPECT_EQ(d.resource.elapsedMs, 3000u);
}

TEST(RunMonitor, CountsProgressAndTimesPhasesForEveryDevice) {
    RunMonitor monitor;
    ProgressRecord r{11, 40};
    platform::WindowMessage range{WM_ISP_STATUS, kStatusProgressRange, 0, {}};
    range.payload.assign(reinterpret_cast<unsigned char*>(&r),
                         reinterpret_cast<unsigned char*>(&r) + sizeof r);
    range.Bind();
    monitor.Observe(range, 0);
    monitor.Observe(Status(kStatusProgressRange, 99), 0); // a plain number: no record to read
    monitor.Observe(Status(kStatusProgressStep, 11), 0);
    monitor.Observe(Event(kEventBootBegin, 11), 0xFFFFFFF0u);
    monitor.Observe(Event(kEventBootSucceeded, 11), 1000);
    const DeviceProgress d = monitor.Device(11);
    EXPECT_EQ(d.total, 40u);
    EXPECT_EQ(d.position, 1u);
    EXPECT_EQ(d.boot.elapsedMs, 1016u);
    EXPECT_EQ(monitor.Device(99).total, 0u);
}

// A stop counts against the devices still under way only; one that still finishes succeeded.
TEST(RunMonitor, AStopMarksOnlyTheDevicesStillUnderWay) {
    RunMonitor monitor;
    for (int d = 0; d < 3; ++d) {
        monitor.Observe(Status(kStatusWorkerStarted, d), 0);
        monitor.Observe(Event(kEventBootBegin, d), 0);
    }
    monitor.Observe(Event(kEventBootSucceeded, 0), 5);
    monitor.Observe(Status(kStatusWorkerEnded, 0), 5);
    monitor.StopRequested(3);
    monitor.Observe(Event(kEventBootSucceeded, 1), 8); // at its safe point it was already done
    monitor.Observe(Status(kStatusWorkerEnded, 1), 8);
    monitor.Observe(Status(kStatusWorkerEnded, 2), 9); // stopped half-way
    EXPECT_FALSE(monitor.Stopped(0, 1));
    EXPECT_TRUE(monitor.Succeeded(0, 1));
    EXPECT_FALSE(monitor.Stopped(1, 1));
    EXPECT_TRUE(monitor.Succeeded(1, 1));
    EXPECT_TRUE(monitor.Stopped(2, 1));
    EXPECT_FALSE(monitor.Succeeded(2, 1));
    EXPECT_NE(monitor.Explanation(2, 1).find("stopped"), std::string::npos);
}

TEST(RunMonitor, TheDemoCopyIsCountedApartFromTheProgramming) {
    RunMonitor monitor;
    monitor.Observe(Event(kEventDemoBegin, 1), 100);
    ProgressRecord files{1, 3};
    platform::WindowMessage advance{WM_ISP_STATUS, kStatusProgressAdvance, 0, {}};
    advance.payload.resize(sizeof files);
    std::memcpy(advance.payload.data(), &files, sizeof files);
    monitor.Observe(advance, 150);
    monitor.Observe(Event(kEventDemoFailed, 1), 400);
    const DeviceProgress d = monitor.Device(1);
    EXPECT_EQ(d.demoFiles, 3u);
    EXPECT_EQ(d.position, 0u);
    EXPECT_TRUE(d.demo.failed);
    EXPECT_EQ(d.demo.elapsedMs, 300u);
}

} // namespace
