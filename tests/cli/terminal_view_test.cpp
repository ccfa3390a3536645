#include "cli/terminal_view.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace kestrel;
using namespace kestrel::cli;

namespace {

TEST(TerminalView, WithoutATerminalOnlyWholeLogLinesAreWritten) {
    std::ostringstream out;
    TerminalView view(out, false, 80);
    RunMonitor monitor;
    view.AppendLog("Device:0 ==> Begin ");
    EXPECT_EQ(out.str(), "");
    view.AppendLog("write FW.\nDevice:1 ==> Begin write FW.\n");
    view.Render(monitor, 2, {}, 1000, true);
    EXPECT_EQ(out.str(), "Device:0 ==> Begin write FW.\nDevice:1 ==> Begin write FW.\n");
}

TEST(TerminalView, LiveBarsAreRedrawnBelowTheLog) {
    std::ostringstream out;
    TerminalView view(out, true, 120);
    RunMonitor monitor;
    view.SetSlotText(0, "Writing FW...");
    view.SetSlotRange(0, 4);
    view.SetSlotPosition(0, 2);
    monitor.Observe({WM_ISP_EVENT, kEventBootBegin, 0, {}}, 0);
    view.Render(monitor, 1, PhaseBytes{4 * 1024 * 1024, 0}, 1000, true);
    EXPECT_EQ(out.str(), "Dev0  [############............]  50%  Writing FW...          1.0 s  "
                         "2.0 MiB/s\n");
    out.str("");
    view.Render(monitor, 1, {}, 1050); // too soon to draw again
    EXPECT_EQ(out.str(), "");
    view.AppendLog("Device:0 ==> Write FW is success. (1 s)\n");
    EXPECT_EQ(out.str(), "\x1b[1F\x1b[JDevice:0 ==> Write FW is success. (1 s)\n");
}

TEST(TerminalView, ThroughputUnits) {
    EXPECT_EQ(Throughput(512.0 * 1024), "512 KiB/s");
    EXPECT_EQ(Throughput(3.5 * 1024 * 1024), "3.5 MiB/s");
}

} // namespace
