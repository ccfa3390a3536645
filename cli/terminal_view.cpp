#include "cli/terminal_view.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::cli {

using station::DeviceProgress;
using station::Phase;
namespace {

constexpr std::uint32_t kRedrawMs = 100;
constexpr int kBarWidth = 24;
constexpr std::uint32_t kTurnMs = 250;
constexpr const char kTurningMarks[] = "|/-\\";

std::string Bar(std::uint32_t position, std::uint32_t total) {
    const int filled =
        total == 0 ? 0
                   : static_cast<int>(std::min<std::uint64_t>(position, total) * kBarWidth / total);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "]";
}

bool Running(const Phase& p) {
    return p.begun && !p.succeeded && !p.failed;
}

enum class PhaseName { kNone, kBoot, kResource, kRebuild, kDemo };

// The phase under way (or last begun) of a device.
const Phase* CurrentPhase(const DeviceProgress& d, PhaseName& name) {
    if (d.demo.begun) {
        name = PhaseName::kDemo;
        return &d.demo;
    }
    if (Running(d.rebuild)) { // inside the resource step, before its pages
        name = PhaseName::kRebuild;
        return &d.rebuild;
    }
    if (d.resource.begun) {
        name = PhaseName::kResource;
        return &d.resource;
    }
    if (d.boot.begun) {
        name = PhaseName::kBoot;
        return &d.boot;
    }
    name = PhaseName::kNone;
    return nullptr;
}

} // namespace

std::string Throughput(double bytesPerSecond) {
    char text[32];
    if (bytesPerSecond >= 1024.0 * 1024.0) {
        std::snprintf(text, sizeof text, "%.1f MiB/s", bytesPerSecond / (1024.0 * 1024.0));
    } else {
        std::snprintf(text, sizeof text, "%.0f KiB/s", bytesPerSecond / 1024.0);
    }
    return text;
}

TerminalView::TerminalView(std::ostream& out, bool live, int columns, int rows)
    : out_(out), err_(&out), live_(live), columns_(std::max(columns, 40)), rows_(rows) {
    text_.fill("Not Connected");
}

void TerminalView::SetSlotText(int slot, std::string_view text) {
    text_.at(static_cast<std::size_t>(slot)) = text;
}

void TerminalView::SetSlotPicture(int, station::SlotPicture) {}

void TerminalView::SetSlotRange(int slot, std::uint32_t total) {
    range_.at(static_cast<std::size_t>(slot)) = total;
}

void TerminalView::SetSlotPosition(int slot, std::uint32_t position) {
    position_.at(static_cast<std::size_t>(slot)) = position;
}

void TerminalView::AppendLog(std::string_view text) {
    if (text.empty()) {
        return;
    }
    pendingLog_ += text;
    const std::size_t end = pendingLog_.rfind('\n');
    if (end != std::string::npos) {
        ClearBars();
        out_ << pendingLog_.substr(0, end + 1);
        pendingLog_.erase(0, end + 1);
        out_.flush();
    }
}

void TerminalView::AppendError(std::string_view text) {
    ClearBars();
    out_.flush(); // the block is gone from the screen before the other stream writes
    *err_ << text;
    if (text.empty() || text.back() != '\n') {
        *err_ << '\n';
    }
    err_->flush();
}

void TerminalView::SetIspEnabled(bool) {}

void TerminalView::SetTitle(std::string_view title) {
    title_ = title;
}

std::string TerminalView::BarLine(int device, const RunMonitor& monitor, const PhaseBytes& bytes,
                                  std::uint32_t now) const {
    const DeviceProgress d = monitor.Device(device);
    std::uint32_t position = d.position;
    std::uint32_t total = d.total;
    std::string status;
    if (station::HasSlot(device)) {
        const auto k = static_cast<std::size_t>(device);
        status = text_[k];
        if (range_[k] != 0) {
            position = position_[k];
            total = range_[k];
        }
    } else {
        status = d.resource.begun ? "Writing ROM..." : d.boot.begun ? "Writing FW..." : "Waiting";
    }

    PhaseName name = PhaseName::kNone;
    const Phase* phase = CurrentPhase(d, name);
    std::string tail; // timing and activity, or the reason of a failure
    if (name == PhaseName::kDemo) {
        position = d.demoFiles;
        total = demoFiles_;
    }
    if (d.ended && !Running(d.demo)) {
        if (d.demo.failed) {
            status = "FAILED";
            tail = "the demo copy failed";
        } else if (monitor.Succeeded(device, mode_)) {
            status = "Done";
            position = total;
        } else if (monitor.Stopped(device, mode_)) {
            status = "STOPPED";
        } else {
            status = "FAILED";
            tail = monitor.Explanation(device, mode_);
        }
    }
    if (tail.empty() && phase != nullptr) {
        const bool running = Running(*phase);
        const std::uint32_t ms = running ? now - phase->beginTick : phase->elapsedMs;
        char text[96];
        const bool moves = name == PhaseName::kBoot || name == PhaseName::kResource;
        if (moves && position > 0 && ms > 0) {
            const double share = total == 0 ? 0.0 : static_cast<double>(position) / total;
            const double phaseBytes =
                static_cast<double>(name == PhaseName::kBoot ? bytes.boot : bytes.resource);
            std::snprintf(text, sizeof text, "%5.1f s  %s", ms / 1000.0,
                          Throughput(phaseBytes * share * 1000.0 / ms).c_str());
        } else if (running) {
            // Nothing to count yet: what the device is doing, and a mark that turns while the
            // program is alive.
            const char* doing = name == PhaseName::kRebuild ? "rebuilding the NAND file system"
                                : name == PhaseName::kDemo  ? "copying demo files"
                                                            : "working";
            std::snprintf(text, sizeof text, "%5.1f s  %c %s", ms / 1000.0,
                          kTurningMarks[(now / kTurnMs) % 4], doing);
        } else {
            std::snprintf(text, sizeof text, "%5.1f s", ms / 1000.0);
        }
        tail = text;
    }
    const unsigned percent = total == 0 ? 0u : static_cast<unsigned>(100ull * position / total);
    char line[256];
    std::snprintf(line, sizeof line, "Dev%-2d %s %3u%%  %-20s %s", device,
                  Bar(position, total).c_str(), std::min(percent, 100u), status.c_str(),
                  tail.c_str());
    std::string result = line;
    // One screen line per bar, or the block could not be taken away again.
    if (static_cast<int>(result.size()) > columns_ - 1) {
        result.resize(static_cast<std::size_t>(columns_ - 1));
    }
    return result;
}

bool TerminalView::DrawsBars(int deviceCount) const {
    return live_ && deviceCount > 0 && rows_ >= kMinLiveRows && deviceCount + 2 <= rows_;
}

void TerminalView::Render(const RunMonitor& monitor, int deviceCount, const PhaseBytes& bytes,
                          std::uint32_t now, bool force) {
    if (!DrawsBars(deviceCount)) {
        return;
    }
    if (drawn_ && !force && now - lastDraw_ < kRedrawMs) {
        return;
    }
    ClearBars();
    for (int device = 0; device < deviceCount; ++device) {
        out_ << BarLine(device, monitor, bytes, now) << '\n';
    }
    out_.flush();
    barLines_ = deviceCount;
    lastDraw_ = now;
    drawn_ = true;
}

void TerminalView::ClearBars() {
    if (barLines_ > 0) {
        // Up to the first bar line, then clear to the end of the screen.
        out_ << "\x1b[" << barLines_ << "F\x1b[J";
        barLines_ = 0;
        drawn_ = false; // draw the bars again at the next chance
    }
}

} // namespace kestrel::cli
