#pragma once
// The command line's view of an ISP run: the log lines as they come, and on an interactive
// terminal a block of live progress bars (one per device: bar, status text, elapsed time of the
// current step and throughput) redrawn in place below them. Without a terminal only the log
// lines are written, so the output stays readable in files and pipes; a terminal too short for
// the block (fewer than kMinLiveRows rows, or fewer than the devices' bars and two more) gets
// the plain lines too, since a block taller than the screen cannot be redrawn in place.
//
// Every line of text (log lines on the standard output, error lines such as message boxes on
// the standard error stream) is written above the block: the block is taken away first and
// drawn again below at the next redraw, so no redraw ever overwrites a line.
//
// A device whose worker has ended shows "Done" when it succeeded, "STOPPED" when the run was
// stopped before it was done, and otherwise "FAILED" with the message that explains it. A step
// that moves no bar (the NAND file-system rebuild, waiting for a device) shows what it is doing
// and a turning mark, so that it is seen to be alive.
//
// Devices 0-7 show their slot (bar, status text); devices beyond the slots show their progress
// as the run monitor counts it. Every call comes from the run's loop thread.

#include "app/station/run_monitor.h"
#include "app/station/run_state.h"
#include "app/station/station_view.h"

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

namespace kestrel::cli {

inline constexpr int kMinLiveRows = 9;
using station::RunMonitor;

// Bytes each phase writes, to turn progress steps into throughput.
struct PhaseBytes {
    std::uint64_t boot = 0;
    std::uint64_t resource = 0;
};

class TerminalView : public station::StationView {
public:
    // columns, rows: the terminal's size. Error lines go to `out` until SetErrorStream.
    TerminalView(std::ostream& out, bool live, int columns, int rows = 24);

    void SetErrorStream(std::ostream& err) { err_ = &err; }
    // The run mode (1-3), which decides what a device must have done to succeed.
    void SetRunMode(int mode) { mode_ = mode; }
    // Files the demo copy writes onto each drive (0: no demo copy).
    void SetDemoFiles(std::uint32_t files) { demoFiles_ = files; }

    void SetSlotText(int slot, std::string_view text) override;
    void SetSlotPicture(int slot, station::SlotPicture picture) override;
    void SetSlotRange(int slot, std::uint32_t total) override;
    void SetSlotPosition(int slot, std::uint32_t position) override;
    void AppendLog(std::string_view text) override;
    void SetIspEnabled(bool enabled) override;
    void SetTitle(std::string_view title) override;

    // A line for the error stream, written above the bars (a line break is added when missing).
    void AppendError(std::string_view text);

    // Redraws the bars of devices 0 ... deviceCount - 1 when live and at least 100 ms have
    // passed since the last drawing (or force is set).
    void Render(const RunMonitor& monitor, int deviceCount, const PhaseBytes& bytes,
                std::uint32_t now, bool force = false);
    // Removes the bars (before the summary is printed).
    void ClearBars();
    // Whether the bars are drawn for this many devices.
    bool DrawsBars(int deviceCount) const;

    const std::string& Title() const { return title_; }
    const std::string& SlotText(int slot) const { return text_.at(static_cast<std::size_t>(slot)); }

private:
    std::string BarLine(int device, const RunMonitor& monitor, const PhaseBytes& bytes,
                        std::uint32_t now) const;

    std::ostream& out_;
    std::ostream* err_;
    bool live_;
    int columns_;
    int rows_;
    int mode_ = 3;
    std::uint32_t demoFiles_ = 0;
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
