// Code 7: workers whose device succeeded report ready for the demo copy when the run copies
// demo files, and the page starts the copy once every device has reported, keeping the ISP
// action off until the copy's 513.

#include "station_fakes.h"
#include "support/temp_home.h"

#include "app/station/isp_worker.h"
#include "platform/clock/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

using namespace kestrel;
using namespace kestrel::station;

namespace {

struct WorkerCase {
    int mode;
    int fwResult;
    int romResult;
    bool demoCopy;
    bool ready; // code 7 expected
};

void PrintTo(const WorkerCase& c, std::ostream* os) {
    *os << "mode" << c.mode << ",fw" << c.fwResult << ",rom" << c.romResult
        << (c.demoCopy ? ",demo" : ",nodemo");
}

class WorkerReady : public ::testing::TestWithParam<WorkerCase> {};

TEST_P(WorkerReady, PostsSevenJustBeforeItsEndOnlyForASucceededDevice) {
    const WorkerCase c = GetParam();
    test::LibraryLog log;
    StationLibrary lib = test::FakeLibrary(log, 1);
    lib.writeFw = [&c](IspJob*) { return c.fwResult; };
    lib.writeRomfs = [&c](IspJob*) { return c.romResult; };
    platform::QueueSink window;
    IspJob job{};
    job.hWnd = platform::ToWindowHandle(&window);
    job.devIndex = 3;
    job.imageType = c.mode;
    std::atomic<bool> stop{false};
    IspWorkerProc(job, lib, stop, c.demoCopy);

    std::vector<std::uintptr_t> codes;
    while (auto m = window.TryTake()) {
        codes.push_back(m->wParam);
    }
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes.back(), kStatusWorkerEnded);
    const bool seven = codes[codes.size() - 2] == kStatusDemoReady;
    EXPECT_EQ(seven, c.ready);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kStatusDemoReady), c.ready ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, WorkerReady,
    ::testing::Values(WorkerCase{1, 0, 0, true, true}, WorkerCase{1, -1, 0, true, false},
                      WorkerCase{2, 0, 0, true, true}, WorkerCase{2, 0, -1, true, false},
                      WorkerCase{3, 0, 0, true, true}, WorkerCase{3, -1, 0, true, false},
                      WorkerCase{3, 0, -1, true, false}, WorkerCase{3, 0, 0, false, false},
                      WorkerCase{4, 0, 0, true, false}));

class DemoReadyRun : public ::testing::Test {
protected:
    DemoReadyRun() {
        std::filesystem::create_directories(home.Dir() / "demo");
        std::ofstream(home.Dir() / "demo" / "readme.txt") << "demo";
    }

    IspPage& Page(int devices) {
        library = test::FakeLibrary(log, devices);
        page.emplace(view, library, window, nullptr);
        page->SetDemoCopyStarter([this](const std::string& dir) { started.push_back(dir); });
        return *page;
    }

    // Handles the page's messages until the run is over and the window is quiet.
    void Pump() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            auto m = window.Take(20);
            if (!m) {
                if (!page->RunUnderWay()) {
                    return;
                }
                continue;
            }
            codes.push_back(m->message == WM_ISP_STATUS ? m->wParam : 0);
            page->HandleMessage(*m);
        }
        FAIL() << "the run did not end";
    }

    test::TempHome home;
    test::LibraryLog log;
    test::RecordingView view;
    platform::QueueSink window;
    StationLibrary library;
    std::optional<IspPage> page;
    std::vector<std::string> started;
    std::vector<std::uintptr_t> codes;
};

TEST_F(DemoReadyRun, EveryDeviceReadyStartsTheCopyAndTheActionWaitsForItsEnd) {
    IspPage& p = Page(2);
    p.Settings().copyDemo = 1;
    const std::string demo = (home.Dir() / "demo").string();
    ASSERT_TRUE(p.StartIsp({"boot.pkg", "res.img", demo}));
    Pump();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kStatusDemoReady), 2);
    EXPECT_EQ(started, (std::vector<std::string>{demo}));
    EXPECT_TRUE(p.DemoCopyUnderWay());
    EXPECT_FALSE(view.ispEnabled) << "the copy closes the devices: no run meanwhile";
    EXPECT_FALSE(p.StartIsp({"boot.pkg", "res.img", demo}));

    p.HandleStatus(kStatusPhaseEnded, 0, nullptr);
    EXPECT_FALSE(p.DemoCopyUnderWay());
    EXPECT_TRUE(view.ispEnabled);
}

TEST_F(DemoReadyRun, NoCopyWithoutTheOptionOrWithoutDemoFiles) {
    IspPage& p = Page(2);
    p.Settings().copyDemo = 0;
    ASSERT_TRUE(p.StartIsp({"boot.pkg", "res.img", (home.Dir() / "demo").string()}));
    Pump();
    p.Settings().copyDemo = 1;
    std::filesystem::create_directories(home.Dir() / "empty");
    ASSERT_TRUE(p.StartIsp({"boot.pkg", "res.img", (home.Dir() / "empty").string()}));
    Pump();
    ASSERT_TRUE(p.StartIsp({"boot.pkg", "res.img", ""}));
    Pump();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kStatusDemoReady), 0);
    EXPECT_TRUE(started.empty());
    EXPECT_TRUE(view.ispEnabled);
}

TEST_F(DemoReadyRun, AFailedDeviceHoldsTheCopyBack) {
    library = test::FakeLibrary(log, 2);
    library.writeRomfs = [](IspJob* job) { return job->devIndex == 1 ? -1 : 0; };
    page.emplace(view, library, window, nullptr);
    page->SetDemoCopyStarter([this](const std::string& dir) { started.push_back(dir); });
    page->Settings().copyDemo = 1;
    ASSERT_TRUE(page->StartIsp({"boot.pkg", "res.img", (home.Dir() / "demo").string()}));
    Pump();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), kStatusDemoReady), 1);
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(page->State().demoPending, 1);
    EXPECT_TRUE(view.ispEnabled);
}

} // namespace
