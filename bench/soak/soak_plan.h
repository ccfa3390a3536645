#pragma once
// The soak's plan of one run: from a seed, eight simulated devices, each with a random chip of
// one of the twelve identification classes and at most one fault class, written as the
// simulated devices' configuration file (docs/simulation.md). The same seed always gives the
// same plan, so a failing unit is replayed from its seed alone.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::soak {

inline constexpr int kUnitsPerRun = 8;

// What a unit is put through.
enum class Fault : std::uint8_t {
    kNone,
    kFactoryBad,    // factory bad blocks, among them blocks 0-2 or the resource area's first
    kGrownBad,      // blocks that go bad after some erases
    kFailingPages,  // pages that read back wrong every time
    kTransient,     // a run of command failures the transport's ten retries absorb
    kTransientLong, // a run of command failures longer than the retries absorb
    kPermanent,     // every command fails from some point on
    kUnplugReplug,  // the cable comes out mid-run and goes back in
};
inline constexpr int kFaultCount = 8;

std::string_view FaultName(Fault fault);

struct UnitPlan {
    int chipClass = 0; // 0..11
    Fault fault = Fault::kNone;
    std::string faultLines; // the configuration lines of the fault ("" for none)
};

// The units of the run of `seed`.
std::vector<UnitPlan> PlanRun(std::uint64_t seed);

// The configuration file of the run's devices: one [device] section per unit, in order, with
// zero latency (waits are skipped anyway) and automatic ports, so unit i sits on port 1-1.(i+1).
// The units share one DevId, as a real batch does.
std::string SimConfigText(const std::vector<UnitPlan>& units);

// The USB port the farm gives the unit at `index` ("1-1.1", "1-1.2", ...): the instance part of
// its interface path, which the run record's "port" and the read-back lines name, holds it
// between '&'s ("KESTREL&1-1.3&0").
std::string UnitPort(int index);

} // namespace kestrel::soak
