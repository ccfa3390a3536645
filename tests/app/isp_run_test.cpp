// Building a run and the workers of modes 1, 2, 3 and others, through the page's own window.

#include "station_fakes.h"
#include "support/temp_home.h"

#include "kestrellib/program/config_files.h"
#include "platform/clock/clock.h"
#include "platform/message_box/message_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace kestrel;
using namespace kestrel::station;
using kestrel::test::FakeLibrary;
using kestrel::test::LibraryLog;
using kestrel::test::RecordingView;

namespace {

struct Posted {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    bool operator==(const Posted&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Posted& p) {
    return os << "{" << p.message << "," << p.wParam << "," << p.lParam << "}";
}

class Run : public ::testing::Test {
protected:
    Run() {
        boxes = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&) {
            std::lock_guard guard(boxLock);
            boxTexts.push_back(text);
        });
    }
    ~Run() override { platform::SetMessageBoxHandler(boxes); }

    IspPage& Page(int devices) {
        library = FakeLibrary(log, devices);
        Customise(library);
        page.emplace(view, library, window, &window);
        return *page;
    }
    virtual void Customise(StationLibrary&) {}

    // Handles the page's messages until the run is over and the window is quiet, recording
    // each message on the way.
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
            posted.push_back({m->message, m->wParam, m->lParam});
            page->HandleMessage(*m);
        }
        FAIL() << "the run did not end";
    }

    std::vector<std::uintptr_t> StatusCodes(std::intptr_t device = -1) const {
        std::vector<std::uintptr_t> codes;
        for (const auto& p : posted) {
            if (p.message == WM_ISP_STATUS && (device < 0 || p.lParam == device)) {
                codes.push_back(p.wParam);
            }
        }
        return codes;
    }

    std::vector<std::string> Boxes() {
        std::lock_guard guard(boxLock);
        return boxTexts;
    }

    test::TempHome home;
    LibraryLog log;
    RecordingView view;
    platform::QueueSink window;
    StationLibrary library;
    std::optional<IspPage> page;
    std::vector<Posted> posted;
    platform::MessageBoxHandler boxes;
    std::mutex boxLock;
    std::vector<std::string> boxTexts;
};

TEST_F(Run, NoDeviceStartsNoWorkerAndEnablesTheActionAtOnce) {
    IspPage& p = Page(0);
    ASSERT_TRUE(p.StartIsp({"boot.pkg", "res.img", ""}));
    EXPECT_TRUE(view.ispEnabled);
    EXPECT_EQ(view.ispChanges, (std::vector<bool>{false, true}));
    EXPECT_EQ(p.JobCount(), 0);
    EXPECT_FALSE(p.RunUnderWay());
    // The operator is told, in one line of the log.
    ASSERT_EQ(view.lines.size(), 1u);
    EXPECT_NE(view.lines[0].find("no device"), std::string::npos) << view.lines[0];
    EXPECT_EQ(view.lines[0].back(), '\n');
    // GetRedboot is still asked once, with device 0's handle as the set returns it.
    EXPECT_EQ(log.Count("GetRedboot " + config::HomePath("boot.pkg")), 1);
    Pump();
    EXPECT_EQ(posted, (std::vector<Posted>{{WM_ISP_STATUS, kStatusJobCount, 0},
                                           {WM_ISP_STATUS, kStatusRunStart, 0},
                                           {WM_ISP_STATUS, kStatusRunBegins, 0}}));
}

class RefusedImage : public Run {
    void Customise(StationLibrary& lib) override {
        lib.getRedboot = [](IspJob&, const std::string& path, int& result) {
            result = -1;
            return path;
        };
    }
};

TEST_F(RefusedImage, BuildsNoJobs) {
    IspPage& p = Page(3);
    ASSERT_TRUE(p.StartIsp({"boot.pkg", "res.img", ""}));
    EXPECT_EQ(p.JobCount(), 0);
    EXPECT_TRUE(view.ispEnabled);
    EXPECT_EQ(view.log, ""); // the library has said why, in its own box
    Pump();
    EXPECT_EQ(log.Count("FW 0"), 0);
    EXPECT_EQ(StatusCodes(), (std::vector<std::uintptr_t>{5, 4, 258}));
}

TEST_F(Run, JobRecordsCarryTheSettingsAndTheProbedLoader) {
    IspPage& p = Page(6);
    p.Settings().imageType = 4; // workers do nothing but announce themselves
    p.Settings().readVerify = 0;
    p.Settings().rebuildNandFs = 1;
    p.Settings().copyDemo = 0;
    p.Settings().romfs1Shown = 0;
    p.Settings().romfs1Path = "second.img";
    ASSERT_TRUE(p.StartIsp({"boot.pkg", "res.img", "demo"}));
    Pump();
    ASSERT_EQ(p.JobCount(), 6);
    const IspJob& job = p.Job(5);
    EXPECT_EQ(job.hWnd, nullptr) << "cleared when the worker ended";
    // Relative paths are taken from the home directory.
    EXPECT_EQ(job.redbootPath, config::HomePath("boot.pkg") + ".img");
    EXPECT_EQ(job.romfsPath, config::HomePath("res.img"));
    EXPECT_STREQ(job.romfs1Path, "") << "the Romfs 1 row is hidden";
    EXPECT_EQ(job.hDevice, reinterpret_cast<void*>(0x105));
    EXPECT_STREQ(job.devId, "DEV5");
    EXPECT_EQ(job.devIndex, 5);
    EXPECT_EQ(job.imageType, 4);
    EXPECT_EQ(job.readVerify, 0);
    EXPECT_EQ(job.rebuildNandFs, 1);
    EXPECT_EQ(job.copyDemo, 0);
    EXPECT_EQ(job.writeRomfs, 1);
    EXPECT_EQ(job.writeRomfs1, 0);
    EXPECT_EQ(job.loaderLevel, 2);
    EXPECT_EQ(job.loaderClass, 1);
    // Every notification about device 5 carries 5.
    EXPECT_EQ(StatusCodes(5), (std::vector<std::uintptr_t>{257, 256}));
}

TEST_F(Run, RomfsOnePathComesFromThePageNotFromItsBox) {
    IspPage& p = Page(1);
    p.Settings().imageType = 4;
    p.Settings().romfs1Shown = 1;
    p.Settings().romfs1Path = "held.img";
    ASSERT_TRUE(p.StartIsp({"typed-boot.pkg", "typed-res.img", "typed-demo"}));
    Pump();
    EXPECT_EQ(p.Job(0).romfs1Path, config::HomePath("held.img"));
    EXPECT_EQ(config::Read(config::isp::kRomfs1Name), "held.img");
    EXPECT_EQ(config::Read(config::isp::kRedbootName), "typed-boot.pkg");
    EXPECT_EQ(config::Read(config::isp::kRomfsName), "typed-res.img");
    EXPECT_EQ(config::Read(config::isp::kDemoDir), "typed-demo");
}

// Settings files the press cannot write: paths isp.ini cannot keep are noted and the run goes on
// with the paths shown; a Dram type config.ini cannot take refuses the run before any device is
// asked anything, and the files keep their bytes and modes.
struct ReadOnlyCase {
    const char* name;
    const char* readOnly; // the file made read-only
    bool refused;
    const char* logged;
    friend void PrintTo(const ReadOnlyCase& c, std::ostream* os) { *os << c.name; }
};

class ReadOnlySettings : public Run, public ::testing::WithParamInterface<ReadOnlyCase> {};

TEST_P(ReadOnlySettings, AreNamedInTheLogAndRefuseOnlyWhatWouldReachTheUnits) {
    home.WriteFile("isp.ini", "[General]\nImageType=1\nDramtype=1\n[Redboot]\nname=old.pkg\n");
    home.WriteFile("config.ini", "[General]\nItemNum=3\nItemName=Item\n[Item2]\n0=ddr2\n"
                                 "1=ddr3\nddr2=0x11\nddr3=0x22\nvalue=0x11\n");
    const std::string path = home.Path(GetParam().readOnly);
    std::ifstream in(path, std::ios::binary);
    const std::string before((std::istreambuf_iterator<char>(in)), {});
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::others_read);
    IspPage& p = Page(1);
    p.Settings().imageType = 1;
    p.Settings().dramIndex = 1;
    ASSERT_TRUE(p.StartIsp({"typed-boot.pkg", "res.img", "demo"}));
    Pump();
    EXPECT_NE(view.log.find(GetParam().logged), std::string::npos) << view.log;
    EXPECT_EQ(p.RefusedFailures() > 0, GetParam().refused) << view.log;
    const std::vector<std::string> calls = log.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "FW 0") == 1, !GetParam().refused) << view.log;
    std::ifstream after(path, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), {}), before);
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::owner_write,
              std::filesystem::perms::none);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadOnlySettings,
    ::testing::Values(ReadOnlyCase{"IspIni", "isp.ini", false,
                                   "The paths can't be kept in isp.ini: "},
                      ReadOnlyCase{"ConfigIni", "config.ini", true,
                                   "The run is refused: the units would not get the Dram type "
                                   "chosen. No device was touched."}),
    [](const auto& info) { return std::string(info.param.name); });

struct ModeCase {
    int mode;
    bool fwFails;
    std::vector<std::string> calls;          // library calls of device 0 in order
    std::vector<std::uintptr_t> deviceCodes; // status codes posted with lParam 0 after 258
    int surplus;                             // surplus counter after the run
    friend void PrintTo(const ModeCase& c, std::ostream* os) {
        *os << "mode " << c.mode << (c.fwFails ? ", boot code fails" : "");
    }
};

class Modes : public Run, public ::testing::WithParamInterface<ModeCase> {
    void Customise(StationLibrary& lib) override {
        if (GetParam().fwFails) {
            lib.writeFw = [this](IspJob* job) {
                log.Add("FW " + std::to_string(job->devIndex));
                return -1;
            };
        }
    }
};

TEST_P(Modes, WorkerCallsWhatTheModeNeeds) {
    const ModeCase& c = GetParam();
    IspPage& p = Page(1);
    p.Settings().imageType = c.mode;
    ASSERT_TRUE(p.StartIsp({"boot.pkg", "res.img", ""}));
    Pump();
    std::vector<std::string> calls;
    for (const auto& call : log.Calls()) {
        if (call == "FW 0" || call == "ROM 0") {
            calls.push_back(call);
        }
    }
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(StatusCodes(), ([&] {
                  std::vector<std::uintptr_t> all{5, 4, 258};
                  all.insert(all.end(), c.deviceCodes.begin(), c.deviceCodes.end());
                  all.push_back(8);
                  all.push_back(1280);
                  return all;
              }()));
    EXPECT_EQ(log.surplus, c.surplus);
    EXPECT_TRUE(view.ispEnabled);
    EXPECT_EQ(view.text[0], "Connected");
}

INSTANTIATE_TEST_SUITE_P(
    EveryMode, Modes,
    ::testing::Values(ModeCase{1, false, {"FW 0"}, {257, 256}, 0},
                      ModeCase{2, false, {"ROM 0"}, {257, 256}, 0},
                      ModeCase{3, false, {"FW 0", "ROM 0"}, {257, 512, 256}, 0},
                      // The failed boot code skips the resources and leaves the surplus raised.
                      ModeCase{3, true, {"FW 0"}, {257, 256}, 1},
                      ModeCase{0, false, {}, {257, 256}, 0},
                      ModeCase{7, false, {}, {257, 256}, 0}));

struct MissingCase {
    int mode;
    const char* missing;
    const char* text;
    friend void PrintTo(const MissingCase& c, std::ostream* os) {
        *os << "mode " << c.mode << " without " << c.missing;
    }
};

class MissingIni : public Run, public ::testing::WithParamInterface<MissingCase> {
    void Customise(StationLibrary& lib) override {
        lib.isIniFileExist = [](const char* name) {
            return std::string(name) == GetParam().missing ? -1 : 0;
        };
    }
};

TEST_P(MissingIni, OneMessagePerDeviceAndNothingWritten) {
    IspPage& p = Page(3);
    p.Settings().imageType = GetParam().mode;
    ASSERT_TRUE(p.StartIsp({"boot.pkg", "res.img", ""}));
    Pump();
    EXPECT_EQ(Boxes(), std::vector<std::string>(3, GetParam().text));
    for (const auto& call : log.Calls()) {
        EXPECT_TRUE(call.rfind("FW", 0) != 0 && call.rfind("ROM", 0) != 0) << call;
    }
    EXPECT_EQ(log.surplus, 0);
    EXPECT_TRUE(view.ispEnabled);
}

INSTANTIATE_TEST_SUITE_P(Files, MissingIni,
                         ::testing::Values(MissingCase{1, "config.ini", "Can't found config.ini"},
                                           MissingCase{2, "isp.ini", "Can't found isp.ini"},
                                           MissingCase{3, "config.ini", "Can't found config.ini"},
                                           MissingCase{3, "isp.ini", "Can't found isp.ini"}));

// A library whose procedures report like the real ones: begin, progress, success.
class Reporting : public Run {
    void Customise(StationLibrary& lib) override {
        auto report = [](IspJob* job, std::uint32_t begin, std::uint32_t steps) {
            platform::PostWindowMessage(job->hWnd, WM_ISP_EVENT, begin, job->devIndex);
            ProgressRecord r{static_cast<std::uint16_t>(job->devIndex), steps};
            platform::PostWindowMessageCopy(job->hWnd, WM_ISP_STATUS, kStatusProgressRange, &r,
                                            sizeof r);
            for (std::uint32_t i = 0; i < steps; ++i) {
                platform::PostWindowMessage(job->hWnd, WM_ISP_STATUS, kStatusProgressStep,
                                            job->devIndex);
            }
            platform::PostWindowMessage(job->hWnd, WM_ISP_EVENT, begin + 1, job->devIndex);
            return 0;
        };
        lib.writeFw = [report](IspJob* job) { return report(job, kEventBootBegin, 3); };
        lib.writeRomfs = [report](IspJob* job) { return report(job, kEventResourceBegin, 5); };
    }
};

TEST_F(Reporting, TenDevicesRunToTheEndWithEightSlots) {
    IspPage& p = Page(10);
    ASSERT_TRUE(p.StartIsp({"boot.pkg", "res.img", ""}));
    EXPECT_FALSE(view.ispEnabled);
    EXPECT_FALSE(p.StartIsp({"boot.pkg", "res.img", ""})) << "a second run while one is under way";
    Pump();
    EXPECT_TRUE(view.ispEnabled);
    EXPECT_EQ(view.title, "Tarn4410 Kestrel Pro v1.3.0.10[USB:10]");
    for (int d = 0; d < 10; ++d) {
        const std::string n = std::to_string(d);
        EXPECT_NE(view.log.find("Device:" + n + " ==> Begin write FW.\n"), std::string::npos);
        EXPECT_NE(view.log.find("Device:" + n + " ==> Write resource is success. ("),
                  std::string::npos);
    }
    for (int k = 0; k < kSlotCount; ++k) {
        EXPECT_EQ(view.text[k], "Connected");
        EXPECT_EQ(view.position[k], 0u);
        EXPECT_EQ(view.picture[k], SlotPicture::kIdle);
    }
    EXPECT_EQ(p.State().runningWorkers, 0);
    // A new run may start now; the previous workers were joined.
    EXPECT_TRUE(p.StartIsp({"boot.pkg", "res.img", ""}));
    Pump();
}

// Procedures that keep going page by page until the library is asked to stop.
class Closing : public Run {
protected:
    std::atomic<bool> libraryStop{false};
    std::atomic<int> inside{0};

private:
    void Customise(StationLibrary& lib) override {
        lib.requestStop = [this](bool stop) {
            log.Add(stop ? "Stop" : "Go");
            libraryStop = stop;
        };
        lib.writeFw = [this](IspJob* job) {
            ++inside;
            while (!libraryStop) {
                platform::PostWindowMessage(job->hWnd, WM_ISP_STATUS, kStatusProgressStep,
                                            job->devIndex);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            return 0; // stopped between pages
        };
    }
};

TEST_F(Closing, StopsWorkersAtTheirNextSafePointAndJoinsThem) {
    IspPage& p = Page(4);
    ASSERT_TRUE(p.StartIsp({"boot.pkg", "res.img", ""}));
    while (inside < 4) {
        std::this_thread::yield();
    }
    page.reset(); // closing the page during the run
    EXPECT_FALSE(libraryStop) << "released again once every worker was joined";
    EXPECT_EQ(log.Count("ROM 0") + log.Count("ROM 1") + log.Count("ROM 2") + log.Count("ROM 3"), 0)
        << "a stopped worker does not go on to the resources";
    const auto calls = log.Calls();
    EXPECT_EQ(calls.back(), "FreeSurplus");
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Stop"), 1);
    // Every worker still announced its end; the messages wait in the window sink.
    int ends = 0;
    while (auto m = window.TryTake()) {
        ends += (m->message == WM_ISP_STATUS && m->wParam == kStatusWorkerEnded) ? 1 : 0;
    }
    EXPECT_EQ(ends, 4);
}

} // namespace
