// kestrel_soak: seeded fault-injection runs of the whole station. Each run puts eight simulated
// devices, with random chips and faults planned from its seed (bench/soak/soak_plan.h), through
// `kestrel-cli isp verify` in a process of its own, and judges every unit
// (bench/soak/soak_verdict.h). Prints the outcomes per fault class and every unit that was
// reported ok but is wrong or unreadable, failed without a message, hung or crashed, with its
// seed; exits 1 when there is one. docs/soak.md tells how to run and replay it.

#include "bench/soak/soak_plan.h"
#include "bench/soak/soak_verdict.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

namespace {

using namespace kestrel::soak;
namespace fs = std::filesystem;

struct Options {
    std::uint64_t first = 1;
    std::uint64_t seeds = 100;
    int jobs = 2;
    int limitSeconds = 120;
    std::string cli = KESTREL_CLI_PATH;
    bool keep = false;
};

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WriteText(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Runs the shell command; its end as the soak sees it. `timeout` stops a run past the limit
// with status 124 (and kills it 10 s later); a process that died of a signal shows as such or
// as 128 + signal.
RunEnd::How RunCommand(const std::string& command, int& status) {
    const int raw = std::system(command.c_str());
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (WIFSIGNALED(raw) || (status > 128 && status != 124 && status != 137)) {
        return RunEnd::How::kCrashed;
    }
    if (status == 124 || status == 137) {
        return RunEnd::How::kTimedOut;
    }
    return RunEnd::How::kExited;
}

struct Tally {
    std::mutex lock;
    std::array<std::array<std::uint64_t, kOutcomeCount>, kFaultCount> counts{};
    std::vector<std::string> faults; // one line per unit in a fault outcome
    std::string setupError;
};

// One run in the worker's own home directory.
void SoakOne(const Options& options, const fs::path& home, std::uint64_t seed, Tally& tally) {
    const std::vector<UnitPlan> units = PlanRun(seed);
    const fs::path farm = home / "farm.ini";
    std::error_code ec;
    fs::remove(home / "isp-runs.jsonl", ec);
    if (!WriteText(farm, SimConfigText(units))) {
        std::lock_guard guard(tally.lock);
        tally.setupError = "can't write " + farm.string();
        return;
    }
    const std::string command =
        "timeout -k 10 " + std::to_string(options.limitSeconds) + " " + Quoted(options.cli) +
        " --sleep-scale 0 --home " + Quoted(home.string()) + " --sim-config " +
        Quoted(farm.string()) + " isp --quiet --mode 3 --read-verify 1 --timeout " +
        std::to_string(options.limitSeconds) + " verify --mode 3 > " +
        Quoted((home / "out.txt").string()) + " 2> " + Quoted((home / "err.txt").string());
    RunEnd end;
    end.how = RunCommand(command, end.status);
    end.record = ReadText(home / "isp-runs.jsonl");
    end.out = ReadText(home / "out.txt");
    end.err = ReadText(home / "err.txt");
    const std::vector<UnitVerdict> verdicts = Judge(end, static_cast<int>(units.size()));

    std::lock_guard guard(tally.lock);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const UnitVerdict& v = verdicts[i];
        ++tally.counts[static_cast<std::size_t>(units[i].fault)]
                      [static_cast<std::size_t>(v.outcome)];
        if (IsFault(v.outcome)) {
            std::string plan = units[i].faultLines;
            while (!plan.empty() && plan.back() == '\n') {
                plan.pop_back();
            }
            tally.faults.push_back("seed " + std::to_string(seed) + " unit " + std::to_string(i) +
                                   " (class" + std::to_string(units[i].chipClass) + ", " +
                                   std::string(FaultName(units[i].fault)) +
                                   (plan.empty() ? "" : ": " + plan) +
                                   "): " + std::string(OutcomeName(v.outcome)) + ": " + v.detail);
        }
    }
}

void PrintTable(const Tally& tally) {
    std::printf("%-15s", "fault class");
    const char* heads[kOutcomeCount] = {"verified",     "failed+msg", "failed-silent",
                                        "ok-but-wrong", "hang",       "crash"};
    for (const char* head : heads) {
        std::printf(" %14s", head);
    }
    std::printf("\n");
    std::array<std::uint64_t, kOutcomeCount> totals{};
    for (int f = 0; f < kFaultCount; ++f) {
        std::printf("%-15s", std::string(FaultName(static_cast<Fault>(f))).c_str());
        for (int o = 0; o < kOutcomeCount; ++o) {
            const auto n = tally.counts[static_cast<std::size_t>(f)][static_cast<std::size_t>(o)];
            totals[static_cast<std::size_t>(o)] += n;
            std::printf(" %14llu", static_cast<unsigned long long>(n));
        }
        std::printf("\n");
    }
    std::printf("%-15s", "all");
    for (const auto n : totals) {
        std::printf(" %14llu", static_cast<unsigned long long>(n));
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    CLI::App app{"kestrel_soak: seeded fault-injection runs of eight simulated devices each"};
    app.add_option("--first", options.first, "First seed");
    app.add_option("--seeds", options.seeds, "Number of runs (seeds first, first+1, ...)");
    app.add_option("--jobs", options.jobs, "Runs at once")->check(CLI::Range(1, 64));
    app.add_option("--limit", options.limitSeconds, "Seconds a run may take before it is a hang")
        ->check(CLI::Range(1, 3600));
    app.add_option("--cli", options.cli, "The kestrel-cli program");
    app.add_flag("--keep", options.keep, "Keep the work directory");
    CLI11_PARSE(app, argc, argv);

    const fs::path work =
        fs::temp_directory_path() / ("kestrel-soak-" + std::to_string(std::random_device{}()));
    std::error_code ec;
    fs::create_directories(work, ec);
    Tally tally;
    std::vector<fs::path> homes;
    for (int j = 0; j < options.jobs; ++j) {
        homes.push_back(work / ("home" + std::to_string(j)));
        const std::string command = Quoted(options.cli) + " demo-workspace " +
                                    Quoted(homes.back().string()) + " > /dev/null";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "kestrel_soak: %s failed\n", command.c_str());
            fs::remove_all(work, ec);
            return 2;
        }
    }
    std::atomic<std::uint64_t> next{0};
    std::vector<std::thread> workers;
    for (int j = 0; j < options.jobs; ++j) {
        workers.emplace_back([&, j] {
            for (std::uint64_t n = next++; n < options.seeds; n = next++) {
                SoakOne(options, homes[static_cast<std::size_t>(j)], options.first + n, tally);
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    if (!options.keep) {
        fs::remove_all(work, ec);
    }
    if (!tally.setupError.empty()) {
        std::fprintf(stderr, "kestrel_soak: %s\n", tally.setupError.c_str());
        return 2;
    }
    std::printf("kestrel_soak: %llu runs from seed %llu, %llu units\n",
                static_cast<unsigned long long>(options.seeds),
                static_cast<unsigned long long>(options.first),
                static_cast<unsigned long long>(options.seeds * kUnitsPerRun));
    PrintTable(tally);
    std::sort(tally.faults.begin(), tally.faults.end());
    for (const std::string& line : tally.faults) {
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    return tally.faults.empty() ? 0 : 1;
}
