// One whole ISP run, as the station does it, on 1 and on 8 simulated devices that take real
// time the way the production devices do.
//
// What runs: mode 3 (boot code, then resources) with read verification, no file-system rebuild,
// no backup copy of the resource image and no demo copy, from a demo workspace
// (cli/demo_workspace.h) whose boot images are 4 MiB and whose resource image is 16 MiB
// (the exact sizes are reported as counters). The run is driven exactly as `kestrel-cli isp`
// drives it: the Kestrellib binding, the ISP page with its worker per device, the page's
// reactions to every notification, its message loop (cli/run_pump.h), the run monitor and the
// terminal view (its output goes nowhere). Writing the workspace and plugging the devices in happen
// outside the timed region; the timed region is the ISP action up to the end of the last worker.
//
// Devices: the default simulated device (2 KiB-page SLC, 64 pages per block, 4096 blocks), all
// of one geometry so the 1- and 8-device runs do the same work per device, with the default
// latency model (docs/simulation.md "Latency model"):
//   USB command round trip 500 us       USB 2.0 bulk-only mass storage, measured 0.3-1 ms
//   data 40 MB/s                        sustained USB 2.0 high-speed mass storage
//   page read 25 us, program 200 us,    common 1-4 Gbit SLC NAND datasheets
//   block erase 1.5 ms                  (tR, tPROG, tBERS)
// Each device count runs twice. Real time (real_time:1): latency scale 1 and the clock's sleep
// scale 1, so the modelled time passes in real time; each device keeps its own clock
// (sim/latency_clock.h): the host's time between commands counts, timer overshoot is paid back,
// and sleeps go to absolute deadlines, coalesced to at most one per 50 ms. Virtual time
// (real_time:0): the sleep scale is 0, every device still accounts its modelled time, and no
// thread sleeps, so the process's CPU time is the host's own work without the machine's cost of
// waking sleeping threads.
//
// Counters:
//   wall_s                      wall time of the run
//   modelled_s                  the longest modelled busy time of one device (what a host with
//                               no cost of its own would take)
//   wall_ratio_8_to_1           on the real-time 8-device run: its wall time over the real-time
//                               1-device run's (target: at most 1.05)
//   cpu_s                       CPU time of the whole process during the run
//                               (platform/clock/cpu_time.h); it includes the simulator's own
//                               work, so it bounds the station's from above
//   pages_programmed, pages_read  page programs and page reads of all devices (block tests,
//                               boot code, image pages and their read-backs)
//   cpu_us_per_programmed_page  cpu_s over the page programs (target in virtual time: under
//                               5 us; each programmed page is also read back once)
//   cpu_us_per_page             cpu_s over page programs plus page reads
//
// Run: build/default/bench/isp/isp_run_bench   (about 35 s; one iteration of each)
//
// Measured on the 2-core build machine (KVM guest), default preset (RelWithDebInfo):
//   devices  time     wall_s       modelled_s  wall_ratio_8_to_1  cpu_us_per_programmed_page
//   1        real     15.68-15.72  14.60                          12.9-19.1
//   8        real     15.71-15.74  14.60       1.001-1.002        5.4-6.8
//   1        virtual   0.10-0.11   14.60                           2.0-2.3
//   8        virtual   0.17-0.18   14.60                           1.8-1.9
// The real-time CPU figures are higher by the cost of thread wake-ups on a mostly idle virtual
// machine (docs/isp-run.md "Speed").
#include "app/station/isp_page.h"
#include "app/station/kestrellib_binding.h"
#include "app/station/page_settings.h"
#include "app/station/run_monitor.h"
#include "cli/demo_workspace.h"
#include "cli/run_pump.h"
#include "cli/terminal_view.h"
#include "kestrellib/device/device_set.h"
#include "kestrellib/program/config_files.h"
#include "platform/clock/clock.h"
#include "platform/clock/cpu_time.h"
#include "platform/devices/devices.h"
#include "platform/message_box/message_box.h"
#include "platform/messages/message_sink.h"
#include "sim/backends/devices_backend.h"
#include "sim/farm.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <random>
#include <streambuf>
#include <string>
#include <vector>

namespace {

using namespace kestrel;
namespace fs = std::filesystem;

constexpr std::uint8_t kProgramPage = 0x12;
constexpr std::uint8_t kReadPage = 0x13;

// Page commands of every device, counted on their way to the simulated devices.
struct PageCounts {
    std::atomic<std::uint64_t> programmed{0};
    std::atomic<std::uint64_t> read{0};
};

PageCounts& Counts() {
    static PageCounts counts;
    return counts;
}

class CountingConnection final : public platform::devices::Connection {
public:
    explicit CountingConnection(std::unique_ptr<platform::devices::Connection> inner)
        : inner_(std::move(inner)) {}
    int Send(const platform::devices::ScsiRequest& request) override {
        const int result = inner_->Send(request);
        if (result == 0 && request.cdbLength > 1) {
            if (request.cdb[1] == kProgramPage) {
                Counts().programmed.fetch_add(1, std::memory_order_relaxed);
            } else if (request.cdb[1] == kReadPage) {
                Counts().read.fetch_add(1, std::memory_order_relaxed);
            }
        }
        return result;
    }

private:
    std::unique_ptr<platform::devices::Connection> inner_;
};

// The sim backend with a count of the page commands that reached a device.
class CountingBackend final : public platform::devices::Backend {
public:
    CountingBackend() : inner_(sim::backends::MakeDevicesBackend()) {}
    const char* Name() const override { return inner_->Name(); }
    bool Enumerate(std::vector<platform::devices::InterfaceInfo>& interfaces) override {
        return inner_->Enumerate(interfaces);
    }
    std::unique_ptr<platform::devices::Connection> Open(const std::string& path,
                                                        int& error) override {
        auto connection = inner_->Open(path, error);
        if (!connection) {
            return nullptr;
        }
        return std::make_unique<CountingConnection>(std::move(connection));
    }
    bool StartMonitor(platform::devices::BackendEventSink sink) override {
        return inner_->StartMonitor(std::move(sink));
    }
    void StopMonitor() override { inner_->StopMonitor(); }

private:
    std::shared_ptr<platform::devices::Backend> inner_;
};

// A stream that drops what it is given: the terminal view's output.
class NullBuffer final : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The workspace of every run: a demo workspace with 4 MiB boot images and a 16 MiB resource
// image, set to mode 3 with read verification and nothing else.
struct Workspace {
    Workspace() {
        dir = fs::temp_directory_path() /
              ("kestrel-isp-bench-" + std::to_string(std::random_device{}()));
        setenv("KESTREL_HOME", dir.c_str(), 1);
        cli::DemoWorkspaceOptions options;
        options.dir = dir.string();
        // Each boot image: 24 KiB + this + 40 KiB blocks with their headers, 4 MiB in all.
        options.bootKib = 4096 - 64;
        // The resource tree: the wrapped firmware and two filler files, 16 MiB as an image.
        options.firmwareKib = 256;
        options.fillerKib = 16384 - 256 - 8;
        options.romfsMb = 17; // the image's 128 blocks, its record block and a few spare
        ok = cli::WriteDemoWorkspace(options, error);
        config::Write(config::isp::kImageType, 3);
        config::Write(config::isp::kReadVerify, 1);
        config::Write(config::isp::kRebuild, 0);
        config::Write(config::isp::kRomfsDualImage, 0);
        config::Write(config::isp::kDemoEnable, 0);
        std::error_code ec;
        resourceBytes = fs::file_size(dir / "resource.img", ec);
        // The boot package holds one image per hardware tag; the run writes one of them.
        bootBytes = fs::file_size(dir / "boot" / "boot.pkg", ec) / 5;
    }
    ~Workspace() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    fs::path dir;
    bool ok = false;
    std::string error;
    std::uintmax_t resourceBytes = 0;
    std::uintmax_t bootBytes = 0;
};

Workspace& TheWorkspace() {
    static Workspace workspace;
    return workspace;
}

// Message boxes raised during a run (a device's failure).
struct Boxes {
    std::mutex lock;
    std::vector<std::string> texts;
};

// Takes every device out of the device set and the farm, then plugs in `count` default devices
// with the default latency model, and enumerates them.
std::vector<std::shared_ptr<sim::Device>> PlugIn(int count) {
    for (int i = device::DeviceCount() - 1; i >= 0; --i) {
        device::CloseDevice(device::DeviceHandleAt(i));
    }
    sim::TheFarm().Clear();
    std::vector<std::shared_ptr<sim::Device>> devices;
    for (int i = 0; i < count; ++i) {
        sim::DeviceConfig config; // 2 KiB-page SLC, latency of its page size, scale 1
        config.commandLog = false;
        devices.push_back(sim::TheFarm().Add(config));
    }
    return devices;
}

double g_oneDeviceWall = 0; // wall time of the 1-device run, when it ran

void BM_IspRun(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const bool realTime = state.range(1) != 0;
    Workspace& workspace = TheWorkspace();
    if (!workspace.ok) {
        state.SkipWithError(("writing the workspace failed: " + workspace.error).c_str());
        return;
    }
    static const bool backend = [] {
        platform::devices::UseBackend(std::make_shared<CountingBackend>());
        return true;
    }();
    (void)backend;
    // Real time: the latency model takes real time. Virtual time: every device still accounts
    // its modelled time, but no thread sleeps, so the process's CPU time is the host's own work.
    platform::SetSleepScale(realTime ? 1.0 : 0.0);

    Boxes boxes;
    const platform::MessageBoxHandler previous =
        platform::SetMessageBoxHandler([&boxes](const std::string& text, const std::string&) {
            std::lock_guard guard(boxes.lock);
            boxes.texts.push_back(text);
        });

    double wall = 0, cpu = 0, modelled = 0;
    std::uint64_t programmed = 0, read = 0, bootBytes = 0;
    bool allOk = true;
    std::string failure;
    for (auto _ : state) {
        const auto devices = PlugIn(count);
        station::StationLibrary library = station::KestrellibBinding();
        library.initDeviceSet();
        library.enumerateDevices();

        NullBuffer nothing;
        std::ostream out(&nothing);
        cli::TerminalView view(out, true, 100);
        station::RunMonitor monitor;
        platform::QueueSink window;
        station::IspPage page(view, library, window, &window);
        page.SetRunRecordPath(""); // the bench leaves no run record behind
        station::PageSettings& settings = page.Settings();
        settings = station::LoadPageSettings();
        const station::PathBoxes typed{settings.bootCodePath, settings.resourcePath,
                                       settings.demoDir};
        cli::PhaseBytes bytes{workspace.bootBytes, workspace.resourceBytes};
        auto handle = [&](const platform::WindowMessage& m) {
            monitor.Observe(m, platform::TickCount());
            page.HandleMessage(m);
        };
        page.RefreshTitle();
        while (auto m = window.TryTake()) {
            handle(*m);
        }
        Counts().programmed = 0;
        Counts().read = 0;

        // The run: the ISP action until the last worker has ended, handled as kestrel-cli does.
        const double cpuStart = platform::ProcessCpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        page.StartIsp(typed);
        const int jobs = page.JobCount();
        if (jobs > 0) {
            std::error_code ec;
            bytes.boot = fs::file_size(page.Job(0).redbootPath, ec);
        }
        auto underWay = [&page] { return page.RunUnderWay(); };
        auto tick = [&] { view.Render(monitor, jobs, bytes, platform::TickCount()); };
        cli::PumpRun(window, underWay, handle, tick);
        bootBytes = bytes.boot;
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        cpu = platform::ProcessCpuSeconds() - cpuStart;
        state.SetIterationTime(wall);

        programmed = Counts().programmed;
        read = Counts().read;
        modelled = 0;
        for (const auto& d : devices) {
            modelled = std::max(modelled, d->BusyMicroseconds() * 1e-6);
            if (!d->HostErrors().empty()) {
                allOk = false;
                failure = "a device recorded a host error";
            }
        }
        if (jobs != count) {
            allOk = false;
            failure = "the run found " + std::to_string(jobs) + " devices";
        }
        for (int i = 0; i < jobs; ++i) {
            if (!monitor.Succeeded(i, 3)) {
                allOk = false;
                failure = "device " + std::to_string(i) + ": " + monitor.Explanation(i, 3);
            }
        }
    }
    platform::SetMessageBoxHandler(previous);
    if (!allOk) {
        state.SkipWithError(failure.c_str());
        return;
    }
    if (count == 1 && realTime) {
        g_oneDeviceWall = wall;
    }
    state.counters["wall_s"] = wall;
    state.counters["modelled_s"] = modelled;
    state.counters["cpu_s"] = cpu;
    state.counters["pages_programmed"] = static_cast<double>(programmed);
    state.counters["pages_read"] = static_cast<double>(read);
    // Pages programmed and verified: every page program and every page read-back.
    const auto pages = static_cast<double>(programmed + read);
    state.counters["cpu_us_per_page"] = pages > 0 ? cpu / pages * 1e6 : 0.0;
    state.counters["cpu_us_per_programmed_page"] =
        programmed > 0 ? cpu / static_cast<double>(programmed) * 1e6 : 0.0;
    state.counters["boot_MiB"] = static_cast<double>(bootBytes) / (1 << 20);
    state.counters["resource_MiB"] = static_cast<double>(workspace.resourceBytes) / (1 << 20);
    if (count == 8 && realTime && g_oneDeviceWall > 0) {
        state.counters["wall_ratio_8_to_1"] = wall / g_oneDeviceWall;
    }
}
BENCHMARK(BM_IspRun)
    ->ArgNames({"devices", "real_time"})
    ->Args({1, 1})
    ->Args({8, 1})
    ->Args({1, 0})
    ->Args({8, 0})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
