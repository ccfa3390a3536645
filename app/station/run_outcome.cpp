#include "app/station/run_outcome.h"

#include "app/station/device_facts.h"
#include "app/station/sha256.h"
#include "app/station/sim_host_errors.h"
#include "app/station/unit_readback.h"
#include "kestrellib/device/device_set.h"
#include "platform/clock/clock.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace kestrel::station {
namespace {

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

// The instance part of an interface path; "" when it has none.
std::string InstanceOf(const std::string& path) {
    const std::size_t first = path.find('#');
    const std::size_t second = first == std::string::npos ? first : path.find('#', first + 1);
    const std::size_t third = second == std::string::npos ? second : path.find('#', second + 1);
    if (third == std::string::npos) {
        return {};
    }
    return path.substr(second + 1, third - second - 1);
}

// The port of the unit the job programmed, from the job's own handle, so a device that moved down
// the device set (an earlier one left during the run) still names its own port.
std::string PortOf(void* handle) {
    return InstanceOf(device::DevicePathOf(handle));
}

const char* Text(const char* text) {
    return text != nullptr ? text : "";
}

} // namespace

std::string DevicePort(int index) {
    return InstanceOf(device::DevicePathAt(index));
}

std::vector<ImageDigest> RunImages(const RunDescription& run, const IspJob& job) {
    std::vector<ImageDigest> images;
    if (run.mode == 1 || run.mode == 3) {
        images.push_back(Digest("bootPackage", run.bootPackagePath));
        images.push_back(Digest("boot", Text(job.redbootPath)));
    }
    if (run.mode == 2 || run.mode == 3) {
        if (job.writeRomfs) {
            images.push_back(Digest("romfs", Text(job.romfsPath)));
        }
        if (job.writeRomfs1) {
            images.push_back(Digest("romfs1", Text(job.romfs1Path)));
        }
    }
    return images;
}

RunRecord RecordUnit(const RunDescription& run, const std::vector<ImageDigest>& images,
                     const IspJob& job, int index, const RunMonitor& monitor) {
    const DeviceProgress d = monitor.Device(index);
    RunRecord r;
    r.time = run.time;
    r.version = kProgramVersion;
    r.mode = run.mode;
    r.device = index;
    r.devId = Text(job.devId);
    r.port = run.readDevices ? PortOf(job.hDevice) : std::string();
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
    const std::string hostErrors = SimulatedHostErrors(job);
    r.ok = monitor.Succeeded(index, run.mode) && hostErrors.empty();
    r.stopped = monitor.Stopped(index, run.mode);
    r.message = monitor.Explanation(index, run.mode);
    if (!hostErrors.empty()) {
        r.message = r.message.empty() ? hostErrors : r.message + " | " + hostErrors;
    }
    if (r.ok && run.readDevices) {
        // Only a device that answered is asked again, so a failed one costs no retries.
        AddDeviceFacts(index, job, r);
    }
    if (r.ok && run.readDevices && run.readBack) {
        const ReadBackFiles files{run.mode,
                                  Text(job.redbootPath),
                                  Text(job.romfsPath),
                                  Text(job.romfs1Path),
                                  job.writeRomfs != 0,
                                  run.dualImage,
                                  job.writeRomfs1 != 0};
        const ReadBackResult back = ReadBackUnit(index, job.hDevice, files);
        r.verified = back.identical;
        if (!back.identical) {
            r.ok = false;
            r.message = "read back after programming: " + back.text;
        }
    }
    if (run.demoCopy && r.ok) {
        // The demo copy starts once every unit succeeded; each drive's copy is part of its
        // unit's result.
        r.demo = d.demo.succeeded ? "ok" : d.demo.failed ? "failed" : "not copied";
        r.ok = d.demo.succeeded;
        if (!r.ok && r.message.empty()) {
            const std::vector<std::string> runMessages = monitor.RunMessages();
            r.message = runMessages.empty() ? "the demo copy " + *r.demo : runMessages.front();
        }
    }
    return r;
}

std::vector<RunRecord> RecordRun(const RunDescription& run, std::span<const IspJob> jobs,
                                 const RunMonitor& monitor) {
    const std::vector<ImageDigest> images =
        jobs.empty() ? std::vector<ImageDigest>{} : RunImages(run, jobs.front());
    std::vector<RunRecord> records;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        records.push_back(RecordUnit(run, images, jobs[i], static_cast<int>(i), monitor));
    }
    return records;
}

std::string RunEndedLine(const std::vector<RunRecord>& records) {
    int passed = 0;
    int failed = 0;
    int stopped = 0;
    std::string failedNames;
    std::string stoppedNames;
    auto add = [](std::string& names, int device) {
        names += (names.empty() ? "" : ", ") + ("Dev" + std::to_string(device));
    };
    for (const RunRecord& r : records) {
        if (r.ok) {
            ++passed;
        } else if (r.stopped) {
            ++stopped;
            add(stoppedNames, r.device);
        } else {
            ++failed;
            add(failedNames, r.device);
        }
    }
    std::string line =
        "Run ended: " + std::to_string(passed) + " passed, " + std::to_string(failed) + " failed";
    if (failed > 0) {
        line += " (" + failedNames + ")";
    }
    // Units the operator stopped are named apart: nothing is known to be wrong with them.
    if (stopped > 0) {
        line += ", " + std::to_string(stopped) + " stopped (" + stoppedNames + ")";
    }
    return line + "\n";
}

std::string RunTimeNow() {
    const platform::UtcTime t = platform::SystemTimeUtc();
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.milliseconds);
    return text;
}

} // namespace kestrel::station
