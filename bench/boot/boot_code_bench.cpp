// Host CPU time of boot code programming per programmed page: a 4 MiB boot image written with
// WriteFW2NandFun onto a simulated device whose commands take no modelled time, so what is
// measured is the host's work (image reading, page writes, read-back and compare) and the
// command path through the devices layer. Target: under 5 us per 2 KiB page.
#include "kestrellib/program/boot_exports.h"
#include "kestrellib/program/boot_image_writer.h"
#include "platform/clock/clock.h"
#include "platform/devices/devices.h"
#include "platform/message_box/message_box.h"
#include "sim/backends/devices_backend.h"
#include "sim/farm.h"
#include "support/temp_home.h"

#include <benchmark/benchmark.h>

#include <cstdio>

using namespace kestrel;

namespace {

void BM_WriteBootImage4MiB(benchmark::State& state) {
    const auto pageSize = static_cast<std::uint32_t>(state.range(0));
    test::TempHome home;
    platform::SetSleepScale(0.0);
    platform::SetMessageBoxHandler(
        [](const std::string& text, const std::string&) { std::fputs(text.c_str(), stderr); });
    sim::TheFarm().Clear();
    platform::devices::UseBackend(sim::backends::MakeDevicesBackend());
    sim::DeviceConfig config = sim::DeviceConfig::ForClass(pageSize == 2048 ? 0 : 8);
    config.latency = sim::LatencyModel::Zero();
    config.commandLog = false;
    auto device = sim::TheFarm().Add(config);
    void* handle = platform::devices::Open(device->InterfacePath());

    program::BootImageContent content;
    content.bootHeaderValue = 0x30000;
    std::vector<std::uint8_t> data(4 << 20);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 31 + (i >> 11));
    }
    content.blocks = {{0x400, std::move(data)}};
    const std::string image = home.Path("boot.img");
    program::WriteBootImageFile(image, content);

    IspJob job{};
    job.hDevice = handle;
    job.redbootPath = image.c_str();
    const double pages = (4 << 20) / pageSize;
    for (auto _ : state) {
        if (WriteFW2NandFun(&job) != 0) {
            state.SkipWithError("WriteFW2NandFun failed");
            break;
        }
    }
    state.counters["pages"] = pages;
    state.counters["time_per_page"] = benchmark::Counter(
        pages, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    platform::devices::Close(handle);
    sim::TheFarm().Clear();
}

BENCHMARK(BM_WriteBootImage4MiB)->Arg(2048)->Arg(8192)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
