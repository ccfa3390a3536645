#include "app/station/unit_readback.h"

#include "app/station/device_facts.h"
#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/index_area.h"
#include "sim/boot_area_reader.h"
#include "sim/resource_area_reader.h"

#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace kestrel::station {
namespace {

std::optional<std::vector<std::uint8_t>> ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Page reads through the vendor command, counting those the device did not answer, so that a
// device that could not be read back is told apart from one whose content differs.
class CountingPages : public sim::PageSource {
public:
    CountingPages(void* handle, std::uint32_t pageSize) : pages_(VendorPages(handle, pageSize)) {}
    bool ReadPage(std::uint32_t physicalPage, std::span<std::uint8_t> out) override {
        const bool read = pages_.ReadPage(physicalPage, out);
        failed_ += read ? 0 : 1;
        return read;
    }
    // The reason prefixed by what kind of failure it is.
    std::string Explain(const std::string& reason) const {
        return failed_ > 0 ? "could not be read back (" + std::to_string(failed_) +
                                 " page reads failed): " + reason
                           : reason;
    }

private:
    sim::FunctionPageSource pages_;
    std::uint32_t failed_ = 0;
};

// "ok" or the reason the boot area differs from the boot image file. The device reaches only
// the sub-blocks whose index pages no later sub-block replaced; those are what it must hold.
std::string VerifyBoot(const DeviceFacts& facts, void* handle, const std::string& imagePath) {
    program::BootImage image;
    if (program::LoadBootImage(imagePath, image) != program::ImageError::kNone) {
        return "the boot image " + imagePath + " cannot be read";
    }
    const device::NandGeometry& chip = facts.geometry;
    CountingPages pages(handle, chip.pageSize);
    const sim::BootAreaGeometry geometry{chip.pageSize, chip.pagesPerBlock, chip.blockCount,
                                         facts.loaderLevel, facts.sysInfoBlock};
    std::string error;
    const auto area = sim::ReadBootArea(pages, geometry, &error);
    if (!area) {
        return pages.Explain("boot area: " + error);
    }
    std::vector<program::SubHeader> headers;
    for (const auto& block : image.blocks) {
        headers.push_back(block.subHeader);
    }
    const std::vector<bool> reachable = program::ReachableSubBlocks(headers, chip.pageSize);
    std::vector<std::size_t> expected;
    for (std::size_t i = 0; i < image.blocks.size(); ++i) {
        if (reachable[i]) {
            expected.push_back(i);
        }
    }
    if (area->subBlocks.size() != expected.size()) {
        return "boot area holds " + std::to_string(area->subBlocks.size()) +
               " sub-blocks, the image " + std::to_string(expected.size()) +
               " that the device can reach";
    }
    for (std::size_t k = 0; k < expected.size(); ++k) {
        if (area->subBlocks[k].data != image.blocks[expected[k]].data) {
            return "boot sub-block " + std::to_string(expected[k] + 1) + " differs";
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
    CountingPages pages(handle, layout.pageSize);
    const sim::ResourceAreaGeometry geometry{layout.pageSize, layout.pagesPerBlock,
                                             layout.pairedPage != 0, start, blocks};
    std::string error;
    const auto area = sim::ReadResourceArea(pages, geometry, &error);
    if (!area) {
        return pages.Explain(error);
    }
    if (area->image != *file) {
        return "the image read back differs from " + path;
    }
    return "ok";
}

} // namespace

ReadBackResult ReadBackUnit(int index, void* handle, const ReadBackFiles& files) {
    const DeviceFacts facts = ReadDeviceFacts(index, handle);
    ReadBackResult result{true, {}};
    auto note = [&](const std::string& what, const std::string& outcome) {
        result.text += (result.text.empty() ? "" : "; ") + what + " " + outcome;
        result.identical = result.identical && outcome == "ok";
    };
    if (!facts.info || !facts.layout) {
        note("device", facts.error);
        return result;
    }
    const int mode = files.mode;
    if (mode == 1 || mode == 3) {
        note("boot", files.boot.empty() ? "no boot image for this hardware"
                                        : VerifyBoot(facts, handle, files.boot));
    }
    const device::NandLayout& layout = *facts.layout;
    if ((mode == 2 || mode == 3) && files.writeRomfs) {
        note("romfs",
             VerifyArea(layout, handle, layout.romfsStart, layout.romfsBlocks, files.romfs));
        if (files.dual) {
            note("romfsBackup",
                 VerifyArea(layout, handle, layout.backupStart, layout.backupBlocks, files.romfs));
        }
    }
    if ((mode == 2 || mode == 3) && files.writeRomfs1 && !files.romfs1.empty()) {
        note("romfs1",
             VerifyArea(layout, handle, layout.romfs1Start, layout.romfs1Blocks, files.romfs1));
    }
    return result;
}

} // namespace kestrel::station
