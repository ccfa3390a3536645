#include "cli/terminal_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

using namespace kestrel;
using namespace kestrel::cli;
using kestrel::station::RunMonitor;

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

platform::WindowMessage Event(std::uint32_t event, int device) {
    return {WM_ISP_EVENT, event, device, {}};
}

platform::WindowMessage Status(std::uint32_t code, std::intptr_t lParam) {
    return {WM_ISP_STATUS, code, lParam, {}};
}

// An error line takes the block away before it is written, on its own stream.
TEST(TerminalView, ErrorLinesAreWrittenAboveTheBars) {
    std::ostringstream out;
    std::ostringstream err;
    TerminalView view(out, true, 120);
    view.SetErrorStream(err);
    RunMonitor monitor;
    view.Render(monitor, 2, {}, 1000, true);
    out.str("");
    view.AppendError("Device1-->[ReadVendorSector]: error id: 31");
    EXPECT_EQ(out.str(), "\x1b[2F\x1b[J");
    EXPECT_EQ(err.str(), "Device1-->[ReadVendorSector]: error id: 31\n");
    out.str("");
    view.AppendError("Can't found isp.ini\n"); // no block on screen: nothing to take away
    EXPECT_EQ(out.str(), "");
    view.Render(monitor, 2, {}, 1010); // drawn again at once, below
    const std::string drawn = out.str();
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\n'), 2);
}

struct EndCase {
    const char* name;
    std::vector<std::uint32_t> events;
    std::vector<std::string> boxes;
    bool stop;
    const char* status;  // in the bar line
    const char* message; // also in the bar line ("" for none)
    bool full;           // the bar is full
    friend void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }
};

class EndedDevice : public ::testing::TestWithParam<EndCase> {};

TEST_P(EndedDevice, BarSaysHowTheDeviceEnded) {
    const EndCase& c = GetParam();
    std::ostringstream out;
    TerminalView view(out, true, 200);
    view.SetRunMode(1);
    RunMonitor monitor;
    monitor.Observe(Status(kStatusWorkerStarted, 0), 0);
    if (c.stop) {
        monitor.StopRequested(1);
    }
    for (std::uint32_t e : c.events) {
        monitor.Observe(Event(e, 0), 10);
    }
    for (const std::string& box : c.boxes) {
        monitor.AddMessageBox(box);
    }
    monitor.Observe(Status(kStatusWorkerEnded, 0), 20);
    view.SetSlotText(0, "Connected");
    view.SetSlotRange(0, 10);
    view.SetSlotPosition(0, 3);
    view.Render(monitor, 1, {}, 1000, true);
    const std::string line = out.str();
    EXPECT_NE(line.find(c.status), std::string::npos) << line;
    EXPECT_NE(line.find(c.message), std::string::npos) << line;
    EXPECT_EQ(line.find("100%") != std::string::npos, c.full) << line;
    EXPECT_EQ(line.find("Done") != std::string::npos, std::string(c.status) == "Done") << line;
}

INSTANTIATE_TEST_SUITE_P(
    Ends, EndedDevice,
    ::testing::Values(
        EndCase{"succeeded", {768, 769}, {}, false, "Done", "", true},
        EndCase{"failed with its box",
                {768, 770},
                {"Device:0 ==> CMD_NAND_WRITEPAGE is error!\n"},
                false,
                "FAILED",
                "CMD_NAND_WRITEPAGE is error!",
                false},
        EndCase{"failed without a box",
                {768, 770},
                {},
                false,
                "FAILED",
                "boot code write failed",
                false},
        EndCase{"stopped", {768}, {}, true, "STOPPED", "", false},
        EndCase{"done before the stop took hold", {768, 769}, {}, true, "Done", "", true}));

// A step without byte progress says what it does, and its mark turns as time passes.
TEST(TerminalView, AStepWithoutProgressShowsThatItIsAlive) {
    RunMonitor monitor;
    monitor.Observe(Event(kEventResourceBegin, 0), 0);
    monitor.Observe(Event(kEventRebuildBegin, 0), 0);
    std::vector<std::string> lines;
    for (std::uint32_t now : {1000u, 1250u}) {
        std::ostringstream out;
        TerminalView view(out, true, 200);
        view.SetSlotText(0, "Writing Nand fs...");
        view.Render(monitor, 1, PhaseBytes{0, 1 << 20}, now, true);
        lines.push_back(out.str());
    }
    EXPECT_NE(lines[0].find("rebuilding"), std::string::npos) << lines[0];
    EXPECT_EQ(lines[0].find("KiB/s"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("1.0 s"), std::string::npos) << lines[0];
    const std::size_t at0 = lines[0].find(" rebuilding");
    const std::size_t at1 = lines[1].find(" rebuilding");
    ASSERT_TRUE(at0 != std::string::npos && at0 > 0 && at1 != std::string::npos && at1 > 0);
    EXPECT_NE(lines[0][at0 - 1], lines[1][at1 - 1]) << lines[0] << lines[1];
}

class ShortTerminal : public ::testing::TestWithParam<std::pair<int, int>> {};

// A block taller than the screen could not be taken away again: plain lines only.
TEST_P(ShortTerminal, GetsPlainLines) {
    const auto [rows, devices] = GetParam();
    std::ostringstream out;
    TerminalView view(out, true, 120, rows);
    RunMonitor monitor;
    view.AppendLog("Device:0 ==> Begin write FW.\n");
    view.Render(monitor, devices, {}, 1000, true);
    view.AppendLog("Device:0 ==> Write FW is success. (1 s)\n");
    EXPECT_EQ(out.str(), "Device:0 ==> Begin write FW.\nDevice:0 ==> Write FW is success. (1 s)\n");
    EXPECT_FALSE(view.DrawsBars(devices));
}

INSTANTIATE_TEST_SUITE_P(Sizes, ShortTerminal,
                         ::testing::Values(std::pair{8, 1}, std::pair{5, 2}, std::pair{9, 8},
                                           std::pair{24, 23}));

TEST(TerminalView, ATallEnoughTerminalGetsTheBars) {
    std::ostringstream out;
    TerminalView view(out, true, 120, 10);
    EXPECT_TRUE(view.DrawsBars(8));
    EXPECT_FALSE(view.DrawsBars(9));
}

} // namespace
