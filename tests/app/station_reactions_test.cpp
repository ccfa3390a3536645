// The page's reactions to every status code and event, driven message by message.

#include "station_fakes.h"
#include "support/temp_home.h"

#include "kestrellib/program/config_files.h"

#include <gtest/gtest.h>

using namespace kestrel;
using namespace kestrel::station;
using kestrel::test::FakeLibrary;
using kestrel::test::LibraryLog;
using kestrel::test::RecordingView;

namespace {

class Reactions : public ::testing::Test {
protected:
    Reactions() : page(view, FakeLibrary(log, 3), window, &dialog) {
        page.SetTickSource([this] { return now; });
    }

    std::vector<platform::WindowMessage> Drain(platform::QueueSink& sink) {
        std::vector<platform::WindowMessage> out;
        while (auto m = sink.TryTake()) {
            out.push_back(std::move(*m));
        }
        return out;
    }

    void Range(std::uint16_t device, std::uint32_t steps) {
        ProgressRecord r{device, steps};
        page.HandleStatus(kStatusProgressRange, 0, &r);
    }

    test::TempHome home;
    LibraryLog log;
    RecordingView view;
    platform::QueueSink window;
    platform::QueueSink dialog;
    std::uint32_t now = 1000;
    IspPage page;
};

struct EventCase {
    std::uint32_t event;
    const char* line;
    const char* slotText;
    friend void PrintTo(const EventCase& c, std::ostream* os) { *os << "event " << c.event; }
};

class EventLines : public Reactions, public ::testing::WithParamInterface<EventCase> {};

TEST_P(EventLines, LogLineAndSlotTextForDeviceFive) {
    const EventCase& c = GetParam();
    now = 0; // a success without its begin measures from tick 0
    view.text[5] = "before";
    page.HandleEvent(c.event, 5);
    EXPECT_EQ(view.log, c.line);
    EXPECT_EQ(view.text[5], c.slotText);
}

INSTANTIATE_TEST_SUITE_P(
    EveryEvent, EventLines,
    ::testing::Values(
        EventCase{768, "Device:5 ==> Begin write FW.\n", "Writing FW..."},
        EventCase{769, "Device:5 ==> Write FW is success. (0 s)\n", "Connected"},
        EventCase{770, "Device:5 ==>Write FW is fail.\n", "Connected"},
        EventCase{771, "Device:5 ==> End of write FW.\n", "Connected"},
        EventCase{784, "Device:5 ==> Begin write resource.\n", "Writing ROM..."},
        EventCase{785, "Device:5 ==> Write resource is success. (0 s)\n", "Connected"},
        EventCase{786, "Device:5 ==> Write resource is fail.\n", "Connected"},
        EventCase{787, "Device:5 ==> End of write resource.\n", "Connected"},
        EventCase{800, "Device:5 ==> Begin Rebuild Nand fs.\n", "Writing Nand fs..."},
        EventCase{801, "Device:5 ==> Rebuild Nand fs is success.\n", "Connected"},
        EventCase{802, "Device:5 ==> Rebuild Nand fs is fail.\n", "Connected"},
        EventCase{803, "Device:5 ==> End of Rebuild Nand fs.\n", "Connected"},
        EventCase{816, "Device:5 ==> Begin copy demo file.\n", "Writing demo file..."},
        EventCase{817, "Device:5 ==> copy demo is success. (0 s)\n", "Connected"},
        EventCase{818, "Device:5 ==> copy demo file is fail.\n", "Connected"},
        EventCase{819, "Device:5 ==> End of copy demo file.\n", "Connected"},
        EventCase{1025, "Device:5 ==> enter ISP mode fail.\n", "Connected"},
        EventCase{1026, "Device:5 ==> enter ISP mode success.\n", "Connected"},
        // Not in the table: no line and no change at all.
        EventCase{772, "", "before"}, EventCase{0, "", "before"}));

struct TimingCase {
    std::uint32_t begin;
    std::uint32_t success;
    std::uint32_t start; // tick of the begin event
    std::uint32_t elapsedMs;
    const char* line;
    friend void PrintTo(const TimingCase& c, std::ostream* os) {
        *os << c.begin << " to " << c.success << " after " << c.elapsedMs << " ms";
    }
};

class StepTiming : public Reactions, public ::testing::WithParamInterface<TimingCase> {};

TEST_P(StepTiming, ElapsedSecondsAreRoundedHalfUp) {
    const TimingCase& c = GetParam();
    now = c.start;
    page.HandleEvent(c.begin, 2);
    now = c.start + c.elapsedMs; // wraps like the tick count
    page.HandleEvent(c.success, 2);
    EXPECT_EQ(view.lines.back(), c.line);
    EXPECT_EQ(page.State().stepTick[2], c.elapsedMs);
}

INSTANTIATE_TEST_SUITE_P(
    Rounding, StepTiming,
    ::testing::Values(TimingCase{768, 769, 1000, 0, "Device:2 ==> Write FW is success. (0 s)\n"},
                      TimingCase{768, 769, 1000, 499, "Device:2 ==> Write FW is success. (0 s)\n"},
                      TimingCase{768, 769, 1000, 500, "Device:2 ==> Write FW is success. (1 s)\n"},
                      TimingCase{768, 769, 1000, 1499, "Device:2 ==> Write FW is success. (1 s)\n"},
                      TimingCase{768, 769, 1000, 1500, "Device:2 ==> Write FW is success. (2 s)\n"},
                      TimingCase{784, 785, 0xFFFFFF00u, 61'400,
                                 "Device:2 ==> Write resource is success. (61 s)\n"},
                      TimingCase{816, 817, 5, 2'500,
                                 "Device:2 ==> copy demo is success. (3 s)\n"}));

TEST_F(Reactions, RebuildDoesNotRestartTheResourceTimer) {
    now = 10'000;
    page.HandleEvent(kEventResourceBegin, 1);
    now = 13'000;
    page.HandleEvent(kEventRebuildBegin, 1);
    EXPECT_EQ(view.text[1], "Writing Nand fs...");
    now = 14'600;
    page.HandleEvent(kEventResourceSucceeded, 1);
    EXPECT_EQ(view.lines.back(), "Device:1 ==> Write resource is success. (5 s)\n");
    EXPECT_EQ(view.text[1], "Connected");
}

TEST_F(Reactions, ProgressMovesTheBarAnimatesAndResetsAtTheEnd) {
    Range(3, 2);
    Range(3, 5);
    EXPECT_EQ(view.range[3], 7u);
    EXPECT_FALSE(view.ispEnabled);
    for (std::uint32_t step = 1; step < 7; ++step) {
        page.HandleStatus(kStatusProgressStep, 3, nullptr);
        EXPECT_EQ(view.position[3], step);
        EXPECT_EQ(view.picture[3], AnimationFrame(step));
    }
    EXPECT_EQ(BitmapOf(view.picture[3]), 137) << "step 6 shows frame 0";
    page.HandleStatus(kStatusProgressStep, 3, nullptr); // 7 of 7: the slot is reset
    EXPECT_EQ(view.position[3], 0u);
    EXPECT_EQ(view.picture[3], SlotPicture::kIdle);
    EXPECT_EQ(page.State().slots[3].total, 0u);
    EXPECT_EQ(page.State().slots[3].position, 0u);
}

TEST_F(Reactions, AdvanceByStepsHasNoEndTest) {
    Range(0, 4);
    ProgressRecord advance{0, 4};
    page.HandleStatus(kStatusProgressAdvance, 0, &advance);
    EXPECT_EQ(view.position[0], 4u);
    EXPECT_EQ(view.picture[0], AnimationFrame(4));
    EXPECT_EQ(page.State().slots[0].total, 4u);
}

TEST_F(Reactions, PlainNumberInCodeOneIsNotReadAsARecord) {
    page.HandleStatus(kStatusProgressRange, 12, nullptr);
    EXPECT_FALSE(view.ispEnabled);
    for (const auto& s : page.State().slots) {
        EXPECT_EQ(s.total, 0u);
    }
}

TEST_F(Reactions, DevicesBeyondTheSlotsLogButNeverTouchSlotState) {
    // RecordingView throws on a slot index outside 0-7, so any touch fails the test.
    Range(9, 3);
    page.HandleStatus(kStatusProgressStep, 9, nullptr);
    ProgressRecord advance{12, 1};
    page.HandleStatus(kStatusProgressAdvance, 0, &advance);
    now = 1000;
    page.HandleEvent(kEventBootBegin, 9);
    now = 3000;
    page.HandleEvent(kEventBootSucceeded, 9);
    page.HandleEvent(kEventBootFailed, 1234);
    EXPECT_EQ(view.lines, (std::vector<std::string>{"Device:9 ==> Begin write FW.\n",
                                                    "Device:9 ==> Write FW is success. (2 s)\n",
                                                    "Device:1234 ==>Write FW is fail.\n"}));
    page.HandleStatus(kStatusRunBegins, 0, nullptr);
    page.HandleStatus(kStatusWorkerStarted, 9, nullptr);
    EXPECT_EQ(page.State().runningWorkers, 1);
    page.HandleStatus(kStatusWorkerEnded, 9, nullptr);
    EXPECT_EQ(page.State().runningWorkers, 0);
    EXPECT_TRUE(view.ispEnabled);
}

TEST_F(Reactions, LastWorkerEndBringsTheActionBackAndRefreshesTheDialog) {
    page.HandleStatus(kStatusBusy, 0, nullptr);
    page.HandleStatus(kStatusRunBegins, 0, nullptr);
    page.HandleStatus(kStatusWorkerStarted, 0, nullptr);
    page.HandleStatus(kStatusWorkerStarted, 1, nullptr);
    Range(1, 10);
    page.HandleStatus(kStatusProgressStep, 1, nullptr);
    page.HandleStatus(kStatusWorkerEnded, 1, nullptr);
    EXPECT_FALSE(view.ispEnabled);
    EXPECT_EQ(view.position[1], 0u) << "the ended device's slot is reset";
    EXPECT_TRUE(Drain(window).empty());
    page.HandleStatus(kStatusWorkerEnded, 0, nullptr);
    EXPECT_TRUE(view.ispEnabled);
    auto posted = Drain(window);
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].message, WM_ISP_STATUS);
    EXPECT_EQ(posted[0].wParam, kStatusDevicesChanged);
    page.HandleMessage(posted[0]);
    auto refresh = Drain(dialog);
    ASSERT_EQ(refresh.size(), 1u);
    EXPECT_EQ(refresh[0].message, WM_DEVICE_REFRESH);
    EXPECT_EQ(refresh[0].wParam, 0u);
    EXPECT_EQ(refresh[0].lParam, 0);
}

TEST_F(Reactions, PhaseEndBringsTheActionBackOnlyWhenNoWorkerRuns) {
    page.HandleStatus(kStatusRunBegins, 0, nullptr);
    page.HandleStatus(kStatusWorkerStarted, 0, nullptr);
    page.HandleStatus(kStatusBusy, 0, nullptr);
    page.HandleStatus(kStatusPhaseEnded, 0, nullptr);
    EXPECT_FALSE(view.ispEnabled);
    page.HandleStatus(kStatusWorkerEnded, 0, nullptr);
    page.HandleStatus(kStatusBusy, 0, nullptr);
    page.HandleStatus(kStatusPhaseEnded, 0, nullptr);
    EXPECT_TRUE(view.ispEnabled);
}

TEST_F(Reactions, DemoCopyStartsWhenEveryDeviceHasReported) {
    int started = 0;
    std::string dir;
    page.Settings().demoDir = "demo";
    page.SetDemoCopyStarter([&](const std::string& d) {
        ++started;
        dir = d;
    });
    page.HandleStatus(kStatusJobCount, 2, nullptr);
    page.HandleStatus(kStatusDemoReady, 0, nullptr);
    EXPECT_EQ(started, 0);
    EXPECT_FALSE(view.ispEnabled);
    page.HandleStatus(kStatusDemoReady, 0, nullptr);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(dir, config::HomePath("demo")) << "a relative demo directory is the home's";
    page.HandleStatus(kStatusDemoReady, 0, nullptr); // nothing awaited any more
    EXPECT_EQ(started, 1);
    EXPECT_EQ(page.State().demoPending, 0);
}

TEST_F(Reactions, OtherCodesChangeNothing) {
    for (std::uint32_t code : {0u, 4u, 6u, 9u, 255u, 259u, 514u, 1281u}) {
        page.HandleStatus(code, 1, nullptr);
    }
    EXPECT_TRUE(view.ispChanges.empty());
    EXPECT_TRUE(view.log.empty());
    EXPECT_TRUE(Drain(window).empty());
}

struct RefreshCase {
    int devices;
    const char* caption;
    int connected; // slots shown "Connected"
    friend void PrintTo(const RefreshCase& c, std::ostream* os) { *os << c.devices << " devices"; }
};

class TitleAndSlots : public ::testing::TestWithParam<RefreshCase> {};

TEST_P(TitleAndSlots, CaptionAndSlotTextsFollowTheDeviceCount) {
    const RefreshCase& c = GetParam();
    test::TempHome home;
    LibraryLog log;
    RecordingView view;
    platform::QueueSink window;
    IspPage page(view, FakeLibrary(log, c.devices), window, nullptr);
    page.RefreshTitle();
    EXPECT_EQ(view.title, c.caption);
    auto m = window.TryTake();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->wParam, kStatusDeviceCount);
    EXPECT_EQ(m->lParam, c.devices);
    page.HandleMessage(*m);
    for (int k = 0; k < kSlotCount; ++k) {
        const bool connected = k < c.connected;
        EXPECT_EQ(view.text[k], connected ? "Connected" : "Not Connected") << k;
        EXPECT_EQ(BitmapOf(view.picture[k]), connected ? 137 : 135) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, TitleAndSlots,
    ::testing::Values(RefreshCase{0, "Tarn4410 Kestrel Pro v1.3.0.10", 0},
                      RefreshCase{3, "Tarn4410 Kestrel Pro v1.3.0.10[USB:3]", 3},
                      RefreshCase{10, "Tarn4410 Kestrel Pro v1.3.0.10[USB:10]", 8}));

TEST_F(Reactions, SlotRefreshWaitsWhileWorkersRun) {
    page.HandleStatus(kStatusRunBegins, 0, nullptr);
    page.HandleStatus(kStatusWorkerStarted, 0, nullptr);
    page.HandleStatus(kStatusDeviceCount, 3, nullptr);
    for (const auto& t : view.text) {
        EXPECT_EQ(t, "");
    }
    page.HandleStatus(kStatusWorkerEnded, 0, nullptr);
    page.HandleStatus(kStatusDeviceCount, 3, nullptr);
    EXPECT_EQ(view.text[2], "Connected");
    EXPECT_EQ(view.text[3], "Not Connected");
}

// A slot whose device has left shows nothing of it: text, picture and bar, also the bar a demo
// copy moved by steps without an end test, and also a waiting note.
TEST_F(Reactions, ASlotWhoseDeviceLeftIsResetWholly) {
    page.HandleStatus(kStatusRunBegins, 0, nullptr);
    Range(1, 10);
    page.HandleStatus(kStatusProgressStep, 1, nullptr);
    ProgressRecord copied{2, 7};
    page.HandleStatus(kStatusProgressAdvance, 0, &copied);
    page.OperatorWaiting(1, true);
    ASSERT_EQ(view.position[2], 7u);
    page.HandleStatus(kStatusDeviceCount, 1, nullptr); // devices 1 and 2 have left
    for (int k = 1; k < kSlotCount; ++k) {
        EXPECT_EQ(view.text[k], "Not Connected") << k;
        EXPECT_EQ(view.picture[k], SlotPicture::kNotConnected) << k;
        EXPECT_EQ(view.position[k], 0u) << k;
        EXPECT_EQ(view.range[k], 0u) << k;
        EXPECT_EQ(page.State().slots[static_cast<std::size_t>(k)].position, 0u) << k;
    }
    EXPECT_EQ(view.text[0], "Connected");
    // Progress after the reset starts from nothing.
    page.HandleStatus(kStatusProgressAdvance, 0, &copied);
    EXPECT_EQ(view.position[2], 7u);
}

TEST_F(Reactions, AWaitingBoxShowsOnItsSlotUntilConfirmed) {
    page.HandleEvent(kEventBootBegin, 1);
    page.OperatorWaiting(1, true);
    EXPECT_EQ(view.text[1], "waiting for operator");
    page.HandleEvent(kEventRebuildBegin, 1); // another thread's event does not hide the wait
    EXPECT_EQ(view.text[1], "waiting for operator");
    page.OperatorWaiting(1, false);
    EXPECT_EQ(view.text[1], "Writing Nand fs..."); // what the events left meanwhile
    view.text[9 % kSlotCount] = "untouched";
    page.OperatorWaiting(9, true); // beyond the slots
    EXPECT_EQ(view.text[9 % kSlotCount], "untouched");
}

TEST_F(Reactions, AnIspActionClearsWhatEarlierRunsLeftOnEverySlot) {
    ProgressRecord copied{6, 4}; // a demo copy's drive 6, beyond the three devices
    page.HandleStatus(kStatusProgressAdvance, 0, &copied);
    Range(0, 8);
    page.HandleStatus(kStatusProgressStep, 0, nullptr);
    page.OperatorWaiting(2, true);
    ASSERT_TRUE(page.StartIsp({"boot.pkg", "res.img", ""}));
    for (int k = 0; k < kSlotCount; ++k) {
        EXPECT_EQ(view.position[k], 0u) << k;
        EXPECT_EQ(view.range[k], 0u) << k;
        EXPECT_EQ(view.picture[k], k < 3 ? SlotPicture::kIdle : SlotPicture::kNotConnected) << k;
        EXPECT_NE(view.text[k], "waiting for operator") << k;
    }
    EXPECT_EQ(view.log, ""); // devices were there: nothing to say
}

} // namespace
