// kestrel-cli verify: reads the boot area and the resource areas of every device back through
// the device-side readers (vendor page reads, the same on real and simulated devices) and
// compares them with the input files bit for bit. Exit status 0 only when every device matches.

#include "cli/commands.h"
#include "cli/device_access.h"
#include "cli/device_facts.h"

#include "app/station/kestrellib_binding.h"
#include "app/station/page_settings.h"
#include "kestrellib/program/boot_exports.h"
#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/config_files.h"
#include "kestrellib/program/resource_area_record.h"
#include "sim/boot_area_reader.h"
#include "sim/resource_area_reader.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

namespace kestrel::cli {
namespace {

struct VerifyOptions {
    std::optional<int> mode;
    std::string boot;
    std::string resource;
    std::string romfs1;
};

std::optional<std::vector<std::uint8_t>> ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// "ok" or the reason the boot area differs from the boot image file.
std::string VerifyBoot(const DeviceFacts& facts, void* handle, const std::string& imagePath) {
    program::BootImage image;
    if (program::LoadBootImage(imagePath, image) != program::ImageError::kNone) {
        return "the boot image " + imagePath + " cannot be read";
    }
    const device::NandGeometry& chip = facts.geometry;
    sim::FunctionPageSource pages = VendorPages(handle, chip.pageSize);
    const sim::BootAreaGeometry geometry{chip.pageSize, chip.pagesPerBlock, chip.blockCount,
                                         facts.loaderLevel, facts.sysInfoBlock};
    std::string error;
    const auto area = sim::ReadBootArea(pages, geometry, &error);
    if (!area) {
        return "boot area: " + error;
    }
    if (area->subBlocks.size() != image.blocks.size()) {
        return "boot area holds " + std::to_string(area->subBlocks.size()) +
               " sub-blocks, the image " + std::to_string(image.blocks.size());
    }
    for (std::size_t i = 0; i < image.blocks.size(); ++i) {
        if (area->subBlocks[i].data != image.blocks[i].data) {
            return "boot sub-block " + std::to_string(i + 1) + " differs";
        }
    }
    return "ok";
}

std::string VerifyArea(const device::NandLayout& layout, void* handle, std::uint32_t start,
                       std::uint32_t blocks, const std::string& path) {
    const auto file = ReadWhole(path);
    if (!file) {
        return "the image " + path + " cannot be read";
    }
    sim::FunctionPageSource pages = VendorPages(handle, layout.pageSize);
    const sim::ResourceAreaGeometry geometry{layout.pageSize, layout.pagesPerBlock,
                                             layout.pairedPage != 0, start, blocks};
    std::string error;
    const auto area = sim::ReadResourceArea(pages, geometry, &error);
    if (!area) {
        return error;
    }
    if (area->image != *file) {
        return "the image read back differs from " + path;
    }
    return "ok";
}

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
    // The run writes the boot image chosen from device 0 to every device; so does the check.
    std::string bootImage;
    int bootResult = 0;
    if (mode == 1 || mode == 3) {
        IspJob probe{};
        probe.hDevice = library.deviceHandle(0);
        probe.redbootPath = probe.romfsPath = probe.romfs1Path = probe.devId = "";
        bootImage = program::GetRedbootPath(probe, bootCode, bootResult);
    }
    bool allOk = true;
    for (int i = 0; i < count; ++i) {
        void* handle = library.deviceHandle(i);
        const DeviceFacts facts = ReadDeviceFacts(i, handle);
        // The DevId names the device whatever its index: the index moves when an earlier
        // device left the set during the run.
        std::string line = "Device " + std::to_string(i) + " (" + library.deviceId(i) + "):";
        bool ok = true;
        auto note = [&](const std::string& what, const std::string& result) {
            line += " " + what + " " + result + ";";
            ok = ok && result == "ok";
        };
        if (!facts.info || !facts.layout) {
            note("device", facts.error);
        } else {
            if (mode == 1 || mode == 3) {
                note("boot", bootResult == -1 ? "no boot image for this hardware"
                                              : VerifyBoot(facts, handle, bootImage));
            }
            const device::NandLayout& layout = *facts.layout;
            if ((mode == 2 || mode == 3) && writeRomfs) {
                note("romfs",
                     VerifyArea(layout, handle, layout.romfsStart, layout.romfsBlocks, romfs));
                if (dual) {
                    note("romfsBackup", VerifyArea(layout, handle, layout.backupStart,
                                                   layout.backupBlocks, romfs));
                }
            }
            if ((mode == 2 || mode == 3) && writeRomfs1 && !romfs1.empty()) {
                note("romfs1",
                     VerifyArea(layout, handle, layout.romfs1Start, layout.romfs1Blocks, romfs1));
            }
        }
        line.pop_back();
        std::printf("%s -> %s\n", line.c_str(), ok ? "VERIFIED" : "MISMATCH");
        allOk = allOk && ok;
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
