// kestrel-cli isp: one ISP run on the connected devices (or simulated ones), shown live, with a
// summary per device and one run-record line per device (both made by the station's page, as in
// the window). Exit status 0 only when every device succeeded; a run the workspace check refuses
// fails with kExitFailed before any device is touched; a run that finds no device fails with
// kExitNoDevice.
//
// When the run has a demo copy (isp.ini [Burn-D]), the command waits for it too: its progress
// and lines are shown, and each drive's result is part of its device's result and record.
//
// Ctrl-C or SIGTERM asks every worker to stop at its next safe point (the library's stop
// requests) and the demo copy to stop looking for drives; the run then ends as usual, with the
// summary and the run record, devices not done marked STOPPED, and the exit status
// kExitStopped. A second Ctrl-C ends the process at once.
//
// --continuous: the shift of continuous mode (app/station/isp_page.h): every device of the model
// plugged in is programmed at once, each unit logged with the shift's counters and recorded
// once; the command listens to the device notifications as the window does. The shift ends on
// Ctrl-C or SIGTERM, after --units N units have started, or after --for SECONDS; each way the
// units under way finish first (a second Ctrl-C ends at once). The summary lists every unit and
// the shift's line; the exit status is that of its units (kExitOk when all passed, kExitFailed
// when one failed, kExitNoDevice when none was programmed), and commands chained after it do
// not run when Ctrl-C or SIGTERM ended it.

#include "cli/commands.h"
#include "cli/device_access.h"
#include "cli/run_pump.h"
#include "cli/terminal_view.h"

#include "app/station/isp_page.h"
#include "app/station/kestrellib_binding.h"
#include "app/station/run_monitor.h"
#include "app/station/run_record.h"
#include "kestrellib/program/config_files.h"
#include "kestrellib/program/config_overrides.h"
#include "platform/clock/clock.h"
#include "platform/devices/devices.h"
#include "platform/interrupt/interrupt.h"
#include "platform/message_box/message_box.h"
#include "platform/terminal/terminal.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>

namespace kestrel::cli {
namespace {

using station::RunRecord;

struct IspOptions {
    std::optional<int> mode;
    std::string boot;
    std::string resource;
    std::string romfs1;
    std::optional<int> readVerify;
    std::optional<int> rebuild;
    std::optional<int> dram;
    bool verify = false;
    double timeoutSeconds = 0;
    std::string record;
    bool noRecord = false;
    bool quiet = false;
    bool continuous = false;
    int units = 0;
    double forSeconds = 0;
};

std::uint64_t FileBytes(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

// The phase's duration as the unit's record holds it; "-" when the phase did not end.
std::string Seconds(const RunRecord& r, const std::string& phase) {
    for (const auto& [name, ms] : r.durationsMs) {
        if (name == phase) {
            char text[16];
            std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
            return text;
        }
    }
    return "-";
}

// A path given on the command line is taken from the current directory.
std::string FromCurrentDirectory(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(path, ec);
    return ec ? path : absolute.string();
}

// The run's Dram setting as a config override (config.ini keeps its bytes). False, with the
// reason on stderr, when --dram names a Dram type that config.ini does not hold.
bool ApplyDramForThisRun(const IspOptions& options, int iniIndex) {
    const int index = options.dram ? *options.dram : iniIndex;
    const station::DramSetting dram = station::ResolveDramType(index);
    if (dram.found) {
        config::SetOverride(config::kConfigIni, dram.section, "value", dram.ValueText());
        return true;
    }
    const std::string what = dram.entry.empty()
                                 ? "has no key " + std::to_string(index)
                                 : "names " + dram.entry + ", which has no value there";
    if (options.dram) {
        std::fprintf(stderr, "kestrel-cli: --dram %d: config.ini [%s] %s; no device was touched\n",
                     index, dram.section.c_str(), what.c_str());
        return false;
    }
    std::fprintf(stderr,
                 "kestrel-cli: isp.ini [General] Dramtype=%d: config.ini [%s] %s; the run uses "
                 "config.ini [%s] value as it stands\n",
                 index, dram.section.c_str(), what.c_str(), dram.section.c_str());
    return true;
}

inline constexpr const char* kShiftStoppingText =
    "kestrel-cli: stopping the shift... (the units under way finish; Ctrl-C again ends at once)";
inline constexpr const char* kStoppingText =
    "kestrel-cli: stopping... (every device stops at its next safe point; Ctrl-C again ends at "
    "once)";

// Texts of message boxes raised on any thread, written by the loop thread.
class ErrorLines {
public:
    void Add(const std::string& text) {
        std::lock_guard guard(lock_);
        lines_.push_back(text);
    }
    void WriteTo(TerminalView& view) {
        std::vector<std::string> lines;
        {
            std::lock_guard guard(lock_);
            lines.swap(lines_);
        }
        for (const std::string& line : lines) {
            view.AppendError(line);
        }
    }

private:
    std::mutex lock_;
    std::vector<std::string> lines_;
};

int RunIsp(const IspOptions& options, CommandContext& context) {
    // Options apply to this run only: neither isp.ini nor config.ini is written. The override
    // outlives the page, whose end joins the workers that read it.
    const config::OneRunOverrides overrides;
    if (!ApplyDramForThisRun(options, station::LoadPageSettings().dramIndex)) {
        return kExitUsage;
    }
    // Message boxes are raised on any thread; the page observes each for the units' results,
    // and their texts are written here by the loop thread, above the bars.
    ErrorLines errors;
    platform::MessageBoxHandler previous = platform::SetMessageBoxHandler(
        [&errors](const std::string& text, const std::string&) { errors.Add(text); });
    // Ctrl-C or SIGTERM: the first asks the run to stop at a safe point, the second ends the
    // process at once.
    const platform::InterruptWatch interrupts;

    station::StationLibrary library = station::KestrellibBinding();
    platform::QueueSink window;
    // Continuous mode hears devices come and go; subscribed before the enumeration so that none
    // is missed (an arrival heard twice only refreshes its entry before any unit starts).
    platform::devices::Subscription notifications;
    if (options.continuous) {
        notifications = platform::devices::SubscribeWindow(platform::ToWindowHandle(&window));
    }
    library.initDeviceSet();
    library.enumerateDevices();

    const bool live = !options.quiet && platform::StdoutIsTerminal();
    TerminalView view(std::cout, live, platform::TerminalColumns(), platform::TerminalRows());
    view.SetErrorStream(std::cerr);
    int deviceCount = 0;
    int inaccessible = 0; // devices of the model present but not usable
    PhaseBytes bytes;
    bool allOk = false;
    bool refused = false;
    bool recordFailed = false;
    bool stopped = false; // by the operator (Ctrl-C) or the system (SIGTERM)
    {
        station::IspPage page(view, library, window, &window);
        if (options.noRecord) {
            page.SetRunRecordPath("");
        } else if (!options.record.empty()) {
            page.SetRunRecordPath(options.record);
        }
        station::PageSettings& settings = page.Settings();
        settings = station::LoadPageSettings();
        if (options.mode) {
            settings.imageType = *options.mode;
        }
        if (!options.romfs1.empty()) {
            settings.romfs1Path = FromCurrentDirectory(options.romfs1);
        }
        if (options.readVerify) {
            settings.readVerify = *options.readVerify;
        }
        if (options.rebuild) {
            settings.rebuildNandFs = *options.rebuild;
        }
        if (options.dram) {
            settings.dramIndex = *options.dram;
        }
        if (options.verify) {
            settings.verifyAfterIsp = 1;
        }
        const station::PathBoxes typed{
            options.boot.empty() ? settings.bootCodePath : FromCurrentDirectory(options.boot),
            options.resource.empty() ? settings.resourcePath
                                     : FromCurrentDirectory(options.resource),
            settings.demoDir};
        view.SetRunMode(settings.imageType);
        if (settings.copyDemo != 0 && station::CountFiles(config::HomePath(settings.demoDir)) > 0) {
            view.SetDemoFiles(static_cast<std::uint32_t>(
                station::CountFiles(config::HomePath(settings.demoDir))));
        }

        station::RunMonitor& monitor = page.Monitor();
        auto handle = [&](const platform::WindowMessage& m) { page.HandleMessage(m); };
        page.RefreshTitle();
        while (auto m = window.TryTake()) {
            handle(*m);
        }
        std::cout << view.Title() << "\n";
        std::cout.flush();

        if (options.continuous) {
            if (options.units > 0) {
                page.SetUnitLimit(options.units);
            }
            page.StartContinuous(typed, station::IspPage::SettingsFiles::kLeaveUnchanged);
        } else {
            page.StartIsp(typed, station::IspPage::SettingsFiles::kLeaveUnchanged);
        }
        refused = page.RefusedFailures() > 0;
        errors.WriteTo(view);
        deviceCount = options.continuous ? station::kSlotCount : page.JobCount();
        auto measure = [&] {
            if (page.Job(0).redbootPath == nullptr || page.Job(0).romfsPath == nullptr) {
                return; // continuous mode: slot 0 has had no unit yet
            }
            bytes.boot = FileBytes(page.Job(0).redbootPath);
            const std::uint64_t romfs = FileBytes(page.Job(0).romfsPath);
            bytes.resource = (page.Job(0).writeRomfs ? romfs : 0) *
                                 (config::Read(config::isp::kRomfsDualImage) != 0 ? 2 : 1) +
                             (page.Job(0).writeRomfs1 ? FileBytes(page.Job(0).romfs1Path) : 0);
        };
        if (page.JobCount() > 0) {
            measure();
        }
        // The time limit is real time: the tick also counts the modelled time of instant sleeps
        // (--sleep-scale), which runs ahead of the clock on the wall.
        const auto start = std::chrono::steady_clock::now();
        bool timedOut = false;
        bool shiftTimeUp = false;
        auto tick = [&] {
            const std::uint32_t now = platform::TickCount();
            errors.WriteTo(view);
            if (bytes.boot == 0 && bytes.resource == 0 && page.JobCount() > 0) {
                measure(); // continuous mode: once the first unit has started
            }
            if (!stopped && interrupts.Requested()) {
                stopped = true;
                view.AppendError(options.continuous ? kShiftStoppingText : kStoppingText);
                page.RequestStop();
            }
            view.Render(monitor, deviceCount, bytes, now);
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
            if (options.continuous && !shiftTimeUp && options.forSeconds > 0 &&
                elapsed.count() > options.forSeconds) {
                shiftTimeUp = true;
                page.StopContinuous();
            }
            if (!timedOut && !stopped && options.timeoutSeconds > 0 &&
                elapsed.count() > options.timeoutSeconds) {
                char text[128];
                std::snprintf(text, sizeof text,
                              "kestrel-cli: the run took longer than %g s; stopping it",
                              options.timeoutSeconds);
                view.AppendError(text);
                // The limit fails the units still under way; those done keep their result.
                for (int i = 0; i < deviceCount; ++i) {
                    if (!monitor.Device(i).ended) {
                        monitor.AddMessageBox("the run was stopped after its time limit", i);
                    }
                }
                page.StopContinuous(); // continuous mode: no unit starts after the limit
                page.StopAndJoin();
                timedOut = true;
            }
        };
        // The run, then the demo copy it started (its progress, lines and result belong to the
        // run as much as the programming's).
        auto underWay = [&page] { return page.RunUnderWay() || page.DemoCopyActive(); };
        PumpRun(window, underWay, handle, tick);
        while (auto m = window.TryTake()) {
            handle(*m);
        }
        page.CompleteRun();
        errors.WriteTo(view);
        view.Render(monitor, deviceCount, bytes, platform::TickCount(), true);
        view.ClearBars();

        // The summary, from the records the page made of the run.
        const std::vector<RunRecord>& records = page.Records();
        allOk = !records.empty();
        std::printf("\n%-4s %-8s %-8s %-9s %-6s %s\n", "Dev", "Result", "Boot", "Resource",
                    "Loader", "DevId / message");
        for (const RunRecord& r : records) {
            allOk = allOk && r.ok;
            const char* result = r.ok        ? (r.verified ? "verified" : "ok")
                                 : r.stopped ? "STOPPED"
                                             : "FAILED";
            std::printf("%-4d %-8s %-8s %-9s %d/%d    %s\n", r.device, result,
                        Seconds(r, "boot").c_str(), Seconds(r, "resource").c_str(),
                        r.loaderLevel.value_or(0), r.loaderClass.value_or(0),
                        r.ok ? r.devId.c_str() : r.message.c_str());
        }
        if (options.continuous && !refused) {
            std::printf("%s\n", station::ShiftLine(page.Shift()).c_str());
            deviceCount = static_cast<int>(records.size());
        }
        if (refused) {
            std::printf("(the workspace check refused the run; no device was touched)\n");
        } else if (deviceCount == 0) {
            inaccessible = ReportInaccessibleDevices(stdout);
            std::printf("(no device was programmed)\n");
            for (const std::string& text : monitor.RunMessages()) {
                std::printf("%s\n", text.c_str());
            }
        }
        std::fflush(stdout);
        if (!page.RecordError().empty()) {
            std::fprintf(stderr, "kestrel-cli: %s\n", page.RecordError().c_str());
            recordFailed = true;
        }
    }

    platform::SetMessageBoxHandler(previous);
    if (stopped) {
        context.stopped = true;
        if (!options.continuous) {
            return kExitStopped;
        }
    }
    if (refused || recordFailed) {
        return kExitFailed;
    }
    if (deviceCount == 0) {
        return inaccessible > 0 ? kExitNoAccess : kExitNoDevice;
    }
    return allOk ? kExitOk : kExitFailed;
}
} // namespace

void AddIspCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand("isp", "Program every connected device (an ISP run)");
    auto options = std::make_shared<IspOptions>();
    command
        ->add_option("--mode", options->mode,
                     "1 boot code, 2 resource + binary file, 3 program all (default: isp.ini)")
        ->check(CLI::Range(0, 9));
    command->add_option("--boot", options->boot, "Boot code file (default: isp.ini [Redboot])");
    command->add_option("--resource", options->resource,
                        "Resource image (default: isp.ini [Romfs])");
    command->add_option("--romfs1", options->romfs1,
                        "Second resource image (default: isp.ini [Romfs1])");
    command
        ->add_option("--read-verify", options->readVerify,
                     "1 to read resource pages back (default: isp.ini)")
        ->check(CLI::Range(0, 1));
    command
        ->add_option("--rebuild", options->rebuild,
                     "1 to rebuild the NAND file system (default: isp.ini)")
        ->check(CLI::Range(0, 1));
    command->add_option("--dram", options->dram,
                        "Dram type index, one of config.ini's entries (default: isp.ini)");
    command->add_flag("--verify", options->verify,
                      "Read each unit back right after it is programmed and fail it on any "
                      "difference (default: isp.ini [General] VerifyAfterIsp)");
    command->add_option("--timeout", options->timeoutSeconds,
                        "Stop the run after this many seconds (default: no limit)");
    command->add_option("--record", options->record,
                        "Run record file (default: isp-runs.jsonl in the home directory)");
    command->add_flag("--no-record", options->noRecord, "Write no run record");
    command->add_flag("--quiet", options->quiet, "No live progress bars");
    command->add_flag("--continuous", options->continuous,
                      "Continuous mode: program every unit as it is plugged in, until Ctrl-C, "
                      "--units or --for (the units under way finish)");
    command
        ->add_option("--units", options->units,
                     "With --continuous: end the shift once this many units have started")
        ->check(CLI::PositiveNumber);
    command
        ->add_option("--for", options->forSeconds,
                     "With --continuous: end the shift after this many seconds")
        ->check(CLI::PositiveNumber);
    command->callback([&context, options] { context.Report(RunIsp(*options, context)); });
}

} // namespace kestrel::cli
