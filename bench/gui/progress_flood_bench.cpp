// The Basic page under progress notifications from eight devices at full speed, while the UI
// thread runs its event loop with the page shown:
// - BM_ProgressFloodFromEightDevices: eight producer threads post what zero-latency devices post
//   (a progress range, then one step notification per page, without pause);
// - BM_BootCodeRunOnEightSimulatedDevices: a real ISP press in "Boot code" mode, the library's
//   WriteFW2NandFun programming eight zero-latency simulated devices.
// Reported: the UI thread's handling rate (messages per second) and the largest gap between two
// repaints while the notifications arrive (target: under 50 ms); for the real run also the time
// the ISP press itself holds the UI thread. The repaints are those of a small
// heartbeat widget on the page that asks for a repaint whenever the event loop is idle, so a gap
// is time in which the window could not have repainted; "bar_repaints" counts the slot bars'.
//
// Measured on the shared 2-core build machine under a load average of 5-8: the flood is handled
// at 120k-540k messages/s with repaint gaps of 12-18 ms; the real run's gaps were 20-60 ms,
// the larger ones mid-run while eight workers and the machine's other work kept both cores busy
// (the UI thread waits for a core then, not for the notifications, of which a run has ~70).
//
// Run with QT_QPA_PLATFORM=offscreen (set below unless the environment chooses a platform).

#include "app/basic_page.h"
#include "app/station/kestrellib_binding.h"
#include "kestrel/isp_job.h"
#include "kestrellib/device/device_exports.h"
#include "kestrellib/program/boot_image_writer.h"
#include "platform/devices/devices.h"
#include "sim/backends/devices_backend.h"
#include "sim/farm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

namespace {

using namespace kestrel;

station::StationLibrary IdleLibrary() {
    station::StationLibrary lib;
    lib.initDeviceSet = [] {};
    lib.enumerateDevices = [] { return 1; };
    lib.deviceCount = [] { return 8; };
    lib.deviceHandle = [](int) { return nullptr; };
    lib.deviceId = [](int) { return std::string(); };
    lib.getRedboot = [](IspJob&, const std::string& p, int& r) {
        r = 0;
        return p;
    };
    lib.isWriteRomFs = [](int) { return 0; };
    lib.isIniFileExist = [](const char*) { return 0; };
    lib.writeFw = [](IspJob*) { return 0; };
    lib.writeRomfs = [](IspJob*) { return 0; };
    lib.initSurplus = [] { return 1; };
    lib.freeSurplus = [] {};
    lib.resetSurplus = [] {};
    lib.increaseSurplus = [] {};
    lib.decreaseSurplus = [] {};
    lib.requestStop = [](bool) {};
    return lib;
}

// Notes the time of every paint of the watched widget.
class PaintClock : public QObject {
public:
    explicit PaintClock(QElapsedTimer& clock) : clock_(clock) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            const qint64 now = clock_.nsecsElapsed();
            if (last_ >= 0) {
                maxGap_ = std::max(maxGap_, now - last_);
            }
            last_ = now;
            ++paints_;
        }
        return false;
    }
    void Reset() {
        last_ = clock_.nsecsElapsed();
        maxGap_ = 0;
        paints_ = 0;
    }
    qint64 MaxGapNs() const { return maxGap_; }
    int Paints() const { return paints_; }

private:
    QElapsedTimer& clock_;
    qint64 last_ = -1;
    qint64 maxGap_ = 0;
    int paints_ = 0;
};

// A widget of the page that asks for its next repaint as soon as the event loop is idle.
class Heartbeat : public QWidget {
public:
    explicit Heartbeat(QWidget* parent) : QWidget(parent) {
        setGeometry(0, 0, 4, 4);
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
        timer_.start();
    }

private:
    QTimer timer_;
};

// Counts paint events.
class PaintCount : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
    int paints = 0;
};

void BM_ProgressFloodFromEightDevices(benchmark::State& state) {
    const auto steps = static_cast<std::uint32_t>(state.range(0));
    constexpr int kDevices = 8;
    app::CBasicPg page(IdleLibrary(), nullptr, nullptr);
    page.resize(1000, 700);
    page.show();
    QApplication::processEvents();

    QElapsedTimer clock;
    clock.start();
    PaintClock paints(clock);
    Heartbeat heartbeat(&page);
    heartbeat.show();
    heartbeat.installEventFilter(&paints);
    PaintCount bars;
    for (int k = 0; k < kDevices; ++k) {
        page.Slot(k)->Bar()->installEventFilter(&bars);
    }

    double maxGapMs = 0;
    std::int64_t handled = 0;
    double seconds = 0;
    for (auto _ : state) {
        paints.Reset();
        const std::size_t before = page.Sink().Pending();
        benchmark::DoNotOptimize(before);
        QElapsedTimer run;
        run.start();
        std::atomic<int> producing{kDevices};
        std::vector<std::thread> producers;
        for (int d = 0; d < kDevices; ++d) {
            producers.emplace_back([&, d] {
                void* window = page.Page().Window();
                ProgressRecord record{static_cast<std::uint16_t>(d), steps};
                platform::PostWindowMessageCopy(window, WM_ISP_STATUS, kStatusProgressRange,
                                                &record, sizeof record);
                for (std::uint32_t i = 0; i < steps; ++i) {
                    platform::PostWindowMessage(window, WM_ISP_STATUS, kStatusProgressStep, d);
                }
                --producing;
            });
        }
        while (producing > 0 || page.Sink().Pending() > 0) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        for (auto& t : producers) {
            t.join();
        }
        QApplication::processEvents();
        seconds += run.nsecsElapsed() / 1e9;
        handled += static_cast<std::int64_t>(kDevices) * (steps + 1);
        maxGapMs = std::max(maxGapMs, paints.MaxGapNs() / 1e6);
    }
    state.counters["messages_per_s"] = seconds > 0 ? handled / seconds : 0;
    state.counters["max_repaint_gap_ms"] = maxGapMs;
    state.counters["bar_repaints"] = bars.paints / static_cast<double>(state.iterations());
}

// A module directory with config.ini, isp.ini ("Boot code" mode) and a boot image of
// imageBytes, and eight zero-latency simulated devices whose loader takes the file as it stands.
class SimulatedStation {
public:
    explicit SimulatedStation(std::size_t imageBytes) {
        qputenv("KESTREL_HOME", home_.path().toLocal8Bit());
        const std::string dir = home_.path().toStdString() + "/";
        std::ofstream(dir + "config.ini")
            << "[General]\nItemNum=2\nItemName=Item\nHoldingPerInRomcode=1\nFreqNum=1\n"
               "FreqName=Clk\n[Item0]\nenable=1\nvalue=5\n[Item1]\nenable=1\nvalue=7\n"
               "[Clk0]\nfreq_spll_int=540\n";
        std::ofstream(dir + "isp.ini")
            << "[General]\nImageType=1\neccmode=1\n[Redboot]\nname=" << dir << "boot.img\n";
        program::BootImageContent content;
        content.bootHeaderValue = 0x30001;
        std::vector<std::uint8_t> bytes(imageBytes);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>(i * 13 + 5);
        }
        content.blocks = {{0x200, bytes}, {0x000, {1, 2, 3}}};
        std::string error;
        program::WriteBootImageFile(dir + "boot.img", content, &error);

        platform::devices::UseBackend(sim::backends::MakeDevicesBackend());
        sim::TheFarm().Clear();
        for (int i = 0; i < 8; ++i) {
            sim::DeviceConfig config;
            config.loaderClass = 2;
            config.latency = sim::LatencyModel::Zero();
            sim::TheFarm().Add(config);
        }
        Device_handle_set_init();
        EnumUsbStorDevice();
    }
    ~SimulatedStation() {
        CloseAllDevice(nullptr);
        sim::TheFarm().Clear();
    }

private:
    QTemporaryDir home_;
};

void BM_BootCodeRunOnEightSimulatedDevices(benchmark::State& state) {
    SimulatedStation station(static_cast<std::size_t>(state.range(0)) * 1024);
    app::CBasicPg page(station::KestrellibBinding(), nullptr, nullptr);
    page.resize(1000, 700);
    page.show();
    QApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    PaintClock paints(clock);
    Heartbeat heartbeat(&page);
    heartbeat.show();
    heartbeat.installEventFilter(&paints);
    PaintCount bars;
    for (int k = 0; k < 8; ++k) {
        page.Slot(k)->Bar()->installEventFilter(&bars);
    }
    double maxGapMs = 0;
    double pressMs = 0;
    double seconds = 0;
    std::uint64_t handled = 0;
    for (auto _ : state) {
        const std::uint64_t before = page.Sink().Handled();
        QElapsedTimer run;
        run.start();
        // The press itself (boot image choice on device 0, INI writes, worker start) is UI work
        // by design and reported apart; the gaps are measured from its return.
        page.OnIsp();
        pressMs = std::max(pressMs, run.nsecsElapsed() / 1e6);
        paints.Reset();
        while (page.Page().RunUnderWay() || page.Sink().Pending() > 0) {
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        seconds += run.nsecsElapsed() / 1e9;
        handled += page.Sink().Handled() - before;
        maxGapMs = std::max(maxGapMs, paints.MaxGapNs() / 1e6);
    }
    state.counters["messages_per_s"] = seconds > 0 ? handled / seconds : 0;
    state.counters["max_repaint_gap_ms"] = maxGapMs;
    state.counters["isp_press_ms"] = pressMs;
    state.counters["messages_per_run"] = static_cast<double>(handled) / state.iterations();
    state.counters["bar_repaints"] = bars.paints / static_cast<double>(state.iterations());
}

BENCHMARK(BM_BootCodeRunOnEightSimulatedDevices)->Arg(4096)->Unit(benchmark::kMillisecond);

BENCHMARK(BM_ProgressFloodFromEightDevices)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
