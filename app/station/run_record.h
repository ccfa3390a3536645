#pragma once
// The record of every ISP run for traceability: one JSON object per device per run, one per
// line, appended to "isp-runs.jsonl" in the home directory (beside the INI files). A line holds
// the run's start time (UTC), the program version, the device index, DevId and port (USB serial
// number), the NAND geometry, the loader level and class, the boot device id, the configured boot
// code file and the images written with their SHA-256, the bad blocks found per area, the
// duration of each phase, the demo copy's result when the run made one, the result ("ok",
// "failed", or "stopped" for a device the operator stopped; and, when the unit was read back
// after programming, whether it verified) and its message. Facts that could not be learnt from
// the device are written as null. A unit of continuous mode also carries its "unitMs" (worker
// start to end) and "shift": the shift's start and its counters including this unit (passed,
// failed, unitsPerHour, meanMs, slowestMs, elapsedMs), so a shift's last line holds its totals.

#include "app/station/shift_counters.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrel::station {

inline constexpr const char* kRunRecordFile = "isp-runs.jsonl";

struct NandGeometry {
    std::uint32_t pageSize = 0;
    std::uint32_t pagesPerBlock = 0;
    std::uint32_t blockCount = 0;
};

struct ImageDigest {
    std::string role; // "bootPackage" (the configured boot code file), "boot", "romfs", "romfs1"
    std::string path;
    std::optional<std::uint64_t> bytes;
    std::optional<std::string> sha256; // nullopt when the file could not be read
};

struct RunRecord {
    std::string time;    // start of the run, e.g. "2026-12-07T11:02:03.250Z"
    std::string version; // of the program that ran it
    int mode = 0;
    int device = 0;
    std::string devId;
    std::string port; // the USB serial number, or the port the system derived it from
    std::optional<NandGeometry> geometry;
    std::optional<int> loaderLevel;
    std::optional<int> loaderClass;
    std::optional<int> bootDeviceId;
    std::vector<ImageDigest> images;
    std::vector<std::pair<std::string, std::uint32_t>> badBlocks;   // area, bad blocks found
    std::vector<std::pair<std::string, std::uint32_t>> durationsMs; // phase, milliseconds
    bool ok = false;
    bool stopped = false;            // not ok because the run was stopped
    std::optional<std::string> demo; // the demo copy: "ok", "failed", "not copied"
    std::optional<bool> verified;    // read back after programming: identical or not
    std::string message;
    // Continuous mode only.
    std::optional<std::uint32_t> unitMs;
    std::optional<std::string> shiftStart;
    std::optional<ShiftFigures> shift;
};

// The record as one line of JSON (without the line break).
std::string ToJsonLine(const RunRecord& record);

// Appends the records, one line each; false with a reason when the file cannot be written.
bool AppendRunRecords(const std::string& path, const std::vector<RunRecord>& records,
                      std::string& error);

// The path of the image of the role ("boot", "romfs", "romfs1") that the last record of the
// device with devId in the run-record file names; nullopt when there is none.
std::optional<std::string> LastRecordedImage(const std::string& path, const std::string& devId,
                                             const std::string& role);

// A string as a JSON string literal, quotes included.
std::string JsonString(const std::string& text);

} // namespace kestrel::station
