#pragma once
// The command line's view of an ISP run: the log lines as they come, and on an interactive
// terminal a block of live progress bars (one per device: bar, status text, elapsed time of the
// current step and throughput) redrawn in place below them. Without a terminal only the log
// lines are written, so the output stays readable in files and pipes.
//
// Devices 0-7 show their slot (bar, status text); devices beyond the slots show their progress
// as the run monitor counts it.

#include "app/station/run_state.h"
#include "app/station/station_view.h"
#include "cli/run_monitor.h"

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

namespace kestrel::cli {

// Bytes each phase writes, to turn progress steps into throughput.
struct PhaseBytes {
    std::uint64_t boot = 0;
    std::uint64_t resource = 0;
};

class TerminalView : public station::StationView {
public:
    TerminalView(std::ostream& out, bool live, int columns);

    void SetSlotText(int slot, std::string_view text) override;
    void SetSlotPicture(int slot, station::SlotPicture picture) override;
    void SetSlotRange(int slot, std::uint32_t total) override;
    void SetSlotPosition(int slot, std::uint32_t position) override;
    void AppendLog(std::string_view text) override;
    void SetIspEnabled(bool enabled) override;
    void SetTitle(std::string_view title) override;

    // Redraws the bars of devices 0 ... deviceCount - 1 when live and at least 100 ms have
    // passed since the last drawing (or force is set).
    void Render(const RunMonitor& monitor, int deviceCount, const PhaseBytes& bytes,
                std::uint32_t now, bool force = false);
    // Removes the bars (before the summary is printed).
    void ClearBars();

    const std::string& Title() const { return title_; }
    const std::string& SlotText(int slot) const { return text_.at(static_cast<std::size_t>(slot)); }

private:
    std::string BarLine(int device, const RunMonitor& monitor, const PhaseBytes& bytes,
                        std::uint32_t now) const;

    std::ostream& out_;
    bool live_;
    int columns_;
    std::array<std::string, station::kSlotCount> text_;
    std::array<std::uint32_t, station::kSlotCount> range_{};
    std::array<std::uint32_t, station::kSlotCount> position_{};
    std::string title_;
    std::string pendingLog_; // log text not yet ended by a line break
    int barLines_ = 0;       // lines of bars on screen below the log
    std::uint32_t lastDraw_ = 0;
    bool drawn_ = false;
};

// "12.3 MiB/s" style text for bytes per second.
std::string Throughput(double bytesPerSecond);

} // namespace kestrel::cli
