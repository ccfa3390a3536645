#include "cli/terminal_view.h"

#include <algorithm>
#include <cstdio>

namespace kestrel::cli {
namespace {

constexpr std::uint32_t kRedrawMs = 100;
constexpr int kBarWidth = 24;

std::string Bar(std::uint32_t position, std::uint32_t total) {
    const int filled =
        total == 0 ? 0
                   : static_cast<int>(std::min<std::uint64_t>(position, total) * kBarWidth / total);
    return "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "]";
}

// The phase under way (or last begun) of a device.
const Phase* CurrentPhase(const DeviceProgress& d, bool& isBoot) {
    const Phase* phase = nullptr;
    isBoot = false;
    if (d.resource.begun) {
        phase = &d.resource;
    } else if (d.boot.begun) {
        phase = &d.boot;
        isBoot = true;
    }
    return phase;
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

TerminalView::TerminalView(std::ostream& out, bool live, int columns)
    : out_(out), live_(live), columns_(std::max(columns, 40)) {
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
    ClearBars();
    pendingLog_ += text;
    const std::size_t end = pendingLog_.rfind('\n');
    if (end != std::string::npos) {
        out_ << pendingLog_.substr(0, end + 1);
        pendingLog_.erase(0, end + 1);
        out_.flush();
    }
    drawn_ = false; // draw the bars again at the next chance
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
    if (d.ended) {
        status = "Done";
        position = total;
    }
    bool isBoot = false;
    std::string timing;
    if (const Phase* phase = CurrentPhase(d, isBoot)) {
        const bool running = !phase->succeeded && !phase->failed;
        const std::uint32_t ms = running ? now - phase->beginTick : phase->elapsedMs;
        const double share = total == 0 ? 0.0 : static_cast<double>(position) / total;
        const double phaseBytes = static_cast<double>(isBoot ? bytes.boot : bytes.resource);
        char text[64];
        std::snprintf(text, sizeof text, "%5.1f s  %s", ms / 1000.0,
                      ms == 0 ? "-" : Throughput(phaseBytes * share * 1000.0 / ms).c_str());
        timing = text;
    }
    const unsigned percent = total == 0 ? 0u : static_cast<unsigned>(100ull * position / total);
    char line[256];
    std::snprintf(line, sizeof line, "Dev%-2d %s %3u%%  %-20s %s", device,
                  Bar(position, total).c_str(), std::min(percent, 100u), status.c_str(),
                  timing.c_str());
    std::string result = line;
    if (static_cast<int>(result.size()) > columns_ - 1) {
        result.resize(static_cast<std::size_t>(columns_ - 1));
    }
    return result;
}

void TerminalView::Render(const RunMonitor& monitor, int deviceCount, const PhaseBytes& bytes,
                          std::uint32_t now, bool force) {
    if (!live_ || deviceCount <= 0) {
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
    }
}

} // namespace kestrel::cli
