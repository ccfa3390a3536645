#pragma once
// Which unit holds which slot while the station programs continuously: a unit is the device of
// one interface path (DevId and instance: the USB port, and the serial where the unit has one)
// from its insertion until it is pulled. Bookkeeping only; the page asks the device set and
// starts the workers.
//
// A slot is free, running (the unit's worker has not ended) or finished (its result is shown
// until the unit is pulled). Rules:
// - a present device that no slot holds is a new unit and gets a free slot (the slot its path
//   last had when that one is free, else the lowest), as many as the caller admits;
// - a finished unit that is still present is never started again;
// - a finished unit whose path has gone, or whose path now belongs to another device (another
//   handle: it was pulled and inserted again between two scans), frees its slot; the device now
//   there is a new unit;
// - a running unit whose path goes away stays in its slot (its worker fails on the missing
//   device, or finds it again after a restart); when its worker ends with a failure after
//   that, the slot is freed, so a unit inserted again is programmed as a new unit.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::station {

// One device of the device set as a scan sees it.
struct PresentUnit {
    std::string path;
    const void* handle = nullptr;
};

enum class LineSlotState { kFree, kRunning, kFinished };

class LineUnits {
public:
    explicit LineUnits(int slots);

    struct Start {
        int slot;
        int device; // index into the scan's devices
    };
    struct Changes {
        std::vector<Start> starts; // new units, in device order
        std::vector<int> freed;    // slots whose finished unit has left
    };

    // Compares the devices present now with the slots; at most maxNew new units start (0 while
    // stopping).
    Changes Scan(const std::vector<PresentUnit>& present, int maxNew);
    // The unit of a running slot has ended; true when it frees the slot at once (it left while
    // its worker ran and did not succeed).
    bool Ended(int slot, bool succeeded);
    // Frees every slot (a new shift).
    void Clear();

    LineSlotState State(int slot) const;
    const std::string& Path(int slot) const;
    int Running() const;
    int Slots() const { return static_cast<int>(slots_.size()); }

private:
    struct Slot {
        LineSlotState state = LineSlotState::kFree;
        std::string path;
        const void* handle = nullptr;
        bool departed = false; // its path went away while the worker ran
        std::string lastPath;  // the path of the slot's last unit
    };
    int FreeSlotFor(const std::string& path) const;

    std::vector<Slot> slots_;
};

} // namespace kestrel::station
