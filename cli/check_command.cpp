// kestrel-cli check: validates the workspace (the home directory's INI files and the images they
// name) without touching a device, and says for each finding whether a run would fail on it.
// Exit status 0 when nothing would fail, 1 otherwise.

#include "cli/boot_code_check.h"
#include "cli/check_report.h"
#include "cli/commands.h"
#include "cli/resource_image_check.h"

#include "kestrellib/program/boot_header.h"
#include "kestrellib/program/config_files.h"
#include "platform/files/files.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace kestrel::cli {
namespace {

namespace isp = config::isp;

// Boot device ids 0-7 with 7 more for loader class 1: every patch section a device can use.
constexpr int kPatchSections = 15;
// Blocks of the file-system area and of the boot area, as the NAND layout reserves them.
constexpr std::uint64_t kFileSystemBlocks = 34;

struct CheckOptions {
    std::optional<int> mode;
    std::optional<std::uint32_t> pageSize;
    std::optional<std::uint32_t> pagesPerBlock;
};

bool IniPresent(const char* name) {
    return platform::RegularFileExists(config::FilePath(name));
}

void CheckConfigIni(CheckReport& report) {
    if (!IniPresent(config::kConfigIni)) {
        report.Failed("config.ini: missing (\"Can't found config.ini\"); the boot code's option "
                      "items and clock entries come from it");
        return;
    }
    const int items = config::Read(config::cfg::kItemNum);
    const int clocks = config::Read(config::cfg::kFreqNum);
    int enabled = 0;
    for (int i = 0; i < std::min(items, program::kMaxConfigItems); ++i) {
        enabled += config::cfg::ItemEnable(i) != 0 ? 1 : 0;
    }
    report.Ok("config.ini: " + std::to_string(items) + " option items (" + std::to_string(enabled) +
              " enabled), " + std::to_string(clocks) + " clock entries");
    if (items > program::kMaxConfigItems) {
        report.Note("config.ini: ItemNum is " + std::to_string(items) + "; only the first " +
                    std::to_string(program::kMaxConfigItems) + " items are written");
    }
    if (clocks > program::kClockEntries) {
        report.Note("config.ini: FreqNum is " + std::to_string(clocks) + "; only the first " +
                    std::to_string(program::kClockEntries) + " clock entries are written");
    }
}

void CheckRomPatchIni(CheckReport& report) {
    if (!IniPresent(config::kRomPatchIni)) {
        report.Note("RomPatch.ini: absent, no patch program is started");
        return;
    }
    const std::string prefix = config::Read(config::rompatch::kItemName);
    int patches = 0;
    for (int n = 0; n < kPatchSections; ++n) {
        const std::string section = config::cfg::IndexedSection(prefix, n);
        if (config::rompatch::PatchEnable(section) == 0) {
            continue;
        }
        ++patches;
        const std::string file = config::rompatch::PatchFileName(section);
        if (file.empty() || !platform::RegularFileExists(config::FilePath(file))) {
            report.Failed("RomPatch.ini [" + section + "]: patch program \"" + file +
                          "\" is missing; the patch would not be started");
        }
    }
    report.Ok("RomPatch.ini: " + std::to_string(patches) + " patch sections enabled");
}

AreaGeometry ChooseGeometry(const CheckOptions& options, CheckReport& report) {
    AreaGeometry geometry;
    std::string source = "assumed (--page-size and --pages-per-block choose others)";
    if (config::Read(config::profile::kEnable) != 0 &&
        config::Read(config::profile::kPageSize) > 0 &&
        config::Read(config::profile::kPageNoPerBlk) > 0) {
        geometry.pageSize = static_cast<std::uint32_t>(config::Read(config::profile::kPageSize));
        geometry.pagesPerBlock =
            static_cast<std::uint32_t>(config::Read(config::profile::kPageNoPerBlk));
        source = "of the last device decoded (profile.ini)";
    }
    if (options.pageSize || options.pagesPerBlock) {
        geometry.pageSize = options.pageSize.value_or(geometry.pageSize);
        geometry.pagesPerBlock = options.pagesPerBlock.value_or(geometry.pagesPerBlock);
        source = "given";
    }
    report.Note("areas measured in blocks of " + std::to_string(geometry.pagesPerBlock) +
                " pages of " + std::to_string(geometry.pageSize) + " bytes, " + source);
    return geometry;
}

// The blocks the configured areas take from the start of the chip; a chip the station last
// decoded is compared with it.
void CheckLayout(const AreaGeometry& geometry, CheckReport& report) {
    const int bootDeviceId = isp::BootDeviceId();
    const std::uint64_t bootBlocks =
        (bootDeviceId == 2 || bootDeviceId == 3 || bootDeviceId == 6) ? 6 : 64;
    const std::uint64_t needed = bootBlocks + 2 * AreaBlocks(isp::RomfsMaxSizeMb(), geometry) +
                                 AreaBlocks(isp::Romfs1MaxSizeMb(), geometry) + kFileSystemBlocks;
    const std::string text = "the boot, Romfs, backup, Romfs1 and file-system areas take " +
                             std::to_string(needed) + " blocks";
    const int chipBlocks = config::Read(config::profile::kTotalBlkNo);
    if (config::Read(config::profile::kEnable) != 0 && chipBlocks > 0) {
        if (needed > static_cast<std::uint64_t>(chipBlocks)) {
            report.Failed("layout: " + text + ", more than the " + std::to_string(chipBlocks) +
                          " of the last device decoded");
        } else {
            report.Ok("layout: " + text + " of the last device's " + std::to_string(chipBlocks));
        }
        return;
    }
    report.Note("layout: " + text + "; the chip must have at least that many");
}

void CheckResources(const AreaGeometry& geometry, CheckReport& report) {
    if (config::Read(isp::kRomfsEnable) != 0) {
        CheckResourceImage(
            {"Romfs", config::Read(isp::kRomfsName), isp::RomfsMaxSizeMb(), ImageEncoding::kPlain},
            geometry, report);
    } else {
        report.Note("Romfs: not written ([Romfs] enable is 0)");
    }
    if (config::Read(isp::kRomfs1Enable) == 0) {
        return;
    }
    ImageEncoding encoding = ImageEncoding::kPlain;
    if (config::Read(isp::kRomfs1Encryption) != 0) {
        encoding = config::Read(isp::kWrapFlag) != 0 ? ImageEncoding::kScrivetWithSkip
                                                     : ImageEncoding::kScrivet;
    }
    CheckResourceImage({"Romfs1", config::Read(isp::kRomfs1Name), isp::Romfs1MaxSizeMb(), encoding},
                       geometry, report);
}

int RunCheck(const CheckOptions& options) {
    CheckReport report;
    const std::string home = std::filesystem::path(config::FilePath("")).parent_path().string();
    std::printf("Workspace %s\n", home.c_str());

    if (!IniPresent(config::kIspIni)) {
        report.Failed("isp.ini: missing (\"Can't found isp.ini\"); it names every image");
        std::printf("1 problem\n");
        return kExitFailed;
    }
    int mode = options.mode.value_or(config::Read(isp::kImageType));
    if (mode != 1 && mode != 2) {
        mode = 3;
    }
    report.Ok("isp.ini: run mode " + std::to_string(mode) +
              (mode == 1   ? " (boot code)"
               : mode == 2 ? " (resources)"
                           : " (program all)"));

    if (mode != 2) {
        CheckConfigIni(report);
        const std::string bootCode = config::Read(isp::kRedbootName);
        if (bootCode.empty()) {
            report.Failed("boot code: [Redboot] name is empty");
        } else {
            CheckBootCodeFile(bootCode, false, report);
        }
    }
    if (mode != 1) {
        CheckRomPatchIni(report);
        const AreaGeometry geometry = ChooseGeometry(options, report);
        CheckLayout(geometry, report);
        CheckResources(geometry, report);
    }

    const int failures = report.Failures();
    if (failures == 0) {
        std::printf("Workspace ok\n");
        return kExitOk;
    }
    std::printf("%d problem%s\n", failures, failures == 1 ? "" : "s");
    return kExitFailed;
}

} // namespace

void AddCheckCommand(CLI::App& app, CommandContext& context) {
    auto* command = app.add_subcommand(
        "check", "Validate the workspace's INI files and images without touching a device");
    auto options = std::make_shared<CheckOptions>();
    command->add_option("--mode", options->mode, "Run mode to check for (default: isp.ini's)")
        ->check(CLI::Range(1, 3));
    command->add_option("--page-size", options->pageSize, "Page size the areas are measured in")
        ->check(CLI::IsMember({512u, 2048u, 4096u, 8192u, 16384u}));
    command->add_option("--pages-per-block", options->pagesPerBlock, "Pages per block")
        ->check(CLI::IsMember({32u, 64u, 128u, 256u, 512u}));
    command->callback([&context, options] { context.Report(RunCheck(*options)); });
}

} // namespace kestrel::cli
