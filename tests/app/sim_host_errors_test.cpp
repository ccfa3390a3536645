// The summary's word on a simulated device that saw a host error: the job's device is found by
// the path of its handle, and its first error is named with their number.
#include "app/station/sim_host_errors.h"

#include "app/station/run_outcome.h"

#include "kestrellib/device/device_discovery.h"
#include "kestrellib/device/device_set.h"
#include "platform/clock/clock.h"
#include "platform/devices/devices.h"
#include "sim/backends/devices_backend.h"
#include "sim/farm.h"

#include <gtest/gtest.h>

namespace kestrel::station {
namespace {

class SimHostErrors : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetSleepScale(0);
        platform::devices::UseBackend(sim::backends::MakeDevicesBackend());
        sim::TheFarm().Clear();
        device::InitDeviceSet();
        for (int i = 0; i < 2; ++i) {
            sim::DeviceConfig config;
            config.latency = sim::LatencyModel::Zero();
            devices.push_back(sim::TheFarm().Add(config));
        }
        device::EnumerateDevices();
        ASSERT_EQ(device::DeviceCount(), 2);
    }
    void TearDown() override {
        device::CloseAllDevices(nullptr);
        sim::TheFarm().Clear();
    }

    // Sends a page read of the wrong length to the device behind the handle.
    static void ShortRead(void* handle) {
        const std::uint8_t cdb[10] = {0xC2, 0x13, 0, 0, 0, 0, 0, 0x40, 0, 0};
        std::uint8_t buffer[512] = {};
        platform::devices::ScsiRequest request;
        request.cdb = cdb;
        request.cdbLength = 10;
        request.direction = platform::devices::Direction::kIn;
        request.buffer = buffer;
        request.length = sizeof buffer;
        platform::devices::Send(handle, request);
    }

    std::vector<std::shared_ptr<sim::Device>> devices;
};

TEST_F(SimHostErrors, NameTheFirstErrorOfTheJobsOwnDeviceOnly) {
    IspJob first{};
    first.hDevice = device::DeviceHandleAt(0);
    IspJob second{};
    second.hDevice = device::DeviceHandleAt(1);
    EXPECT_EQ(SimulatedHostErrors(first), "");
    ShortRead(second.hDevice);
    ShortRead(second.hDevice);
    EXPECT_EQ(SimulatedHostErrors(first), "");
    EXPECT_EQ(SimulatedHostErrors(second),
              "the device recorded 2 host errors, the first: wrong data length (sub-command 0x13, "
              "address 0x40, expected 2048)");
}

TEST_F(SimHostErrors, AJobWhoseHandleLeftTheSetIsStillMatchedByItsPath) {
    IspJob job{};
    job.hDevice = device::DeviceHandleAt(0);
    ShortRead(job.hDevice);
    devices[0]->Unplug();
    device::CloseDevice(job.hDevice);
    EXPECT_NE(SimulatedHostErrors(job).find("1 host error,"), std::string::npos);
    IspJob none{};
    EXPECT_EQ(SimulatedHostErrors(none), "");
}

// The run's record fails a unit whose device recorded a host error although every procedure
// reported success, names the error, and leaves the other unit ok.
TEST_F(SimHostErrors, FailTheUnitsRecordWhateverTheProceduresReported) {
    std::array<IspJob, 2> jobs{};
    RunMonitor monitor;
    for (int i = 0; i < 2; ++i) {
        jobs[static_cast<std::size_t>(i)].hDevice = device::DeviceHandleAt(i);
        jobs[static_cast<std::size_t>(i)].devId = "";
        monitor.Observe({WM_ISP_STATUS, kStatusWorkerStarted, i, {}}, 0);
        monitor.Observe({WM_ISP_EVENT, kEventBootBegin, i, {}}, 0);
        monitor.Observe({WM_ISP_EVENT, kEventBootSucceeded, i, {}}, 5);
        monitor.Observe({WM_ISP_STATUS, kStatusWorkerEnded, i, {}}, 5);
    }
    ShortRead(jobs[1].hDevice);
    RunDescription run;
    run.mode = 1;
    run.readDevices = false;
    const std::vector<RunRecord> records = RecordRun(run, jobs, monitor);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].ok) << records[0].message;
    EXPECT_FALSE(records[1].ok);
    EXPECT_FALSE(records[1].stopped);
    EXPECT_NE(records[1].message.find("1 host error, the first: wrong data length"),
              std::string::npos)
        << records[1].message;
    EXPECT_EQ(RunEndedLine(records), "Run ended: 1 passed, 1 failed (Dev1)\n");
}

} // namespace
} // namespace kestrel::station
