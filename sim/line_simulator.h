#pragma once
// A production line for tests and benchmarks: a station with `slots` USB ports, the shift's units
// in the order they are plugged in, and one operator who swaps a finished unit for the next one.
// Every plug and pull goes through the farm (sim/farm.h), so the station hears them through the
// devices layer's hot-plug broadcasts as it hears real devices.
//
// The operator works alone and in order: told that a unit is finished (UnitFinished, or SwapAll
// for a batch), they take it out and put the next unit of the shift into the same port, which
// takes that unit's swap time (LineUnit::swapMs, slept with platform::Sleep, so the clock's sleep
// scale applies as to every other wait); units finished meanwhile wait their turn. Ports stay
// empty once the shift has no unit left. Units report no USB serial, as those of one batch
// often do: a port's next unit has the same interface path as the one before it.
//
//   sim::LineSimulator line(units, 8);
//   line.Begin();                       // the first eight units, plugged in at once
//   line.UnitFinished(record.port);     // the station says the unit is done
//   line.WaitIdle();

#include "sim/device_config.h"
#include "sim/sim_api.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::sim {

class Device;

struct LineUnit {
    DeviceConfig config;
    std::uint32_t swapMs = 0; // taking this unit out and putting the next one in
};

// The port of slot k (0-based): "3-1.<k+1>", the ports of one hub.
KESTREL_SIM_API std::string LinePort(int slot);

class KESTREL_SIM_API LineSimulator {
public:
    LineSimulator(std::vector<LineUnit> units, int slots);
    // Stops the operator (a swap under way is completed) and leaves the devices plugged in.
    ~LineSimulator();
    LineSimulator(const LineSimulator&) = delete;
    LineSimulator& operator=(const LineSimulator&) = delete;

    // Plugs the first units into the empty ports, one per port, at once.
    void Begin();
    // The unit whose interface path holds `instance` (the instance part, as the run record's
    // port names it, any case) is finished: the operator swaps it when free. False when no
    // present unit has that instance.
    bool UnitFinished(const std::string& instance);
    // The unit number (0-based, order of the shift) of the present unit with that instance; -1
    // when none.
    int UnitWith(const std::string& instance) const;
    // Every occupied port is swapped, in port order (a batch ended).
    void SwapAll();
    // Blocks until no swap is pending or under way.
    void WaitIdle();
    bool Idle() const;

    int Plugged() const;    // units plugged in so far
    int Pulled() const;     // units taken out so far
    bool ShiftOver() const; // every unit plugged in and taken out
    int Slots() const { return static_cast<int>(ports_.size()); }
    // The unit number (0-based, order of the shift) in a port; -1 for an empty port.
    int UnitOn(int slot) const;

private:
    void Operator();
    void PlugNextLocked(int slot); // with lock_ held
    int SlotOfLocked(const std::string& instance) const;

    std::vector<LineUnit> units_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::shared_ptr<Device>> ports_; // guarded by lock_
    std::vector<int> unitOn_;                    // guarded by lock_
    std::deque<int> pending_;                    // slots waiting for the operator
    std::size_t next_ = 0;                       // next unit of the shift
    int pulled_ = 0;
    bool busy_ = false;
    bool quit_ = false;
    std::thread operator_;
};

} // namespace kestrel::sim
