// kestrel-cli verify: reads the boot area and the resource areas of every device back through
// the device-side readers (vendor page reads, the same on real and simulated devices) and
// compares them with the input files bit for bit. Exit status 0 only when every device matches.

#include "app/station/run_outcome.h"
#include "app/station/run_record.h"
#include "app/station/unit_readback.h"
#include "cli/commands.h"
#include "cli/device_access.h"

#include "app/station/kestrellib_binding.h"
#include "app/station/page_settings.h"
#include "kestrellib/program/boot_exports.h"
#include "kestrellib/program/config_files.h"

#include <cstdio>
#include <memory>

namespace kestrel::cli {

using station::kRunRecordFile;
using station::LastRecordedImage;
namespace {

struct VerifyOptions {
    std::optional<int> mode;
    std::string boot;
    std::string resource;
    std::string romfs1;
};

int RunVerify(const VerifyOptions& options) {
    station::StationLibrary library = station::KestrellibBinding();
    if (library.deviceCount() == 0) {
        library.initDeviceSet();
        library.enumerateDevices();
    }
    station::PageSettings settings = station::LoadPageSettings();
    const int mode = options.mode.value_or(settings.imageType);
    // Paths from isp.ini are taken from the home directory, as the run takes them.
    const std::string bootCode =
        options.boot.empty() ? config::HomePath(settings.bootCodePath) : options.boot;
    const std::string romfs =
        options.resource.empty() ? config::HomePath(settings.resourcePath) : options.resource;
    const std::string romfs1 =
        options.romfs1.empty() ? config::HomePath(settings.romfs1Path) : options.romfs1;
    const bool dual = config::Read(config::isp::kRomfsDualImage) != 0;
    const bool writeRomfs = config::Read(config::isp::kRomfsEnable) != 0;
    const bool writeRomfs1 = config::Read(config::isp::kRomfs1Enable) != 0;

    const int count = library.deviceCount();
    if (count == 0) {
        std::printf("No device to verify.\n");
        return ReportInaccessibleDevices(stdout) > 0 ? kExitNoAccess : kExitNoDevice;
    }
    // Each device is compared with the boot image its last run wrote (the run record names it);
    // without a record, with the image its own loader selects from the boot code file.
    const std::string recordPath = config::FilePath(kRunRecordFile);
    auto bootImageOf = [&](int index, void* handle, int& result) {
        result = 0;
        if (options.boot.empty()) {
            if (auto recorded = LastRecordedImage(recordPath, library.deviceId(index), "boot")) {
                return *recorded;
            }
        }
        IspJob probe{};
        probe.hDevice = handle;
        probe.devIndex = index;
        probe.redbootPath = probe.romfsPath = probe.romfs1Path = probe.devId = "";
        return program::GetRedbootPath(probe, bootCode, result);
    };
    bool allOk = true;
    for (int i = 0; i < count; ++i) {
        void* handle = library.deviceHandle(i);
        station::ReadBackFiles files{mode, {}, romfs, romfs1, writeRomfs, dual, writeRomfs1};
        if (mode == 1 || mode == 3) {
            int bootResult = 0;
            files.boot = bootImageOf(i, handle, bootResult);
            if (bootResult == -1) {
                files.boot.clear();
            }
        }
        const station::ReadBackResult result = station::ReadBackUnit(i, handle, files);
        // The DevId and the port name the device whatever its index: the index moves when an
        // earlier device left the set during the run, and the units of a batch share one DevId.
        std::printf("Device %d (%s, port %s): %s -> %s\n", i, library.deviceId(i).c_str(),
                    station::DevicePort(i).c_str(), result.text.c_str(),
                    result.identical ? "VERIFIED" : "MISMATCH");
        allOk = allOk && result.identical;
    }
    std::fflush(stdout);
    return allOk ? kExitOk : kExitFailed;
}

} // namespace

void AddVerifyCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand(
        "verify", "Read each device's boot and resource areas back and compare with the files");
    auto options = std::make_shared<VerifyOptions>();
    command->add_option("--mode", options->mode,
                        "What the run wrote: 1, 2 or 3 (default: isp.ini)");
    command->add_option("--boot", options->boot, "Boot code file (default: isp.ini [Redboot])");
    command->add_option("--resource", options->resource,
                        "Resource image (default: isp.ini [Romfs])");
    command->add_option("--romfs1", options->romfs1, "Second resource image (default: isp.ini)");
    command->callback([&context, options] {
        if (!context.stopped) {
            context.Report(RunVerify(*options));
        }
    });
}

} // namespace kestrel::cli
