// Continuous mode end to end inside the process: the real library programs simulated devices
// (boot code mode), every plug and pull reaches the page through the devices layer's hot-plug
// broadcasts and ParseDeviceChange, and each unit must be recorded exactly once.
#include "app/station/isp_page.h"
#include "app/station/kestrellib_binding.h"
#include "app/station/page_settings.h"
#include "kestrellib/device/sim_fixture.h"
#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/boot_image_writer.h"
#include "platform/devices/devices.h"
#include "platform/devices/usbstor_path.h"
#include "platform/messages/message_sink.h"
#include "sim/line_simulator.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace kestrel::test {
namespace {

using station::SlotResult;

struct LineView : station::StationView {
    std::array<std::string, station::kSlotCount> text;
    std::array<SlotResult, station::kSlotCount> result{};
    std::string log;
    bool ispEnabled = true;
    bool continuous = false;
    station::ShiftFigures shift;

    void SetSlotText(int slot, std::string_view t) override { text.at(slot) = t; }
    void SetSlotPicture(int, station::SlotPicture) override {}
    void SetSlotRange(int, std::uint32_t) override {}
    void SetSlotPosition(int, std::uint32_t) override {}
    void AppendLog(std::string_view t) override { log += t; }
    void SetIspEnabled(bool enabled) override { ispEnabled = enabled; }
    void SetSlotResult(int slot, SlotResult r) override { result.at(slot) = r; }
    void SetTitle(std::string_view) override {}
    void SetContinuous(bool on) override { continuous = on; }
    void SetShift(const station::ShiftFigures& f) override { shift = f; }
};

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return bytes;
}

sim::DeviceConfig OnPort(const std::string& port) {
    sim::DeviceConfig config;
    config.loaderClass = 2; // a loader whose boot code file is written as it stands
    config.port = port;
    return config;
}

class ContinuousModeTest : public SimDevicesTest {
protected:
    void SetUp() override {
        SimDevicesTest::SetUp();
        home_ = std::make_unique<TempHome>();
        home_->WriteFile("config.ini",
                         "[General]\nItemNum=2\nItemName=Item\nHoldingPerInRomcode=1\n"
                         "FreqNum=1\nFreqName=Clk\n[Item0]\nenable=1\nvalue=5\n"
                         "[Item1]\nenable=1\nvalue=7\n[Clk0]\nfreq_spll_int=540\n");
        program::BootImageContent content;
        content.bootHeaderValue = 0x30001;
        content.blocks = {{0x200, Bytes(5000, 1)}, {0x1100, Bytes(20000, 2)}};
        std::string error;
        ASSERT_TRUE(program::WriteBootImageFile(home_->Path("boot.img"), content, &error)) << error;
        home_->WriteFile("isp.ini", "[General]\nImageType=1\neccmode=1\n[Redboot]\nname=" +
                                        home_->Path("boot.img") + "\n");
        notifications_ = platform::devices::SubscribeWindow(platform::ToWindowHandle(&window_));
        ASSERT_TRUE(notifications_.Active());
        page_ = std::make_unique<station::IspPage>(view_, station::KestrellibBinding(), window_,
                                                   &window_);
        page_->Settings() = station::LoadPageSettings();
    }
    void TearDown() override {
        page_.reset();
        notifications_.Reset();
        home_.reset();
        SimDevicesTest::TearDown();
    }

    // The devices plugged in so far are heard first, as a front end enumerates them at start.
    void Start() {
        Settle();
        const station::PageSettings& s = page_->Settings();
        ASSERT_TRUE(page_->StartContinuous({s.bootCodePath, s.resourcePath, s.demoDir},
                                           station::IspPage::SettingsFiles::kLeaveUnchanged));
        ASSERT_TRUE(page_->ContinuousOn()) << view_.log;
    }

    // Hands the page its messages until pred holds; false after timeoutMs.
    template <typename Pred>
    bool PumpUntil(Pred pred, int timeoutMs = 30000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            if (auto m = window_.Take(5)) {
                page_->HandleMessage(*m);
            }
        }
        return true;
    }
    // Hands the page its messages until none has come for 100 ms.
    void Settle() {
        while (auto m = window_.Take(100)) {
            page_->HandleMessage(*m);
        }
    }

    int RecordsOn(const std::string& port) const {
        int n = 0;
        for (const station::RunRecord& r : page_->Records()) {
            n += r.port.find(platform::devices::ToUpperAscii(port)) != std::string::npos;
        }
        return n;
    }
    bool Recorded(std::size_t n) const { return page_->Records().size() >= n; }

    LineView view_;
    platform::QueueSink window_;
    platform::devices::Subscription notifications_;
    std::unique_ptr<TempHome> home_;
    std::unique_ptr<station::IspPage> page_;
};

TEST_F(ContinuousModeTest, UnitsArrivingWhileOthersRunAreEachProgrammedOnce) {
    AddDevice(OnPort("2-1.1"));
    Start();
    // Plugged in while the first unit's worker runs, before the page has heard its end.
    AddDevice(OnPort("2-1.2"));
    AddDevice(OnPort("2-1.3"));
    ASSERT_TRUE(PumpUntil([&] { return Recorded(3); })) << view_.log;
    Settle();
    ASSERT_EQ(page_->Records().size(), 3u) << view_.log;
    for (const std::string port : {"2-1.1", "2-1.2", "2-1.3"}) {
        EXPECT_EQ(RecordsOn(port), 1) << port;
    }
    for (const station::RunRecord& r : page_->Records()) {
        EXPECT_TRUE(r.ok) << r.message;
        EXPECT_EQ(view_.result.at(r.device), SlotResult::kPassed);
        ASSERT_TRUE(r.shift.has_value());
        ASSERT_TRUE(r.unitMs.has_value());
    }
    EXPECT_EQ(page_->Records().back().shift->passed, 3);
    EXPECT_EQ(view_.shift.passed, 3);
    EXPECT_EQ(view_.shift.failed, 0);
    EXPECT_TRUE(view_.continuous);
    EXPECT_TRUE(view_.ispEnabled); // the ISP action is the stop
    for (const auto& device : sim::TheFarm().Devices()) {
        EXPECT_TRUE(device->HostErrors().empty());
    }
}

TEST_F(ContinuousModeTest, AUnitPulledBeforeItFinishedFailsAndIsRecordedOnce) {
    AddDevice(OnPort("2-1.1"));
    Start();
    ASSERT_TRUE(PumpUntil([&] { return Recorded(1); }));
    sim::DeviceConfig pulled = OnPort("2-1.2");
    pulled.unplugAfterCommands = 40; // the cable comes out in the middle of the boot code
    auto device = AddDevice(pulled);
    ASSERT_TRUE(PumpUntil([&] { return Recorded(2); })) << view_.log;
    Settle();
    EXPECT_FALSE(device->Present());
    ASSERT_EQ(RecordsOn("2-1.2"), 1) << view_.log;
    const station::RunRecord& r = page_->Records().back();
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("removed"), std::string::npos) << r.message;
    EXPECT_EQ(view_.text.at(r.device), station::kWaitingForUnitText);
    EXPECT_EQ(view_.shift.passed, 1);
    EXPECT_EQ(view_.shift.failed, 1);
}

TEST_F(ContinuousModeTest, AFinishedUnitLeftPluggedInIsNeverProgrammedAgain) {
    auto first = AddDevice(OnPort("2-1.1"));
    Start();
    ASSERT_TRUE(PumpUntil([&] { return Recorded(1); }));
    Settle();
    const std::uint64_t commands = first->CommandCount();
    // Other units come and go and the title is refreshed: every one of these compares the
    // device set with the slots again.
    auto second = AddDevice(OnPort("2-1.2"));
    ASSERT_TRUE(PumpUntil([&] { return Recorded(2); }));
    sim::TheFarm().Remove(second);
    page_->RefreshTitle();
    AddDevice(OnPort("2-1.3"));
    ASSERT_TRUE(PumpUntil([&] { return Recorded(3); }));
    Settle();
    EXPECT_EQ(RecordsOn("2-1.1"), 1);
    EXPECT_EQ(first->CommandCount(), commands);
    const int slot = page_->Records().front().device;
    EXPECT_EQ(view_.result.at(slot), SlotResult::kPassed);
    EXPECT_EQ(view_.text.at(slot), "Connected");
}

// A unit pulled and inserted again is a new unit, also when both happen before the page has
// handled either notification.
class PulledAndReinserted : public ContinuousModeTest,
                            public ::testing::WithParamInterface<bool> {};

TEST_P(PulledAndReinserted, IsProgrammedAsANewUnit) {
    const bool pageSeesTheGap = GetParam();
    auto unit = AddDevice(OnPort("2-1.1"));
    Start();
    ASSERT_TRUE(PumpUntil([&] { return Recorded(1); }));
    Settle();
    unit->Unplug();
    if (pageSeesTheGap) {
        Settle();
        EXPECT_EQ(view_.text.at(page_->Records().front().device), station::kWaitingForUnitText);
    }
    unit->Replug();
    ASSERT_TRUE(PumpUntil([&] { return Recorded(2); })) << view_.log;
    Settle();
    EXPECT_EQ(RecordsOn("2-1.1"), 2);
    for (const station::RunRecord& r : page_->Records()) {
        EXPECT_TRUE(r.ok) << r.message;
    }
    EXPECT_EQ(page_->Records().back().shift->passed, 2);
}

INSTANTIATE_TEST_SUITE_P(Gap, PulledAndReinserted, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Seen" : "Unseen"; });

TEST_F(ContinuousModeTest, StopLetsTheUnitsUnderWayFinishAndStartsNoNewOne) {
    AddDevice(OnPort("2-1.1"));
    AddDevice(OnPort("2-1.2"));
    Start();
    page_->StopContinuous();
    EXPECT_FALSE(view_.ispEnabled);
    auto late = AddDevice(OnPort("2-1.3"));
    ASSERT_TRUE(PumpUntil([&] { return !page_->ContinuousOn(); })) << view_.log;
    Settle();
    EXPECT_EQ(page_->Records().size(), 2u);
    EXPECT_EQ(RecordsOn("2-1.3"), 0);
    EXPECT_EQ(late->CommandCount(), 0u);
    for (const station::RunRecord& r : page_->Records()) {
        EXPECT_TRUE(r.ok) << r.message;
    }
    EXPECT_FALSE(view_.continuous);
    EXPECT_TRUE(view_.ispEnabled);
    EXPECT_FALSE(page_->RunUnderWay());
    EXPECT_NE(view_.log.find("Continuous mode ended. Shift: 2 passed, 0 failed"), std::string::npos)
        << view_.log;
    // A batch run may follow at once.
    const station::PageSettings& s = page_->Settings();
    EXPECT_TRUE(page_->StartIsp({s.bootCodePath, s.resourcePath, s.demoDir},
                                station::IspPage::SettingsFiles::kLeaveUnchanged));
    ASSERT_TRUE(PumpUntil([&] { return !page_->RunUnderWay(); }));
    EXPECT_EQ(page_->Records().size(), 3u);
}

TEST_F(ContinuousModeTest, ALongShiftOnTheLineSimulatorRecordsEveryUnitOnce) {
    constexpr int kUnits = 40;
    std::vector<sim::LineUnit> units;
    for (int i = 0; i < kUnits; ++i) {
        sim::DeviceConfig config = OnPort("");
        config.latency = sim::LatencyModel::Zero();
        config.factoryBadBlocks = {static_cast<std::uint32_t>(200 + i % 5)};
        units.push_back({config, static_cast<std::uint32_t>(3000 + 100 * (i % 50))});
    }
    sim::LineSimulator line(units, station::kSlotCount);
    Start();
    line.Begin();
    std::size_t told = 0;
    ASSERT_TRUE(PumpUntil([&] {
        const auto& records = page_->Records();
        for (; told < records.size(); ++told) {
            EXPECT_TRUE(line.UnitFinished(records[told].port)) << records[told].port;
        }
        return line.ShiftOver() && page_->Units().Running() == 0;
    })) << line.Plugged()
        << " plugged, " << line.Pulled() << " pulled\n"
        << view_.log;
    page_->StopContinuous();
    ASSERT_TRUE(PumpUntil([&] { return !page_->ContinuousOn(); }));
    ASSERT_EQ(page_->Records().size(), static_cast<std::size_t>(kUnits));
    for (const station::RunRecord& r : page_->Records()) {
        EXPECT_TRUE(r.ok) << r.message;
    }
    EXPECT_EQ(view_.shift.passed, kUnits);
    // The record file: one line per unit, the last with the shift's totals.
    const std::string file = home_->ReadFile(station::kRunRecordFile);
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), kUnits);
    const std::string last = file.substr(file.rfind('\n', file.size() - 2) + 1);
    EXPECT_NE(last.find("\"passed\":" + std::to_string(kUnits) + ","), std::string::npos) << last;
}

} // namespace
} // namespace kestrel::test
