#include "app/station/workspace_check.h"

#include "app/station/boot_code_check.h"
#include "app/station/ini_value_check.h"
#include "app/station/resource_image_check.h"
#include "kestrellib/device/nand_info.h"
#include "kestrellib/device/nand_layout.h"
#include "kestrellib/program/boot_code.h"
#include "kestrellib/program/boot_data_space.h"
#include "kestrellib/program/boot_header.h"
#include "kestrellib/program/boot_package.h"
#include "kestrellib/program/config_files.h"
#include "kestrellib/program/index_area.h"
#include "kestrellib/program/redboot_select.h"
#include "platform/files/files.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kestrel::station {
namespace {

namespace isp = config::isp;

// Boot device ids 0-7 with 7 more for loader class 1: every patch section a device can use.
constexpr int kPatchSections = 15;

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
        if (file.empty() || !platform::RegularFileExists(config::HomePath(file))) {
            report.Failed("RomPatch.ini [" + section + "]: patch program \"" + file + "\" (" +
                          config::HomePath(file) + ") is missing; the patch would not be started");
        }
    }
    report.Ok("RomPatch.ini: " + std::to_string(patches) + " patch sections enabled");
}

// The chip the station decoded last (profile.ini), when there is one.
struct LastChip {
    bool known = false;
    AreaGeometry geometry;
    int blocks = 0;
};

LastChip ReadLastChip() {
    LastChip chip;
    const int pageSize = config::Read(config::profile::kPageSize);
    const int pagesPerBlock = config::Read(config::profile::kPageNoPerBlk);
    if (config::Read(config::profile::kEnable) != 0 && pageSize > 0 && pagesPerBlock > 0) {
        chip.known = true;
        chip.geometry = {static_cast<std::uint32_t>(pageSize),
                         static_cast<std::uint32_t>(pagesPerBlock)};
        chip.blocks = config::Read(config::profile::kTotalBlkNo);
    }
    return chip;
}

AreaGeometry ChooseGeometry(const WorkspaceCheckOptions& options, const LastChip& chip,
                            CheckReport& report) {
    AreaGeometry geometry = chip.known ? chip.geometry : AreaGeometry{};
    std::string source = chip.known ? "of the last device decoded (profile.ini)"
                                    : "assumed (--page-size and --pages-per-block choose others)";
    if (options.pageSize || options.pagesPerBlock) {
        geometry.pageSize = options.pageSize.value_or(geometry.pageSize);
        geometry.pagesPerBlock = options.pagesPerBlock.value_or(geometry.pagesPerBlock);
        source = "given";
    }
    report.Note("areas measured in blocks of " + std::to_string(geometry.pagesPerBlock) +
                " pages of " + std::to_string(geometry.pageSize) + " bytes, " + source);
    return geometry;
}

// The NAND layout a run would compute in the geometry, against the last decoded chip's block
// count when there is one, else against the most blocks a layout can address.
device::NandLayout CheckLayout(const AreaGeometry& geometry, const LastChip& chip,
                               CheckReport& report) {
    const bool chipKnown = chip.known && chip.blocks > 0;
    device::NandInfo info{};
    info.pageSize = static_cast<std::uint16_t>(geometry.pageSize);
    info.pagesPerBlock = static_cast<std::uint16_t>(geometry.pagesPerBlock);
    info.blockCount = static_cast<std::uint16_t>(chipKnown ? chip.blocks : 0xFFFF);
    device::NandLayout layout{};
    layout.bootDeviceId = static_cast<std::uint8_t>(isp::BootDeviceId());
    std::string error;
    if (device::ComputeNandLayout(layout, info, &error) != 0) {
        report.Failed("layout: " + error + (chipKnown ? " (the last device decoded)" : ""));
        return layout;
    }
    const std::string text = "layout: the boot, Romfs, backup, Romfs1 and file-system areas take " +
                             std::to_string(layout.restStart) + " blocks";
    if (chipKnown) {
        report.Ok(text + " of the last device's " + std::to_string(chip.blocks));
    } else {
        report.Note(text + "; the chip must have at least that many");
    }
    return layout;
}

void CheckResources(const WorkspaceCheckOptions& options, const AreaGeometry& geometry,
                    const device::NandLayout& layout, CheckReport& report) {
    if (config::Read(isp::kRomfsEnable) != 0) {
        CheckResourceImage({"Romfs",
                            config::HomePath(options.romfs.value_or(config::Read(isp::kRomfsName))),
                            isp::RomfsMaxSizeMb(), layout.romfsBlocks, ImageEncoding::kPlain},
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
    CheckResourceImage({"Romfs1",
                        config::HomePath(options.romfs1.value_or(config::Read(isp::kRomfs1Name))),
                        isp::Romfs1MaxSizeMb(), layout.romfs1Blocks, encoding},
                       geometry, report);
}

// Where a factory system-information record puts the boot data: the header block follows the
// record's block by its offset (2 and 2), the index block the header block, the data the index
// block.
constexpr std::uint32_t kDataStartBlock = 2 + 2 + 2;
constexpr std::uint32_t kLargeBootArea = 64;
constexpr std::uint32_t kSmallBootArea = 6; // boot device ids 2, 3 and 6

// The boot images against the boot area, and their index slots, in the geometry the resource
// areas are measured in. A finding in an assumed geometry is a note: the chip is not known.
void CheckBootImageRoom(const std::vector<CheckedBootImage>& images, const AreaGeometry& geometry,
                        bool geometryKnown, CheckReport& report) {
    const std::uint32_t p = geometry.pageSize;
    const std::uint32_t b = geometry.pagesPerBlock;
    if (p == 0 || b == 0) {
        return;
    }
    const std::uint32_t eraseMapBlocks =
        std::max<std::uint32_t>(1, program::kEraseMapSpan / (p * b));
    const int wantedId = isp::BootDeviceId(); // 7: devices keep their own
    const bool smallAreaWanted = wantedId == 2 || wantedId == 3 || wantedId == 6;
    const std::string where = " with " + std::to_string(b) + " pages of " + std::to_string(p) +
                              " bytes per block" + (geometryKnown ? "" : " (assumed)");
    auto problem = [&](const std::string& text) {
        if (geometryKnown) {
            report.Failed(text);
        } else {
            report.Note(text);
        }
    };
    for (const CheckedBootImage& image : images) {
        const std::uint64_t pages = program::BootDataPages(image.blocks, p);
        bool fits = true;
        if (!smallAreaWanted) {
            const program::BootDataSpace space = program::MeasureBootDataSpace(
                std::uint64_t{kDataStartBlock} * b, kLargeBootArea, eraseMapBlocks, b, false);
            if (pages > space.usablePages) {
                problem(image.label + ": refused" + where + ": " +
                        program::BootDataSpaceMessage(pages, space, false));
                fits = false;
            }
        }
        const program::BootDataSpace small = program::MeasureBootDataSpace(
            std::uint64_t{kDataStartBlock} * b, kSmallBootArea, eraseMapBlocks, b, false);
        if (pages > small.usablePages) {
            const std::string text = image.label + ": devices whose boot device id is 2, 3 or 6 " +
                                     "have a boot area of 6 blocks and refuse it: " +
                                     program::BootDataSpaceMessage(pages, small, false);
            if (smallAreaWanted) {
                report.Failed(text + " ([BootDevice] deviceid " + std::to_string(wantedId) + ")");
                fits = false;
            } else {
                report.Note(text);
            }
        }
        const program::SlotPlan plan =
            program::PlanIndexSlots(image.blocks, p, program::UsableIndexSlots(p, b));
        if (plan.problem != program::SlotPlan::Problem::kNone) {
            std::string message = program::SlotPlanMessage(plan);
            while (!message.empty() && message.back() == '\n') {
                message.pop_back();
            }
            problem(image.label + ": refused" + where + ": " + message);
            fits = false;
        } else if (!plan.unreachable.empty()) {
            report.Note(image.label + ": " + program::UnreachableNote(plan));
        }
        if (fits) {
            report.Ok(image.label + ": " + std::to_string(pages) + " data pages fit the boot area" +
                      where);
        }
    }
}

} // namespace

int CheckWorkspace(const WorkspaceCheckOptions& options, CheckReport& report) {
    if (!IniPresent(config::kIspIni)) {
        report.Failed("isp.ini: missing (\"Can't found isp.ini\"); it names every image");
        return report.Failures();
    }
    int mode = options.mode.value_or(config::Read(isp::kImageType));
    if (mode != 1 && mode != 2) {
        mode = 3;
    }
    // Every value of the INI files against its key's type and range, with file and line.
    for (const IniFinding& finding : CheckIniValues(mode)) {
        if (finding.failed) {
            report.Failed(finding.text);
        } else {
            report.Note(finding.text);
        }
    }
    report.Ok("isp.ini: run mode " + std::to_string(mode) +
              (mode == 1   ? " (boot code)"
               : mode == 2 ? " (resources)"
                           : " (program all)"));

    const LastChip chip = ReadLastChip();
    const AreaGeometry geometry = ChooseGeometry(options, chip, report);
    const bool geometryKnown = chip.known || options.pageSize || options.pagesPerBlock;
    if (mode != 2) {
        CheckConfigIni(report);
        const std::string bootName = options.bootCode.value_or(config::Read(isp::kRedbootName));
        if (bootName.empty()) {
            report.Failed("boot code: [Redboot] name is empty");
        } else {
            const std::string bootCode = config::HomePath(bootName);
            std::vector<CheckedBootImage> images;
            CheckBootCodeFile(bootCode, false, report, &images);
            CheckBootImageRoom(images, geometry, geometryKnown, report);
            if (program::LooksLikeBootPackage(bootCode)) {
                const std::string extracted = program::ExtractedImagePath(bootCode);
                if (extracted != program::PackageDirectory(bootCode) + program::kRedbootFileName) {
                    report.Note("boot code: the folder of " + bootCode +
                                " takes no new file; the run extracts the boot image to " +
                                extracted);
                }
            }
        }
    }
    if (mode != 1) {
        CheckRomPatchIni(report);
        const device::NandLayout layout = CheckLayout(geometry, chip, report);
        CheckResources(options, geometry, layout, report);
    }
    return report.Failures();
}

} // namespace kestrel::station
