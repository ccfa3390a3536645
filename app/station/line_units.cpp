#include "app/station/line_units.h"

#include <algorithm>

namespace kestrel::station {

LineUnits::LineUnits(int slots) : slots_(static_cast<std::size_t>(std::max(slots, 0))) {}

LineUnits::Changes LineUnits::Scan(const std::vector<PresentUnit>& present, int maxNew) {
    Changes changes;
    auto find = [&present](const std::string& path) -> const PresentUnit* {
        for (const PresentUnit& unit : present) {
            if (unit.path == path) {
                return &unit;
            }
        }
        return nullptr;
    };
    for (std::size_t k = 0; k < slots_.size(); ++k) {
        Slot& slot = slots_[k];
        const PresentUnit* now = slot.state == LineSlotState::kFree ? nullptr : find(slot.path);
        if (slot.state == LineSlotState::kRunning) {
            // Gone, or back under another handle (restarted, or pulled and inserted again):
            // the unit's worker decides which by succeeding or not.
            if (now == nullptr || now->handle != slot.handle) {
                slot.departed = true;
            }
            if (now != nullptr) {
                slot.handle = now->handle;
            }
        } else if (slot.state == LineSlotState::kFinished &&
                   (now == nullptr || now->handle != slot.handle)) {
            slot.state = LineSlotState::kFree;
            changes.freed.push_back(static_cast<int>(k));
        }
    }
    for (std::size_t i = 0; i < present.size(); ++i) {
        const PresentUnit& unit = present[i];
        const bool held = std::any_of(slots_.begin(), slots_.end(), [&unit](const Slot& s) {
            return s.state != LineSlotState::kFree && s.path == unit.path;
        });
        if (held || unit.path.empty()) {
            continue;
        }
        if (static_cast<int>(changes.starts.size()) >= maxNew) {
            break;
        }
        const int k = FreeSlotFor(unit.path);
        if (k < 0) {
            break; // every slot is taken; the device waits for one
        }
        Slot& slot = slots_[static_cast<std::size_t>(k)];
        slot.state = LineSlotState::kRunning;
        slot.path = unit.path;
        slot.lastPath = unit.path;
        slot.handle = unit.handle;
        slot.departed = false;
        changes.starts.push_back({k, static_cast<int>(i)});
    }
    return changes;
}

bool LineUnits::Ended(int slot, bool succeeded) {
    if (slot < 0 || slot >= Slots()) {
        return false;
    }
    Slot& s = slots_[static_cast<std::size_t>(slot)];
    if (s.state != LineSlotState::kRunning) {
        return false;
    }
    if (s.departed && !succeeded) {
        s.state = LineSlotState::kFree;
        return true;
    }
    s.state = LineSlotState::kFinished;
    return false;
}

void LineUnits::Clear() {
    for (Slot& slot : slots_) {
        slot = Slot{};
    }
}

int LineUnits::FreeSlotFor(const std::string& path) const {
    int lowest = -1;
    for (std::size_t k = 0; k < slots_.size(); ++k) {
        if (slots_[k].state != LineSlotState::kFree) {
            continue;
        }
        if (slots_[k].lastPath == path) {
            return static_cast<int>(k);
        }
        if (lowest < 0) {
            lowest = static_cast<int>(k);
        }
    }
    return lowest;
}

LineSlotState LineUnits::State(int slot) const {
    return slot >= 0 && slot < Slots() ? slots_[static_cast<std::size_t>(slot)].state
                                       : LineSlotState::kFree;
}

const std::string& LineUnits::Path(int slot) const {
    static const std::string none;
    return slot >= 0 && slot < Slots() ? slots_[static_cast<std::size_t>(slot)].path : none;
}

int LineUnits::Running() const {
    return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) {
        return s.state == LineSlotState::kRunning;
    }));
}

} // namespace kestrel::station
