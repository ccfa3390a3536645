#include "app/station/run_monitor.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace kestrel::station {
namespace {

void Begin(Phase& phase, std::uint32_t now) {
    phase = Phase{};
    phase.begun = true;
    phase.beginTick = now;
}

void End(Phase& phase, bool succeeded, std::uint32_t now) {
    (succeeded ? phase.succeeded : phase.failed) = true;
    phase.elapsedMs = phase.begun ? now - phase.beginTick : 0;
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

} // namespace

void RunMonitor::Observe(const platform::WindowMessage& message, std::uint32_t now) {
    std::lock_guard guard(lock_);
    if (message.message == WM_ISP_EVENT) {
        DeviceProgress& d = devices_[static_cast<int>(message.lParam)];
        // Phases follow each other without a gap: the boot code from the worker's start, the
        // resources from the end of the boot code (or the worker's start), so the retries and
        // waits before a begin event count in the phase they hold up.
        switch (message.wParam) {
        case kEventBootBegin:
            Begin(d.boot, d.started ? d.startTick : now);
            break;
        case kEventBootSucceeded:
            End(d.boot, true, now);
            break;
        case kEventBootFailed:
            End(d.boot, false, now);
            break;
        case kEventResourceBegin:
            Begin(d.resource, d.boot.succeeded ? d.boot.beginTick + d.boot.elapsedMs
                              : d.started      ? d.startTick
                                               : now);
            break;
        case kEventResourceSucceeded:
            End(d.resource, true, now);
            break;
        case kEventResourceFailed:
            End(d.resource, false, now);
            break;
        case kEventRebuildBegin:
            Begin(d.rebuild, now);
            break;
        case kEventRebuildSucceeded:
            End(d.rebuild, true, now);
            break;
        case kEventRebuildFailed:
            End(d.rebuild, false, now);
            break;
        case kEventDemoBegin:
            Begin(d.demo, now);
            break;
        case kEventDemoSucceeded:
            End(d.demo, true, now);
            break;
        case kEventDemoFailed:
            End(d.demo, false, now);
            break;
        default:
            break;
        }
        return;
    }
    if (message.message != WM_ISP_STATUS) {
        return;
    }
    ProgressRecord record{};
    const bool hasRecord = message.payload.size() >= sizeof record;
    if (hasRecord) {
        std::memcpy(&record, message.payload.data(), sizeof record);
    }
    switch (message.wParam) {
    case kStatusProgressRange:
        if (hasRecord) {
            devices_[record.devIndex].total += record.steps;
        }
        break;
    case kStatusProgressStep:
        devices_[static_cast<int>(message.lParam)].position += 1;
        break;
    case kStatusProgressAdvance: // only the demo copy advances by more than one step
        if (hasRecord) {
            devices_[record.devIndex].demoFiles += record.steps;
        }
        break;
    case kStatusWorkerStarted: {
        DeviceProgress& d = devices_[static_cast<int>(message.lParam)];
        d.started = true;
        d.startTick = now;
        break;
    }
    case kStatusWorkerEnded:
        devices_[static_cast<int>(message.lParam)].ended = true;
        break;
    default:
        break;
    }
}

void RunMonitor::AddMessageBox(const std::string& text, std::optional<int> raisedBy) {
    std::lock_guard guard(lock_);
    if (auto device = DeviceOfMessage(text)) {
        devices_[*device].messages.push_back(Trimmed(text));
    } else if (raisedBy) {
        devices_[*raisedBy].messages.push_back(Trimmed(text));
    } else {
        runMessages_.push_back(Trimmed(text));
    }
}

void RunMonitor::StopRequested(int deviceCount) {
    std::lock_guard guard(lock_);
    stopRequested_ = true;
    for (int i = 0; i < deviceCount; ++i) {
        DeviceProgress& d = devices_[i];
        if (!d.ended) {
            d.stopped = true;
        }
    }
}

bool RunMonitor::Stopped(int index, int mode) const {
    return Device(index).stopped && !Succeeded(index, mode);
}

void RunMonitor::Reset() {
    std::lock_guard guard(lock_);
    devices_.clear();
    runMessages_.clear();
    stopRequested_ = false;
}

void RunMonitor::ForgetDevice(int index) {
    std::lock_guard guard(lock_);
    devices_.erase(index);
}

void RunMonitor::ForgetRunMessages() {
    std::lock_guard guard(lock_);
    runMessages_.clear();
}

DeviceProgress RunMonitor::Device(int index) const {
    std::lock_guard guard(lock_);
    auto it = devices_.find(index);
    return it == devices_.end() ? DeviceProgress{} : it->second;
}

std::vector<std::string> RunMonitor::RunMessages() const {
    std::lock_guard guard(lock_);
    return runMessages_;
}

bool RunMonitor::Succeeded(int index, int mode) const {
    const DeviceProgress d = Device(index);
    // A box without a device's prefix was raised during the procedures of every device.
    if (!d.messages.empty() || !RunMessages().empty() || d.boot.failed || d.resource.failed ||
        d.rebuild.failed) {
        return false;
    }
    switch (mode) {
    case 1:
        return d.boot.succeeded;
    case 2:
        return d.resource.succeeded;
    case 3:
        return d.boot.succeeded && d.resource.succeeded;
    default:
        return false;
    }
}

std::string RunMonitor::Explanation(int index, int mode) const {
    const DeviceProgress d = Device(index);
    // A text repeated (the same failure met again and again) is given once, with its count.
    auto join = [](const std::vector<std::string>& texts) {
        std::vector<std::pair<std::string, int>> distinct;
        for (const auto& t : texts) {
            auto it = std::find_if(distinct.begin(), distinct.end(),
                                   [&t](const auto& d) { return d.first == t; });
            if (it == distinct.end()) {
                distinct.emplace_back(t, 1);
            } else {
                ++it->second;
            }
        }
        std::string all;
        for (const auto& [text, count] : distinct) {
            all += (all.empty() ? "" : " | ") + text;
            if (count > 1) {
                all += " (" + std::to_string(count) + " times)";
            }
        }
        return all;
    };
    const std::vector<std::string> run = RunMessages();
    if (!d.messages.empty()) {
        return join(d.messages) + (run.empty() ? "" : " | " + join(run));
    }
    if (Succeeded(index, mode)) {
        return "";
    }
    if (d.stopped) {
        return "stopped before it was done";
    }
    if (!run.empty()) {
        return join(run);
    }
    if (d.boot.failed) {
        return "boot code write failed";
    }
    if (d.rebuild.failed) {
        return "NAND file-system rebuild failed";
    }
    if (d.resource.failed) {
        return "resource write failed";
    }
    if (mode < 1 || mode > 3) {
        return "run mode " + std::to_string(mode) + " writes nothing";
    }
    if (!d.started) {
        return "no worker ran for this device";
    }
    return "the procedure ended without reporting success";
}

} // namespace kestrel::station
