#include "bench/soak/soak_plan.h"

#include <array>
#include <cstdio>
#include <random>
#include <set>

namespace kestrel::soak {
namespace {

// The first block of the resource area: the boot area takes blocks 0-63 for boot device id 0,
// and the area's record sits in the first good block after it.
constexpr std::uint32_t kResourceAreaStart = 64;
// The transport retries a failed command ten times; a run of failures up to this long is
// absorbed.
constexpr int kAbsorbedFailures = 10;
// Vendor sub-commands a transient or permanent failure hits: erase, program page, read page.
constexpr std::array<const char*, 4> kFailingSubCommands = {"11", "12", "13", "any"};

std::string Join(const std::set<std::uint32_t>& values, const char* suffix = "") {
    std::string text;
    for (const std::uint32_t v : values) {
        text += (text.empty() ? "" : ", ") + std::to_string(v) + suffix;
    }
    return text;
}

// Between lo and hi inclusive.
std::uint32_t Uniform(std::mt19937_64& random, std::uint32_t lo, std::uint32_t hi) {
    return std::uniform_int_distribution<std::uint32_t>(lo, hi)(random);
}

std::string FaultLines(Fault fault, std::mt19937_64& random) {
    switch (fault) {
    case Fault::kNone:
        return "";
    case Fault::kFactoryBad: {
        // Blocks 0-2 (where boot code and the system information go) or the resource area's
        // first blocks (where its record goes), and a few more.
        std::set<std::uint32_t> blocks;
        blocks.insert(Uniform(random, 0, 1) == 0 ? Uniform(random, 0, 2)
                                                 : kResourceAreaStart + Uniform(random, 0, 1));
        for (std::uint32_t n = Uniform(random, 0, 4); n > 0; --n) {
            blocks.insert(Uniform(random, 0, 255));
        }
        return "factory_bad = " + Join(blocks) + "\n";
    }
    case Fault::kGrownBad: {
        std::string text = "grown_bad = ";
        for (std::uint32_t n = Uniform(random, 1, 3); n > 0; --n) {
            const std::uint32_t block = Uniform(random, 0, 3) == 0
                                            ? Uniform(random, 0, 2)
                                            : kResourceAreaStart + Uniform(random, 0, 40);
            text += std::to_string(block) + "@" + std::to_string(Uniform(random, 0, 2)) +
                    (n > 1 ? ", " : "\n");
        }
        return text;
    }
    case Fault::kFailingPages: {
        std::set<std::uint32_t> pages;
        for (std::uint32_t n = Uniform(random, 1, 4); n > 0; --n) {
            pages.insert(Uniform(random, 0, 255 * 64));
        }
        return "failing_pages = " + Join(pages) + "\n";
    }
    case Fault::kTransient:
    case Fault::kTransientLong: {
        const int count = fault == Fault::kTransient
                              ? static_cast<int>(Uniform(random, 1, kAbsorbedFailures))
                              : static_cast<int>(Uniform(random, kAbsorbedFailures + 1, 40));
        const char* sub = kFailingSubCommands[Uniform(random, 0, kFailingSubCommands.size() - 1)];
        const char* code = Uniform(random, 0, 1) == 0 ? "31" : "1167";
        return std::string("fail = ") + sub + ":" + std::to_string(count) + ":" + code + ":" +
               std::to_string(Uniform(random, 0, 300)) + "\n";
    }
    case Fault::kPermanent: {
        const char* sub = kFailingSubCommands[Uniform(random, 0, kFailingSubCommands.size() - 1)];
        return std::string("fail = ") + sub +
               ":always:" + (Uniform(random, 0, 1) == 0 ? "31" : "1167") + ":" +
               std::to_string(Uniform(random, 0, 400)) + "\n";
    }
    case Fault::kUnplugReplug:
        return "unplug = " + std::to_string(Uniform(random, 20, 400)) + ":" +
               std::to_string(Uniform(random, 0, 1000)) + "\n";
    }
    return "";
}

} // namespace

std::string_view FaultName(Fault fault) {
    static constexpr std::array<std::string_view, kFaultCount> kNames = {
        "none",      "factory-bad",    "grown-bad", "failing-pages",
        "transient", "transient-long", "permanent", "unplug-replug"};
    return kNames[static_cast<std::size_t>(fault)];
}

std::vector<UnitPlan> PlanRun(std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::vector<UnitPlan> units(kUnitsPerRun);
    for (UnitPlan& unit : units) {
        unit.chipClass = static_cast<int>(Uniform(random, 0, 11));
        unit.fault = static_cast<Fault>(Uniform(random, 0, kFaultCount - 1));
        unit.faultLines = FaultLines(unit.fault, random);
    }
    return units;
}

std::string SimConfigText(const std::vector<UnitPlan>& units) {
    std::string text;
    for (const UnitPlan& unit : units) {
        text += "[device]\nchip = class" + std::to_string(unit.chipClass) + "\nlatency = zero\n" +
                unit.faultLines + "\n";
    }
    return text;
}

std::string UnitPort(int index) {
    return "1-1." + std::to_string(index + 1);
}

} // namespace kestrel::soak
