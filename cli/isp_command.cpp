// kestrel-cli isp: one ISP run on the connected devices (or simulated ones), shown live, with a
// summary per device and one run-record line per device. Exit status 0 only when every device
// succeeded; a run that finds no device fails with kExitNoDevice.
//
// When the run has a demo copy (isp.ini [Burn-D]), the command waits for it too: its progress
// and lines are shown, and each drive's result is part of its device's result and record.
//
// Ctrl-C or SIGTERM asks every worker to stop at its next safe point (the library's stop
// requests) and the demo copy to stop looking for drives; the run then ends as usual, with the
// summary and the run record, devices not done marked STOPPED, and the exit status
// kExitStopped. A second Ctrl-C ends the process at once.

#include "cli/commands.h"
#include "cli/device_access.h"
#include "cli/device_facts.h"
#include "cli/run_monitor.h"
#include "cli/run_pump.h"
#include "cli/run_record.h"
#include "cli/sha256.h"
#include "cli/sim_host_errors.h"
#include "cli/terminal_view.h"

#include "app/station/isp_page.h"
#include "app/station/kestrellib_binding.h"
#include "kestrellib/program/config_files.h"
#include "kestrellib/program/config_overrides.h"
#include "platform/clock/clock.h"
#include "platform/interrupt/interrupt.h"
#include "platform/message_box/message_box.h"
#include "platform/terminal/terminal.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>

namespace kestrel::cli {
namespace {

struct IspOptions {
    std::optional<int> mode;
    std::string boot;
    std::string resource;
    std::string romfs1;
    std::optional<int> readVerify;
    std::optional<int> rebuild;
    std::optional<int> dram;
    double timeoutSeconds = 0;
    std::string record;
    bool noRecord = false;
    bool quiet = false;
};

std::string IsoTime(const platform::UtcTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.milliseconds);
    return text;
}

std::uint64_t FileBytes(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : size;
}

ImageDigest Digest(const std::string& role, const std::string& path) {
    ImageDigest digest{role, path, std::nullopt, std::nullopt};
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec) {
        digest.bytes = size;
    }
    digest.sha256 = Sha256OfFile(path);
    return digest;
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
    RunMonitor monitor;
    // Message boxes are raised on any thread; their texts are written by the loop thread,
    // above the bars.
    ErrorLines errors;
    platform::MessageBoxHandler previous = platform::SetMessageBoxHandler(
        [&monitor, &errors](const std::string& text, const std::string&) {
            monitor.AddMessageBox(text);
            errors.Add(text);
        });
    // Ctrl-C or SIGTERM: the first asks the run to stop at a safe point, the second ends the
    // process at once.
    const platform::InterruptWatch interrupts;

    station::StationLibrary library = station::KestrellibBinding();
    library.initDeviceSet();
    library.enumerateDevices();

    const bool live = !options.quiet && platform::StdoutIsTerminal();
    TerminalView view(std::cout, live, platform::TerminalColumns(), platform::TerminalRows());
    view.SetErrorStream(std::cerr);
    platform::QueueSink window;
    int deviceCount = 0;
    int inaccessible = 0; // devices of the model present but not usable
    PhaseBytes bytes;
    std::string runTime;
    int mode = 3;
    std::vector<RunRecord> records;
    bool allOk = false;
    bool stopped = false; // by the operator (Ctrl-C) or the system (SIGTERM)
    bool demoWanted = false;
    {
        station::IspPage page(view, library, window, &window);
        // The demo copy's last drive closes every device when it ends; here that waits until
        // the devices have been read back for the run record.
        station::DemoCopyLibrary demoLibrary = station::RealDemoCopyLibrary();
        const auto closeAllDevice = demoLibrary.closeAllDevice;
        std::atomic<bool> closeAsked{false};
        demoLibrary.closeAllDevice = [&closeAsked](void*) { closeAsked.store(true); };
        page.SetDemoCopyLibrary(demoLibrary);
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
        const station::PathBoxes typed{
            options.boot.empty() ? settings.bootCodePath : FromCurrentDirectory(options.boot),
            options.resource.empty() ? settings.resourcePath
                                     : FromCurrentDirectory(options.resource),
            settings.demoDir};
        mode = settings.imageType;
        view.SetRunMode(mode);
        demoWanted =
            settings.copyDemo != 0 && station::CountFiles(config::HomePath(settings.demoDir)) > 0;
        if (demoWanted) {
            view.SetDemoFiles(static_cast<std::uint32_t>(
                station::CountFiles(config::HomePath(settings.demoDir))));
        }

        auto handle = [&](const platform::WindowMessage& m) {
            monitor.Observe(m, platform::TickCount());
            page.HandleMessage(m);
        };
        page.RefreshTitle();
        while (auto m = window.TryTake()) {
            handle(*m);
        }
        std::cout << view.Title() << "\n";
        std::cout.flush();

        runTime = IsoTime(platform::SystemTimeUtc());
        page.StartIsp(typed, station::IspPage::SettingsFiles::kLeaveUnchanged);
        errors.WriteTo(view);
        deviceCount = page.JobCount();
        if (deviceCount > 0) {
            bytes.boot = FileBytes(page.Job(0).redbootPath);
            const std::uint64_t romfs = FileBytes(page.Job(0).romfsPath);
            bytes.resource = (page.Job(0).writeRomfs ? romfs : 0) *
                                 (config::Read(config::isp::kRomfsDualImage) != 0 ? 2 : 1) +
                             (page.Job(0).writeRomfs1 ? FileBytes(page.Job(0).romfs1Path) : 0);
        }
        const std::uint32_t start = platform::TickCount();
        bool timedOut = false;
        auto tick = [&] {
            const std::uint32_t now = platform::TickCount();
            errors.WriteTo(view);
            if (!stopped && interrupts.Requested()) {
                stopped = true;
                view.AppendError(kStoppingText);
                monitor.StopRequested(deviceCount);
                page.RequestStop();
            }
            view.Render(monitor, deviceCount, bytes, now);
            if (!timedOut && !stopped && options.timeoutSeconds > 0 &&
                now - start > static_cast<std::uint32_t>(options.timeoutSeconds * 1000)) {
                char text[128];
                std::snprintf(text, sizeof text,
                              "kestrel-cli: the run took longer than %g s; stopping it",
                              options.timeoutSeconds);
                view.AppendError(text);
                monitor.AddMessageBox("the run was stopped after its time limit");
                page.StopAndJoin();
                timedOut = true;
            }
        };
        // The run, then the demo copy it started (its progress, lines and result belong to the
        // run as much as the programming's).
        auto underWay = [&page] { return page.RunUnderWay() || page.DemoCopyActive(); };
        PumpRun(window, underWay, handle, tick);
        errors.WriteTo(view);
        view.Render(monitor, deviceCount, bytes, platform::TickCount(), true);
        view.ClearBars();

        // The summary and the run record.
        allOk = deviceCount > 0;
        std::vector<ImageDigest> images;
        if (deviceCount > 0) {
            const IspJob& job = page.Job(0);
            if (mode == 1 || mode == 3) {
                images.push_back(Digest("boot", job.redbootPath));
            }
            if (mode == 2 || mode == 3) {
                if (job.writeRomfs) {
                    images.push_back(Digest("romfs", job.romfsPath));
                }
                if (job.writeRomfs1) {
                    images.push_back(Digest("romfs1", job.romfs1Path));
                }
            }
        }
        std::printf("\n%-4s %-8s %-8s %-9s %-6s %s\n", "Dev", "Result", "Boot", "Resource",
                    "Loader", "DevId / message");
        for (int i = 0; i < deviceCount; ++i) {
            const IspJob& job = page.Job(i);
            const DeviceProgress d = monitor.Device(i);
            // A simulated device that recorded a host error was driven wrongly, whatever the
            // procedures reported: a real device would have refused or misread the same.
            const std::string hostErrors = SimulatedHostErrors(job);
            bool ok = monitor.Succeeded(i, mode) && hostErrors.empty();
            RunRecord r;
            r.time = runTime;
            r.mode = mode;
            r.device = i;
            r.devId = job.devId;
            r.loaderLevel = job.loaderLevel;
            r.loaderClass = job.loaderClass;
            r.images = images;
            if (d.boot.succeeded || d.boot.failed) {
                r.durationsMs.emplace_back("boot", d.boot.elapsedMs);
            }
            if (d.rebuild.succeeded || d.rebuild.failed) {
                r.durationsMs.emplace_back("rebuild", d.rebuild.elapsedMs);
            }
            if (d.resource.succeeded || d.resource.failed) {
                r.durationsMs.emplace_back("resource", d.resource.elapsedMs);
            }
            if (d.demo.succeeded || d.demo.failed) {
                r.durationsMs.emplace_back("demo", d.demo.elapsedMs);
            }
            if (ok) {
                // Only a device that answered is asked again, so a failed device costs no
                // further retries here.
                AddDeviceFacts(i, job, r);
            }
            const bool deviceStopped = monitor.Stopped(i, mode);
            if (demoWanted && ok) {
                // The demo copy starts once every device succeeded; each drive's copy is part
                // of its device's result.
                r.demo = d.demo.succeeded ? "ok" : d.demo.failed ? "failed" : "not copied";
                ok = d.demo.succeeded;
            }
            allOk = allOk && ok;
            r.ok = ok;
            r.stopped = deviceStopped;
            r.message = monitor.Explanation(i, mode);
            if (!hostErrors.empty()) {
                r.message = r.message.empty() ? hostErrors : r.message + " | " + hostErrors;
            }
            if (r.message.empty() && !ok) {
                const std::vector<std::string> run = monitor.RunMessages();
                r.message = run.empty() ? "the demo copy " + *r.demo : run.front();
            }
            records.push_back(r);
            auto seconds = [](const Phase& p) {
                char text[16];
                if (!p.succeeded && !p.failed) {
                    return std::string("-");
                }
                std::snprintf(text, sizeof text, "%.1f s", p.elapsedMs / 1000.0);
                return std::string(text);
            };
            std::printf("%-4d %-8s %-8s %-9s %d/%d    %s\n", i,
                        ok              ? "ok"
                        : deviceStopped ? "STOPPED"
                                        : "FAILED",
                        seconds(d.boot).c_str(), seconds(d.resource).c_str(), job.loaderLevel,
                        job.loaderClass, ok ? job.devId : r.message.c_str());
        }
        if (deviceCount == 0) {
            inaccessible = ReportInaccessibleDevices(stdout);
            std::printf("(no device was programmed)\n");
            for (const std::string& text : monitor.RunMessages()) {
                std::printf("%s\n", text.c_str());
            }
        }
        std::fflush(stdout);
        if (closeAsked.load()) {
            closeAllDevice(nullptr);
        }
    }

    if (!options.noRecord && !records.empty()) {
        const std::string path =
            options.record.empty() ? config::FilePath(kRunRecordFile) : options.record;
        std::string error;
        if (!AppendRunRecords(path, records, error)) {
            std::fprintf(stderr, "kestrel-cli: %s\n", error.c_str());
            allOk = false;
        }
    }
    platform::SetMessageBoxHandler(previous);
    if (stopped) {
        context.stopped = true;
        return kExitStopped;
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
    command->add_option("--timeout", options->timeoutSeconds,
                        "Stop the run after this many seconds (default: no limit)");
    command->add_option("--record", options->record,
                        "Run record file (default: isp-runs.jsonl in the home directory)");
    command->add_flag("--no-record", options->noRecord, "Write no run record");
    command->add_flag("--quiet", options->quiet, "No live progress bars");
    command->callback([&context, options] { context.Report(RunIsp(*options, context)); });
}

} // namespace kestrel::cli
