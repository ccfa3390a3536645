// The Basic page under progress notifications from eight devices at full speed: eight producer
// threads post what zero-latency devices post (a progress range, then one step notification per
// page, without pause) while the UI thread runs its event loop with the page shown. Reported:
// the UI thread's handling rate (messages per second) and the largest gap between two repaints
// of the slot bars while the flood lasts (target: under 50 ms).
//
// Run with QT_QPA_PLATFORM=offscreen (set below unless the environment chooses a platform).

#include "app/basic_page.h"
#include "app/isp_job.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProgressBar>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
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

// Notes the time of every paint of the watched bars.
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
    for (int k = 0; k < kDevices; ++k) {
        page.Slot(k)->Bar()->installEventFilter(&paints);
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
    state.counters["repaints"] = paints.Paints();
}

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
