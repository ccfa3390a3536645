// Writing a resource image: host CPU time per page on a zero-latency simulated device with
// read verification, and the writer's peak heap, which must not grow with the image.

#include "kestrel/isp_job.h"
#include "kestrellib/device/device_discovery.h"
#include "kestrellib/device/device_set.h"
#include "kestrellib/device/nand_info.h"
#include "kestrellib/device/nand_layout.h"
#include "kestrellib/program/config_files.h"
#include "kestrellib/program/resource_image_writer.h"
#include "kestrellib/program/vendor_resource_nand.h"
#include "platform/clock/clock.h"
#include "platform/devices/devices.h"
#include "platform/message_box/message_box.h"
#include "sim/backends/devices_backend.h"
#include "sim/farm.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <random>

namespace {

// Live and peak heap bytes of the whole process, counted by the replaced operator new.
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};

constexpr std::size_t kHeader = alignof(std::max_align_t);

void* CountedAlloc(std::size_t size) {
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    std::memcpy(block, &size, sizeof size);
    const std::size_t live = liveBytes.fetch_add(size) + size;
    std::size_t peak = peakBytes.load();
    while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
    }
    return block + kHeader;
}

void CountedFree(void* p) {
    if (p == nullptr) {
        return;
    }
    auto* block = static_cast<unsigned char*>(p) - kHeader;
    std::size_t size;
    std::memcpy(&size, block, sizeof size);
    liveBytes.fetch_sub(size);
    std::free(block);
}

} // namespace

void* operator new(std::size_t size) {
    return CountedAlloc(size);
}
void* operator new[](std::size_t size) {
    return CountedAlloc(size);
}
void operator delete(void* p) noexcept {
    CountedFree(p);
}
void operator delete[](void* p) noexcept {
    CountedFree(p);
}
void operator delete(void* p, std::size_t) noexcept {
    CountedFree(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    CountedFree(p);
}

namespace {

using namespace kestrel;

constexpr std::uint32_t kPageSize = 2048;

// A module directory with isp.ini (32 MB Romfs area) and an image of the given size.
struct BenchHome {
    explicit BenchHome(std::size_t imageBytes) {
        dir = std::filesystem::temp_directory_path() /
              ("kestrel-bench-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(dir);
        setenv("KESTREL_HOME", dir.c_str(), 1);
        config::Write(config::isp::kRomfsMaxSize, 32);
        config::Write(config::isp::kRomfsDualImage, 0);
        image = (dir / "romfs.img").string();
        std::ofstream out(image, std::ios::binary);
        std::mt19937 random(1);
        std::string bytes(imageBytes, '\0');
        for (auto& c : bytes) {
            c = static_cast<char>(random());
        }
        out << bytes;
    }
    ~BenchHome() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    std::filesystem::path dir;
    std::string image;
};

device::NandLayout DefaultLayout() {
    device::NandInfo info{};
    info.pagesPerBlock = 64;
    info.pageSize = kPageSize;
    info.blockCount = 4096;
    device::NandLayout layout{};
    device::ComputeNandLayout(layout, info);
    return layout;
}

// 16 MiB to a zero-latency simulated device, read verification on.
void BM_WriteImageToSimulatedDevice(benchmark::State& state) {
    const std::size_t imageBytes = 16u << 20;
    BenchHome home(imageBytes);
    platform::SetSleepScale(0);
    platform::SetMessageBoxHandler([](const std::string&, const std::string&) {});
    platform::devices::UseBackend(sim::backends::MakeDevicesBackend());
    sim::TheFarm().Clear();
    sim::DeviceConfig config;
    config.latency = sim::LatencyModel::Zero();
    config.commandLog = false;
    sim::TheFarm().Add(config);
    device::InitDeviceSet();
    device::EnumerateDevices();

    IspJob job{};
    job.romfsPath = home.image.c_str();
    job.readVerify = 1;
    job.hDevice = device::DeviceHandleAt(0);
    const device::NandLayout layout = DefaultLayout();
    program::VendorResourceNand nand(layout, job.hDevice);

    const double pages = static_cast<double>(imageBytes / kPageSize);
    for (auto _ : state) {
        if (program::WriteResourceImage(layout, job, program::ResourceImageKind::kRomfs, nand) !=
            0) {
            state.SkipWithError("write failed");
            break;
        }
    }
    state.counters["cpu_per_page"] = benchmark::Counter(
        pages, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    device::CloseAllDevices(nullptr);
    sim::TheFarm().Clear();
}
BENCHMARK(BM_WriteImageToSimulatedDevice)->Unit(benchmark::kMillisecond)->Iterations(3);

// A NAND that keeps only its last page: what stays on the heap is the writer's own.
class LastPageNand : public program::ResourceNand {
public:
    bool TestBlock(std::uint16_t) override { return true; }
    bool WritePage(std::uint32_t, const std::uint8_t* data, std::uint32_t length) override {
        std::memcpy(page_, data, length);
        return true;
    }
    bool ReadPage(std::uint32_t, std::uint8_t* data, std::uint32_t length) override {
        std::memcpy(data, page_, length);
        return true;
    }

private:
    std::uint8_t page_[kPageSize];
};

void BM_WriterPeakHeap(benchmark::State& state) {
    const auto imageBytes = static_cast<std::size_t>(state.range(0)) << 20;
    BenchHome home(imageBytes);
    platform::SetMessageBoxHandler([](const std::string&, const std::string&) {});
    IspJob job{};
    job.romfsPath = home.image.c_str();
    job.readVerify = 1;
    const device::NandLayout layout = DefaultLayout();
    LastPageNand nand;
    std::size_t extra = 0;
    for (auto _ : state) {
        const std::size_t before = liveBytes.load();
        peakBytes.store(before);
        program::WriteResourceImage(layout, job, program::ResourceImageKind::kRomfs, nand);
        extra = peakBytes.load() - before;
    }
    state.counters["peak_heap_bytes"] = static_cast<double>(extra);
    state.counters["block_bytes"] = static_cast<double>(layout.pagesPerBlock) * kPageSize;
}
BENCHMARK(BM_WriterPeakHeap)->Arg(1)->Arg(16)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

BENCHMARK_MAIN();
