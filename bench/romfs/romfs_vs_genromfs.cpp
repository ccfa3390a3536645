// Our ROMFS builder against `genromfs -a 32` on the same generated trees, in one run: the two
// take turns (the order swapped every round), every run's image is checked before its time
// counts, and the medians are compared with the targets. Each build runs in a child process so
// that its peak resident memory can be read from the kernel (genromfs is started the same way).
//
// Trees: "small" is 10,000 files of 64 B to 16 KiB in 100 directories, "large" 20 files of
// 10 MiB. The small tree has 10,101 nodes, more than the 8192 a device image may hold, so the
// bench calls the builder behind mk_romfs with the node limit raised; everything else is the
// build mk_romfs runs. Counters: ours_ms and genromfs_ms (medians), ratio (ours / genromfs),
// target, meets_target, and the peak resident memory of each in KiB (a forked child starts with the
// bench's own pages, baseline_kib, so compare differences).
//
// Run: build/default/bench/romfs/romfs_bench [--benchmark_filter=small]
// The trees are made under $TMPDIR (or /tmp) and removed at the end.
#include "kestrellib/romfs/romfs_builder.h"
#include "kestrellib/romfs/romfs_reader.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int kRounds = 7;

struct Tree {
    fs::path root;
    std::map<std::string, std::uint64_t> files; // path below the root -> hash of the content
    std::uint64_t bytes = 0;
};

fs::path WorkDir() {
    static const fs::path dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        fs::path d = fs::path(tmp != nullptr ? tmp : "/tmp") /
                     ("kestrel-romfs-bench-" + std::to_string(getpid()));
        fs::create_directories(d / "home");
        // An empty module directory: no isp.ini, so no compression and no second image.
        setenv("KESTREL_HOME", (d / "home").c_str(), 1);
        return d;
    }();
    return dir;
}

void Write(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

// FNV-1a: the bench keeps hashes, not contents, so that its own memory stays small.
std::uint64_t Hash(const unsigned char* data, std::size_t size) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i) {
        h = (h ^ data[i]) * 1099511628211ull;
    }
    return h;
}

std::uint64_t Hash(const std::string& s) {
    return Hash(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

std::string RandomBytes(std::mt19937_64& random, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t v = random();
        std::memcpy(bytes.data() + i, &v, std::min<std::size_t>(8, size - i));
    }
    return bytes;
}

const Tree& SmallTree() {
    static const Tree tree = [] {
        Tree t{WorkDir() / "small", {}, 0};
        std::mt19937_64 random(1);
        std::uniform_int_distribution<std::size_t> size(64, 16384);
        for (int d = 0; d < 100; ++d) {
            const std::string dir = "dir" + std::to_string(d);
            fs::create_directories(t.root / dir);
            for (int f = 0; f < 100; ++f) {
                const std::string name = dir + "/file" + std::to_string(f) + ".dat";
                std::string content = RandomBytes(random, size(random));
                Write(t.root / name, content);
                t.bytes += content.size();
                t.files.emplace(name, Hash(content));
            }
        }
        return t;
    }();
    return tree;
}

const Tree& LargeTree() {
    static const Tree tree = [] {
        Tree t{WorkDir() / "large", {}, 0};
        fs::create_directories(t.root);
        std::mt19937_64 random(2);
        for (int f = 0; f < 20; ++f) {
            const std::string name = "blob" + std::to_string(f) + ".bin";
            std::string content = RandomBytes(random, 10u << 20);
            Write(t.root / name, content);
            t.bytes += content.size();
            t.files.emplace(name, Hash(content));
        }
        return t;
    }();
    return tree;
}

struct RunResult {
    double ms;
    long peakKib;
};

// Runs child() in a forked process with its standard output discarded; returns its wall time
// and peak resident memory. A nonzero exit status is an error.
template <typename Child>
RunResult RunChild(Child child) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        _exit(child());
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("build failed with status " + std::to_string(status));
    }
    return {std::chrono::duration<double, std::milli>(end - start).count(), usage.ru_maxrss};
}

RunResult RunOurs(const Tree& tree, const fs::path& image) {
    fs::remove(image);
    return RunChild([&] {
        kestrel::romfs::ImageRequest request;
        request.inputDir = tree.root.string();
        request.outputPath = image.string();
        request.versionWord = 0x00010001;
        request.volumeName = "bench";
        request.limits.maxNodes = 1 << 20;
        return kestrel::romfs::BuildRomfsImage(request, stdout, stderr);
    });
}

RunResult RunGenromfs(const Tree& tree, const fs::path& image) {
    fs::remove(image);
    return RunChild([&] {
        execlp("genromfs", "genromfs", "-a", "32", "-V", "bench", "-f", image.c_str(), "-d",
               tree.root.c_str(), static_cast<char*>(nullptr));
        return 127;
    });
}

// Our image: consistent, and every file's content as on the host. Runs in a child process so
// that loading the image does not grow the bench's own memory.
void CheckOursHere(const Tree& tree, const fs::path& image) {
    std::string error;
    auto loaded = kestrel::romfs::RomfsImage::Load(image.string(), &error);
    if (!loaded || !loaded->Check(&error)) {
        throw std::runtime_error("our image is broken: " + error);
    }
    std::vector<unsigned char> content;
    for (const auto& [path, expected] : tree.files) {
        const auto node = loaded->LookupPath(path, &error);
        if (!node || !loaded->ReadFile(*node, &content, &error) ||
            Hash(content.data(), content.size()) != expected) {
            throw std::runtime_error("our image holds the wrong content for " + path);
        }
    }
}

void CheckOurs(const Tree& tree, const fs::path& image) {
    RunChild([&] {
        try {
            CheckOursHere(tree, image);
            return 0;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "romfs_bench: %s\n", e.what());
            return 1;
        }
    });
}

// genromfs's image: its magic, and a declared size that holds all file data.
void CheckGenromfs(const Tree& tree, const fs::path& image) {
    std::ifstream in(image, std::ios::binary);
    char head[12] = {};
    in.read(head, sizeof head);
    const std::uint32_t size =
        (static_cast<std::uint32_t>(static_cast<unsigned char>(head[8])) << 24) |
        (static_cast<unsigned char>(head[9]) << 16) | (static_cast<unsigned char>(head[10]) << 8) |
        static_cast<unsigned char>(head[11]);
    if (std::string(head, 8) != "-rom1fs-" || size < tree.bytes || fs::file_size(image) < size) {
        throw std::runtime_error("genromfs image is broken");
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Compare(benchmark::State& state, const Tree& tree, double target) {
    const fs::path ours = WorkDir() / "ours.img";
    const fs::path theirs = WorkDir() / "genromfs.img";
    std::vector<double> oursMs;
    std::vector<double> theirMs;
    long oursPeak = 0;
    long theirPeak = 0;
    const long baseline = RunChild([] { return 0; }).peakKib;
    for (auto _ : state) {
        for (int round = 0; round < kRounds; ++round) {
            for (int turn = 0; turn < 2; ++turn) {
                if ((round + turn) % 2 == 0) {
                    const RunResult r = RunOurs(tree, ours);
                    CheckOurs(tree, ours);
                    oursMs.push_back(r.ms);
                    oursPeak = std::max(oursPeak, r.peakKib);
                } else {
                    const RunResult r = RunGenromfs(tree, theirs);
                    CheckGenromfs(tree, theirs);
                    theirMs.push_back(r.ms);
                    theirPeak = std::max(theirPeak, r.peakKib);
                }
            }
        }
        state.SetIterationTime(Median(oursMs) / 1000.0);
    }
    const double ratio = Median(oursMs) / Median(theirMs);
    state.counters["ours_ms"] = Median(oursMs);
    state.counters["genromfs_ms"] = Median(theirMs);
    state.counters["ratio"] = ratio;
    state.counters["target"] = target;
    state.counters["meets_target"] = ratio <= target ? 1 : 0;
    state.counters["ours_peak_kib"] = static_cast<double>(oursPeak);
    state.counters["genromfs_peak_kib"] = static_cast<double>(theirPeak);
    state.counters["baseline_kib"] = static_cast<double>(baseline);
    fs::remove(ours);
    fs::remove(theirs);
}

void BM_SmallTree(benchmark::State& state) {
    Compare(state, SmallTree(), 1.0);
}
void BM_LargeTree(benchmark::State& state) {
    Compare(state, LargeTree(), 1.1);
}

BENCHMARK(BM_SmallTree)
    ->Name("romfs_vs_genromfs/small")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargeTree)
    ->Name("romfs_vs_genromfs/large")
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    int status = 0;
    try {
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "romfs_bench: %s\n", e.what());
        status = 1;
    }
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(WorkDir(), ec);
    return status;
}
