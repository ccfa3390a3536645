#pragma once
// The workspace check: the home directory's INI files and the images they name, checked without
// touching a device, each finding saying whether a run would fail on it. kestrel-cli check
// prints it; an ISP run performs it before the first command to any device and does not start
// when it finds a failure.

#include "app/station/check_report.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::station {

struct WorkspaceCheckOptions {
    std::optional<int> mode; // run mode to check for; isp.ini's [General] ImageType by default
    // The block geometry resource areas are measured in; the last decoded chip's by default.
    std::optional<std::uint32_t> pageSize;
    std::optional<std::uint32_t> pagesPerBlock;
    // The images of the run when they differ from isp.ini's names (a run given its files for
    // itself); home-relative names as in isp.ini.
    std::optional<std::string> bootCode;
    std::optional<std::string> romfs;
    std::optional<std::string> romfs1;
};

// Reports every finding; returns the number of failures (0: a run may start).
int CheckWorkspace(const WorkspaceCheckOptions& options, CheckReport& report);

} // namespace kestrel::station
