// kestrel_line_bench: units per hour of a simulated shift, batch mode against continuous mode,
// same units and same swap times, in one run.
//
// The shift: --units units (200) on --slots ports (8), mixed: a third each of the default 2 KiB
// SLC chip and two MLC chips (identification classes 2 and 4, 4 KiB pages), each with 0-6
// factory-bad blocks in the areas the run writes, so their programming times differ; each with
// the datasheet latency model of its page size (docs/simulation.md). One operator (the line
// simulator, sim/line_simulator.h) swaps a finished unit for the next in 3-8 s (uniform, seeded;
// each unit keeps its swap time in both modes) and swaps one unit at a time. What every unit
// gets: mode 3 of a demo workspace (4 MiB boot images, 16 MiB resource image, as bench/isp) with
// read verification and the run record, as kestrel-cli isp writes it.
//
// Batch: the operator loads the eight ports, presses ISP, waits for the run's end, swaps all
// eight and presses again. Continuous: the operator loads the ports once, the station programs
// each unit as it arrives, and the operator swaps each as its slot shows its result. Both are
// driven as kestrel-cli drives them: the Kestrellib binding, the ISP page, its message loop, and
// the devices layer's hot-plug broadcasts handed to ParseDeviceChange.
//
// Time is scaled (--scale, default 0.05): the clock's sleep scale makes every modelled wait (the
// devices' latency, the station's polls, the operator's swaps) take that fraction of real time,
// so the shift's modelled hours pass in minutes; units per hour are given in modelled time (wall
// time over the scale). The host's own processing is not scaled, so it weighs 1/scale times more
// than on a real line, in both modes alike.
//
// Checks: every unit of the shift is recorded exactly once in each mode (by the unit the
// simulator had on the record's port when the record was made), and continuous mode reaches at
// least --target (1.25) times batch mode's units per hour. Exit 1 when a check fails.
//
// Run: build/default/bench/line/kestrel_line_bench   (about 2-3 minutes on the build machine)

#include "app/station/isp_page.h"
#include "app/station/kestrellib_binding.h"
#include "app/station/page_settings.h"
#include "cli/demo_workspace.h"
#include "kestrellib/device/device_set.h"
#include "kestrellib/program/config_files.h"
#include "platform/clock/clock.h"
#include "platform/devices/devices.h"
#include "platform/message_box/message_box.h"
#include "platform/messages/message_sink.h"
#include "sim/backends/devices_backend.h"
#include "sim/farm.h"
#include "sim/line_simulator.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace kestrel;
namespace fs = std::filesystem;

struct Options {
    int units = 200;
    int slots = station::kSlotCount;
    double scale = 0.05;
    std::uint32_t seed = 1;
    double target = 1.25;
};

// A view that shows nothing.
struct Quiet final : station::StationView {
    void SetSlotText(int, std::string_view) override {}
    void SetSlotPicture(int, station::SlotPicture) override {}
    void SetSlotRange(int, std::uint32_t) override {}
    void SetSlotPosition(int, std::uint32_t) override {}
    void AppendLog(std::string_view) override {}
    void SetIspEnabled(bool) override {}
    void SetTitle(std::string_view) override {}
};

std::vector<sim::LineUnit> Shift(const Options& options) {
    std::mt19937 random(options.seed);
    std::uniform_int_distribution<std::uint32_t> swapMs(3000, 8000);
    std::uniform_int_distribution<int> badBlocks(0, 6);
    std::vector<sim::LineUnit> units;
    for (int i = 0; i < options.units; ++i) {
        sim::DeviceConfig config;
        const int kind = i % 3;
        if (kind > 0) {
            config.chip = *sim::ChipForClass(kind == 1 ? 2 : 4);
        }
        config.latency = sim::LatencyModel::ForPageSize(config.chip.pageSize);
        config.commandLog = false;
        // Bad blocks in the resource area, which the run skips after testing each block.
        const std::uint32_t blockBytes = config.chip.pageSize * config.chip.pagesPerBlock;
        const std::uint32_t first = 8u * 1024 * 1024 / blockBytes + 8;
        std::uniform_int_distribution<std::uint32_t> where(first,
                                                           first + 16u * 1024 * 1024 / blockBytes);
        for (int b = badBlocks(random); b > 0; --b) {
            config.factoryBadBlocks.push_back(where(random));
        }
        units.push_back({config, swapMs(random)});
    }
    return units;
}

struct Outcome {
    double modelledHours = 0;
    int recorded = 0;
    int passed = 0;
    std::vector<int> recordsPerUnit;
    std::string firstFailure;
};

// The loop of one mode: the page, its window and the device notifications.
class Station {
public:
    explicit Station(int units) : page_(view_, station::KestrellibBinding(), window_, &window_) {
        outcome_.recordsPerUnit.assign(static_cast<std::size_t>(units), 0);
        page_.Settings() = station::LoadPageSettings();
        page_.RefreshTitle();
    }

    station::IspPage& Page() { return page_; }
    Outcome& Result() { return outcome_; }
    station::PathBoxes Typed() {
        const station::PageSettings& s = page_.Settings();
        return {s.bootCodePath, s.resourcePath, s.demoDir};
    }

    // Hands the page its messages until done() holds; every new record is counted for the unit
    // on its port and passed to onRecord.
    void PumpUntil(const std::function<bool()>& done, sim::LineSimulator& line,
                   const std::function<void(const station::RunRecord&)>& onRecord) {
        while (!done()) {
            if (auto m = window_.Take(5)) {
                page_.HandleMessage(*m);
                while (auto more = window_.TryTake()) {
                    page_.HandleMessage(*more);
                }
            }
            const auto& records = page_.Records();
            if (records.size() < seen_) {
                seen_ = 0; // a new batch run
            }
            for (; seen_ < records.size(); ++seen_) {
                const station::RunRecord& r = records[seen_];
                const int unit = line.UnitWith(r.port);
                if (unit >= 0) {
                    ++outcome_.recordsPerUnit[static_cast<std::size_t>(unit)];
                }
                ++outcome_.recorded;
                outcome_.passed += r.ok ? 1 : 0;
                if (!r.ok && outcome_.firstFailure.empty()) {
                    outcome_.firstFailure = r.message;
                }
                onRecord(r);
            }
        }
    }

private:
    Quiet view_;
    platform::QueueSink window_;
    platform::devices::Subscription notifications_ =
        platform::devices::SubscribeWindow(platform::ToWindowHandle(&window_));
    station::IspPage page_;
    std::size_t seen_ = 0;
    Outcome outcome_;
};

void Clean() {
    for (int i = device::DeviceCount() - 1; i >= 0; --i) {
        device::CloseDevice(device::DeviceHandleAt(i));
    }
    device::InitDeviceSet();
    sim::TheFarm().Clear();
}

Outcome RunBatch(const std::vector<sim::LineUnit>& units, const Options& options) {
    Clean();
    Station station(options.units);
    sim::LineSimulator line(units, options.slots);
    const auto start = std::chrono::steady_clock::now();
    line.Begin();
    auto none = [](const station::RunRecord&) {};
    while (device::DeviceCount() > 0 || line.Plugged() < options.units) {
        // The operator presses ISP once the loaded units are all heard.
        const int loaded = line.Plugged() - line.Pulled();
        station.PumpUntil([&] { return device::DeviceCount() == loaded; }, line, none);
        station.Page().StartIsp(station.Typed(), station::IspPage::SettingsFiles::kLeaveUnchanged);
        station.PumpUntil([&] { return !station.Page().RunUnderWay(); }, line, none);
        line.SwapAll();
        station.PumpUntil([&] { return line.Idle(); }, line, none);
        if (line.ShiftOver()) {
            break;
        }
    }
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    station.Result().modelledHours = wall.count() / options.scale / 3600;
    return station.Result();
}

Outcome RunContinuous(const std::vector<sim::LineUnit>& units, const Options& options) {
    Clean();
    Station station(options.units);
    sim::LineSimulator line(units, options.slots);
    const auto start = std::chrono::steady_clock::now();
    station.Page().StartContinuous(station.Typed(),
                                   station::IspPage::SettingsFiles::kLeaveUnchanged);
    line.Begin();
    station.PumpUntil([&] { return line.ShiftOver() && station.Page().Units().Running() == 0; },
                      line, [&line](const station::RunRecord& r) { line.UnitFinished(r.port); });
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    station.Page().StopContinuous();
    station.PumpUntil([&] { return !station.Page().ContinuousOn(); }, line,
                      [](const station::RunRecord&) {});
    station.Result().modelledHours = wall.count() / options.scale / 3600;
    return station.Result();
}

// Prints the mode's line; false when a unit was lost or recorded twice.
bool Report(const char* mode, const Outcome& o) {
    int lost = 0;
    int twice = 0;
    for (int n : o.recordsPerUnit) {
        lost += n == 0;
        twice += n > 1;
    }
    const double perHour = o.modelledHours > 0 ? o.recorded / o.modelledHours : 0;
    std::printf("%-11s %6d %7d %11.3f %15.0f %5d %6d\n", mode, o.recorded, o.passed,
                o.modelledHours, perHour, lost, twice);
    if (!o.firstFailure.empty()) {
        std::printf("            first failure: %s\n", o.firstFailure.c_str());
    }
    return lost == 0 && twice == 0;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{"kestrel_line_bench: units per hour, batch against continuous mode"};
    app.add_option("--units", options.units, "Units of the shift")->check(CLI::Range(8, 100000));
    app.add_option("--slots", options.slots, "Ports of the station")->check(CLI::Range(1, 8));
    app.add_option("--scale", options.scale, "Real time per modelled time")
        ->check(CLI::Range(0.001, 1.0));
    app.add_option("--seed", options.seed, "Seed of the shift's units and swap times");
    app.add_option("--target", options.target, "Continuous over batch units per hour to reach");
    CLI11_PARSE(app, argc, argv);

    const fs::path home = fs::temp_directory_path() /
                          ("kestrel-line-bench-" + std::to_string(std::random_device{}()));
    setenv("KESTREL_HOME", home.c_str(), 1);
    cli::DemoWorkspaceOptions workspace;
    workspace.dir = home.string();
    workspace.bootKib = 4096 - 64;
    workspace.firmwareKib = 256;
    workspace.fillerKib = 16384 - 256 - 8;
    workspace.romfsMb = 17;
    std::string error;
    if (!cli::WriteDemoWorkspace(workspace, error)) {
        std::fprintf(stderr, "kestrel_line_bench: the workspace: %s\n", error.c_str());
        return 2;
    }
    config::Write(config::isp::kImageType, 3);
    config::Write(config::isp::kReadVerify, 1);
    config::Write(config::isp::kRebuild, 0);
    config::Write(config::isp::kRomfsDualImage, 0);
    config::Write(config::isp::kDemoEnable, 0);

    platform::devices::UseBackend(sim::backends::MakeDevicesBackend());
    platform::SetSleepScale(options.scale);
    // Boxes of failing units are part of their records; nothing waits for an operator.
    const platform::MessageBoxHandler previous =
        platform::SetMessageBoxHandler([](const std::string&, const std::string&) {});

    const std::vector<sim::LineUnit> units = Shift(options);
    std::printf("%d units on %d slots, time scale %g, seed %u\n", options.units, options.slots,
                options.scale, options.seed);
    std::printf("%-11s %6s %7s %11s %15s %5s %6s\n", "mode", "units", "passed", "modelled_h",
                "units_per_hour", "lost", "twice");
    std::fflush(stdout);
    const Outcome batch = RunBatch(units, options);
    bool ok = Report("batch", batch);
    std::fflush(stdout);
    const Outcome continuous = RunContinuous(units, options);
    ok = Report("continuous", continuous) && ok;
    const double ratio = batch.modelledHours > 0 && continuous.modelledHours > 0
                             ? (continuous.recorded / continuous.modelledHours) /
                                   (batch.recorded / batch.modelledHours)
                             : 0;
    std::printf("continuous / batch units per hour: %.2f (target %.2f)\n", ratio, options.target);
    ok = ok && ratio >= options.target && batch.recorded == options.units &&
         continuous.recorded == options.units;

    Clean();
    platform::SetMessageBoxHandler(previous);
    std::error_code ec;
    fs::remove_all(home, ec);
    return ok ? 0 : 1;
}
