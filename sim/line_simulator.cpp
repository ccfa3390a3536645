#include "sim/line_simulator.h"

#include "platform/clock/clock.h"
#include "platform/devices/usbstor_path.h"
#include "sim/farm.h"

#include <algorithm>

namespace kestrel::sim {

std::string LinePort(int slot) {
    return "3-1." + std::to_string(slot + 1);
}

LineSimulator::LineSimulator(std::vector<LineUnit> units, int slots)
    : units_(std::move(units)), ports_(static_cast<std::size_t>(std::max(slots, 0))),
      unitOn_(ports_.size(), -1) {
    operator_ = std::thread([this] { Operator(); });
}

LineSimulator::~LineSimulator() {
    {
        std::lock_guard guard(lock_);
        quit_ = true;
    }
    changed_.notify_all();
    operator_.join();
}

void LineSimulator::PlugNextLocked(int slot) {
    const auto k = static_cast<std::size_t>(slot);
    if (next_ >= units_.size()) {
        return;
    }
    DeviceConfig config = units_[next_].config;
    config.port = LinePort(slot);
    config.usbSerial.clear();
    config.instance.clear();
    unitOn_[k] = static_cast<int>(next_++);
    ports_[k] = TheFarm().Add(std::move(config));
}

void LineSimulator::Begin() {
    std::lock_guard guard(lock_);
    for (int k = 0; k < Slots(); ++k) {
        if (!ports_[static_cast<std::size_t>(k)]) {
            PlugNextLocked(k);
        }
    }
}

int LineSimulator::SlotOfLocked(const std::string& instance) const {
    const std::string wanted = "#" + platform::devices::ToUpperAscii(instance) + "#";
    for (std::size_t k = 0; k < ports_.size(); ++k) {
        if (ports_[k] && platform::devices::ToUpperAscii(ports_[k]->InterfacePath()).find(wanted) !=
                             std::string::npos) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

bool LineSimulator::UnitFinished(const std::string& instance) {
    std::lock_guard guard(lock_);
    const int slot = SlotOfLocked(instance);
    if (slot < 0) {
        return false;
    }
    if (std::find(pending_.begin(), pending_.end(), slot) == pending_.end()) {
        pending_.push_back(slot);
    }
    changed_.notify_all();
    return true;
}

int LineSimulator::UnitWith(const std::string& instance) const {
    std::lock_guard guard(lock_);
    const int slot = SlotOfLocked(instance);
    return slot < 0 ? -1 : unitOn_[static_cast<std::size_t>(slot)];
}

void LineSimulator::SwapAll() {
    std::lock_guard guard(lock_);
    for (std::size_t k = 0; k < ports_.size(); ++k) {
        if (ports_[k] &&
            std::find(pending_.begin(), pending_.end(), static_cast<int>(k)) == pending_.end()) {
            pending_.push_back(static_cast<int>(k));
        }
    }
    changed_.notify_all();
}

void LineSimulator::Operator() {
    std::unique_lock guard(lock_);
    while (true) {
        changed_.wait(guard, [this] { return quit_ || !pending_.empty(); });
        if (quit_) {
            return;
        }
        const int slot = pending_.front();
        pending_.pop_front();
        const auto k = static_cast<std::size_t>(slot);
        std::shared_ptr<Device> out = ports_[k];
        if (!out) {
            continue;
        }
        busy_ = true;
        const std::uint32_t swapMs = units_[static_cast<std::size_t>(unitOn_[k])].swapMs;
        guard.unlock();
        // Half the swap to take the unit out, half to put the next one in.
        platform::Sleep(swapMs / 2);
        TheFarm().Remove(out);
        platform::Sleep(swapMs - swapMs / 2);
        guard.lock();
        ports_[k].reset();
        unitOn_[k] = -1;
        ++pulled_;
        PlugNextLocked(slot);
        busy_ = false;
        changed_.notify_all();
    }
}

void LineSimulator::WaitIdle() {
    std::unique_lock guard(lock_);
    changed_.wait(guard, [this] { return pending_.empty() && !busy_; });
}

bool LineSimulator::Idle() const {
    std::lock_guard guard(lock_);
    return pending_.empty() && !busy_;
}

int LineSimulator::Plugged() const {
    std::lock_guard guard(lock_);
    return static_cast<int>(next_);
}

int LineSimulator::Pulled() const {
    std::lock_guard guard(lock_);
    return pulled_;
}

bool LineSimulator::ShiftOver() const {
    std::lock_guard guard(lock_);
    return next_ >= units_.size() && pulled_ == static_cast<int>(next_);
}

int LineSimulator::UnitOn(int slot) const {
    std::lock_guard guard(lock_);
    return slot >= 0 && slot < static_cast<int>(unitOn_.size())
               ? unitOn_[static_cast<std::size_t>(slot)]
               : -1;
}

} // namespace kestrel::sim
