// The demo copy: counting the files, finding the drives, the master and the drive threads, and
// a whole run onto folder drives through the real copydir and Kestrellib's counter.

#include "app/station/demo_copy.h"

#include "kestrel/isp_job.h"
#include "platform/clock/clock.h"
#include "platform/drives/drives.h"
#include "platform/files/files.h"
#include "platform/message_box/message_box.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;
namespace drives = kestrel::platform::drives;
using namespace kestrel;
using namespace kestrel::station;

namespace {

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct Posted {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    bool operator==(const Posted&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Posted& p) {
    return os << "{" << p.message << "," << p.wParam << "," << p.lParam << "}";
}

class DemoCopy : public ::testing::Test {
protected:
    DemoCopy() {
        platform::SetSleepScale(0);
        boxes = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&) {
            std::lock_guard guard(lock);
            boxTexts.push_back(text);
        });
        // The demo directory: 3 files at the top, 2 in a subdirectory.
        for (const char* name : {"one.txt", "two.txt", "three.bin"}) {
            Write(demo / name, name);
        }
        Write(demo / "pictures" / "a.png", "a");
        Write(demo / "pictures" / "b.png", "b");
        // D: removable with media, E: removable without, F: removable with media.
        fs::create_directories(home.Dir() / "d");
        fs::create_directories(home.Dir() / "f");
        drives::UseBackend(drives::MakeFolderBackend({
            {(home.Dir() / "d").string()},
            {(home.Dir() / "e").string(), drives::kDriveRemovable, false},
            {(home.Dir() / "f").string()},
        }));
    }
    ~DemoCopy() override {
        drives::UseBackend(nullptr);
        platform::SetMessageBoxHandler(boxes);
        platform::SetSleepScale(1);
    }

    // A library that records its calls and keeps its own running-copy counter.
    DemoCopyLibrary FakeLibrary(std::function<int(const std::string& root)> copyResult) {
        DemoCopyLibrary lib;
        lib.copyDir = [this, copyResult](void*, const char16_t*, const char16_t* root) {
            std::string text;
            for (const char16_t* p = root; *p != 0; ++p) {
                text.push_back(static_cast<char>(*p));
            }
            std::lock_guard guard(lock);
            calls.push_back("copy " + text);
            return copyResult(text);
        };
        lib.resetRunning = [this] { running = 0; };
        lib.increaseRunning = [this] { ++running; };
        lib.decreaseRunning = [this] { --running; };
        lib.running = [this] { return running.load(); };
        lib.closeAllDevice = [this](void* w) {
            EXPECT_EQ(w, platform::ToWindowHandle(&window));
            std::lock_guard guard(lock);
            calls.push_back("close all");
        };
        return lib;
    }

    std::vector<Posted> Drain() {
        std::vector<Posted> posted;
        while (auto m = window.TryTake()) {
            posted.push_back({m->message, m->wParam, m->lParam});
        }
        return posted;
    }

    static void WaitUntilDone(DemoCopyRun& run) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (run.UnderWay() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_FALSE(run.UnderWay());
        run.Stop();
    }

    std::vector<std::string> Calls() {
        std::lock_guard guard(lock);
        return calls;
    }

    test::TempHome home;
    fs::path demo = home.Dir() / "demo";
    platform::QueueSink window;
    std::atomic<int> running{0};
    std::mutex lock;
    std::vector<std::string> calls;
    std::vector<std::string> boxTexts;
    platform::MessageBoxHandler boxes;
};

TEST_F(DemoCopy, CountsFilesAtEveryLevelButNotTheDirectories) {
    EXPECT_EQ(CountFiles(demo.string()), 5);
    EXPECT_EQ(CountFiles(demo.string()), 5) << "each count starts from 0";
    EXPECT_EQ(CountFiles((demo / "pictures").string() + platform::kPathSeparator), 2);
    EXPECT_EQ(CountFiles((home.Dir() / "missing").string()), 0);
    EXPECT_EQ(CountFiles(""), 0);
}

TEST(DemoPaths, ASeparatorIsAddedOnlyWhenMissing) {
    const std::string sep(1, platform::kPathSeparator);
    EXPECT_EQ(JoinDemoPath("demo", "a"), "demo" + sep + "a");
    EXPECT_EQ(JoinDemoPath("demo" + sep, "a"), "demo" + sep + "a");
    EXPECT_EQ(JoinDemoPath("demo/", "a"), "demo/a");
}

TEST_F(DemoCopy, TheScanSkipsADriveWithoutMedia) {
    DemoDriveTable table{};
    std::atomic<bool> stop{false};
    ASSERT_EQ(FindDemoDrives(&window, demo.string(), 2, table, stop), 2);
    EXPECT_EQ(table[0].order, 0);
    EXPECT_EQ(table[0].root, "D:\\");
    EXPECT_EQ(table[1].order, 1);
    EXPECT_EQ(table[1].root, "F:\\");
    EXPECT_EQ(table[1].demoDir, demo.string());
    EXPECT_EQ(table[1].window, platform::ToWindowHandle(&window));
}

TEST_F(DemoCopy, PollingEndsAtTheLimitOrAtAStop) {
    DemoDriveTable table{};
    std::atomic<bool> stop{false};
    int last = -5;
    const std::uint32_t before = platform::TickCount();
    EXPECT_EQ(FindDemoDrives(&window, demo.string(), 3, table, stop, 4, &last), -1);
    EXPECT_EQ(last, 2);
    // One scan a second: four waits of virtual time, plus whatever real time passed.
    const std::uint32_t elapsed = platform::TickCount() - before;
    EXPECT_GE(elapsed, 4 * kDemoDrivePollMs);
    EXPECT_LT(elapsed, 5 * kDemoDrivePollMs);
    stop = true;
    last = -5;
    EXPECT_EQ(FindDemoDrives(&window, demo.string(), 2, table, stop, 4, &last), -1);
    EXPECT_EQ(last, 0) << "stopped before any scan";
}

TEST_F(DemoCopy, MasterAndDrivesReportEachDriveAndTheLastClosesTheDevices) {
    DemoCopyRun run(FakeLibrary([](const std::string& root) { return root == "D:\\" ? 1 : 0; }));
    ASSERT_TRUE(run.Start({&window, demo.string(), 2}));
    WaitUntilDone(run);

    const std::vector<Posted> posted = Drain();
    ASSERT_GE(posted.size(), 2u);
    EXPECT_EQ(posted[0], (Posted{WM_ISP_STATUS, kStatusRunStart, 0}));
    EXPECT_EQ(posted[1], (Posted{WM_ISP_STATUS, kStatusProgressRange, 2 * 5}));
    // Each drive: begin, then its result; F: reports as device 1 and its copy failed.
    std::vector<Posted> d0, d1;
    for (const Posted& p : posted) {
        if (p.message == WM_ISP_EVENT) {
            (p.lParam == 0 ? d0 : d1).push_back(p);
        }
    }
    EXPECT_EQ(d0, (std::vector<Posted>{{WM_ISP_EVENT, kEventDemoBegin, 0},
                                       {WM_ISP_EVENT, kEventDemoSucceeded, 0}}));
    EXPECT_EQ(d1, (std::vector<Posted>{{WM_ISP_EVENT, kEventDemoBegin, 1},
                                       {WM_ISP_EVENT, kEventDemoFailed, 1}}));
    EXPECT_EQ(posted.back(), (Posted{WM_ISP_STATUS, kStatusPhaseEnded, 0}));
    const auto c = Calls();
    ASSERT_EQ(c.size(), 3u);
    EXPECT_EQ(c.back(), "close all") << "once, after both copies";
    EXPECT_EQ(running, 0);
}

TEST_F(DemoCopy, APathThatDoesNotFitItsBufferFailsWithoutACopy) {
    const DemoCopyLibrary lib = FakeLibrary([](const std::string&) { return 1; });
    running = 1;
    DemoDrive drive{0, &window, std::string(256, 'x'), "D:\\"};
    DemoCopyDriveProc(drive, lib);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"close all"}));
    EXPECT_EQ(Drain(), (std::vector<Posted>{{WM_ISP_EVENT, kEventDemoBegin, 0},
                                            {WM_ISP_EVENT, kEventDemoFailed, 0},
                                            {WM_ISP_STATUS, kStatusPhaseEnded, 0}}));
    running = 2;
    drive.demoDir = std::string(255, 'x');
    DemoCopyDriveProc(drive, lib);
    EXPECT_EQ(Calls().back(), "copy D:\\") << "255 characters and the NUL fit";
    EXPECT_EQ(running, 1);
    EXPECT_EQ(Drain().back(), (Posted{WM_ISP_EVENT, kEventDemoSucceeded, 0}))
        << "not the last copy: no 513";
}

TEST_F(DemoCopy, TooFewDrivesEndInAMessageAndTheActionComesBack) {
    DemoDriveTable table{};
    std::atomic<bool> stop{false};
    const DemoCopyLibrary lib = FakeLibrary([](const std::string&) { return 1; });
    DemoCopyMasterProc(
        {&window, demo.string(), 3}, table, lib, [](const DemoDrive&) { return true; }, stop);
    EXPECT_EQ(boxTexts, (std::vector<std::string>{
                            "Demo copy: 2 removable drives are ready for 3 devices; no demo file "
                            "was copied.\n"}));
    EXPECT_EQ(Drain(), (std::vector<Posted>{{WM_ISP_STATUS, kStatusPhaseEnded, 0}}));
    EXPECT_TRUE(Calls().empty());
}

TEST_F(DemoCopy, ADriveWhoseThreadCannotStartCountsAsFailed) {
    DemoDriveTable table{};
    std::atomic<bool> stop{false};
    const DemoCopyLibrary lib = FakeLibrary([](const std::string&) { return 1; });
    DemoCopyMasterProc(
        {&window, demo.string(), 2}, table, lib, [](const DemoDrive&) { return false; }, stop);
    const auto posted = Drain();
    EXPECT_EQ(std::count(posted.begin(), posted.end(), Posted{WM_ISP_EVENT, kEventDemoFailed, 1}),
              1);
    EXPECT_EQ(posted.back(), (Posted{WM_ISP_STATUS, kStatusPhaseEnded, 0}));
    EXPECT_EQ(Calls(), (std::vector<std::string>{"close all"}));
}

TEST_F(DemoCopy, AWholeRunCopiesTheFilesOntoEveryDrive) {
    DemoCopyRun run; // copydir, Kestrellib's counter and CloseAllDevice
    ASSERT_TRUE(run.Start({&window, demo.string(), 2}));
    std::vector<Posted> posted;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        auto m = window.Take(20);
        if (m) {
            posted.push_back({m->message, m->wParam, m->lParam});
            if (m->message == WM_ISP_STATUS && m->wParam == kStatusPhaseEnded) {
                break;
            }
        }
    }
    run.Stop();
    ASSERT_FALSE(posted.empty());
    EXPECT_EQ(posted.back(), (Posted{WM_ISP_STATUS, kStatusPhaseEnded, 0}));
    for (const char* drive : {"d", "f"}) {
        EXPECT_TRUE(fs::exists(home.Dir() / drive / "three.bin")) << drive;
        EXPECT_TRUE(fs::exists(home.Dir() / drive / "pictures" / "b.png")) << drive;
    }
    EXPECT_EQ(
        std::count(posted.begin(), posted.end(), Posted{WM_ISP_EVENT, kEventDemoSucceeded, 0}), 1);
    EXPECT_EQ(
        std::count(posted.begin(), posted.end(), Posted{WM_ISP_EVENT, kEventDemoSucceeded, 1}), 1);
}

TEST_F(DemoCopy, AStopEndsTheWaitForDrives) {
    fs::remove_all(home.Dir() / "f"); // one drive short: the master keeps polling
    platform::SetSleepScale(0.01);
    DemoCopyRun run(FakeLibrary([](const std::string&) { return 1; }));
    ASSERT_TRUE(run.Start({&window, demo.string(), 2}));
    EXPECT_TRUE(run.UnderWay());
    EXPECT_FALSE(run.Start({&window, demo.string(), 2})) << "one run at a time";
    run.Stop();
    EXPECT_FALSE(run.UnderWay());
    EXPECT_TRUE(boxTexts.empty());
    EXPECT_TRUE(Drain().empty());
}

} // namespace
