#include "app/station/resource_image_check.h"

#include "kestrellib/program/resource_page_plan.h"
#include "kestrellib/romfs/romfs_reader.h"
#include "outside/kzip/kzip.h"
#include "outside/scrivet/scrivet.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace kestrel::station {
namespace {

namespace fs = std::filesystem;

// The Scrivet key and block size the station's builder encodes Romfs1 images with.
constexpr int kScrivetKey = 5;
constexpr int kScrivetBlockSize = 2048;

// A directory of its own below the system's temporary directory, removed with everything in it.
class ScratchDir {
public:
    ScratchDir() {
        std::random_device random;
        std::error_code ec;
        for (int attempt = 0; attempt < 16 && path_.empty(); ++attempt) {
            const fs::path candidate =
                fs::temp_directory_path(ec) / ("kestrel-check-" + std::to_string(random()));
            if (!ec && fs::create_directory(candidate, ec) && !ec) {
                path_ = candidate;
            }
        }
    }
    ~ScratchDir() {
        std::error_code ec;
        if (!path_.empty()) {
            fs::remove_all(path_, ec);
        }
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    bool Ready() const { return !path_.empty(); }
    std::string File(const char* name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

bool StartsCompressed(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char magic[4] = {};
    file.read(magic, sizeof magic);
    return file.gcount() == 4 && std::string(magic, 4) == "FZKZ";
}

std::string MbText(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1 << 20));
    return text;
}

// Undoes the encoding and compression of the image and parses it; the path of what was parsed
// is the image itself when nothing had to be undone.
void CheckParses(const ResourceImageCheck& image, CheckReport& report) {
    ScratchDir scratch;
    std::string current = image.path;
    std::string how;
    if (image.encoding != ImageEncoding::kPlain) {
        const std::string decoded = scratch.File("decoded");
        const int result =
            !scratch.Ready() ? -1
            : image.encoding == ImageEncoding::kScrivet
                ? DecodeFunc(current.c_str(), decoded.c_str(), kScrivetBlockSize, kScrivetKey)
                : DecodeFuncWithSkip(current.c_str(), decoded.c_str(), kScrivetKey);
        if (result != 0) {
            report.Failed(image.label + ": " + image.path + " can't be decoded");
            return;
        }
        current = decoded;
        how += ", Scrivet-encoded";
    }
    if (StartsCompressed(current)) {
        const std::string expanded = scratch.File("expanded");
        if (!scratch.Ready() || file_decompress(current.c_str(), expanded.c_str()) != 0) {
            report.Failed(image.label + ": " + image.path + " begins \"FZKZ\" but doesn't expand");
            return;
        }
        current = expanded;
        how += ", compressed";
    }
    std::string error;
    const auto romfs = romfs::RomfsImage::Load(current, &error);
    if (!romfs || !romfs->Check(&error)) {
        report.Failed(image.label + ": " + image.path + " is not a sound ROMFS image" +
                      (how.empty() ? "" : " (read as" + how.substr(1) + ")") + ": " + error);
        return;
    }
    report.Ok(image.label + ": " + image.path + ": ROMFS image" + how + ", " +
              std::to_string(romfs->NodeCount()) + " nodes, volume \"" + romfs->VolumeName() +
              "\"");
}

void CheckFits(const ResourceImageCheck& image, std::uint64_t length, const AreaGeometry& geometry,
               CheckReport& report) {
    const std::uint64_t blocks = image.areaBlocks;
    const std::uint32_t blockBytes = geometry.BlockBytes();
    const std::string area = image.label + " area of " + std::to_string(image.areaMb) + " MB (" +
                             std::to_string(blocks) + " blocks of " +
                             std::to_string(blockBytes / 1024) + " KiB)";
    if (blocks < 2) {
        report.Failed(image.label + ": the " + area + " can't hold an image");
        return;
    }
    if (program::MapPageCount(static_cast<std::uint16_t>(std::min<std::uint64_t>(blocks, 0xFFFF)),
                              geometry.pageSize) >= geometry.pagesPerBlock) {
        report.Failed(image.label + ": the block map of the " + area +
                      " doesn't fit into one block");
        return;
    }
    const std::uint64_t needed = program::DataBlockCount(length, blockBytes);
    const std::uint64_t room = blocks - 1; // the first good block holds the record and map
    if (needed > room || length > UINT32_MAX) {
        report.Failed(image.label + ": " + MbText(length) + " need " + std::to_string(needed) +
                      " blocks, more than the " + std::to_string(room) + " the " + area +
                      " holds after its record block (\"Rom image is to long!\")");
        return;
    }
    report.Ok(image.label + ": " + MbText(length) + " fit the " + area + ", " +
              std::to_string(room - needed) + " blocks to spare for bad blocks");
}

} // namespace

void CheckResourceImage(const ResourceImageCheck& image, const AreaGeometry& geometry,
                        CheckReport& report) {
    std::error_code ec;
    if (image.path.empty()) {
        report.Failed(image.label + ": no image is named");
        return;
    }
    if (!fs::is_regular_file(image.path, ec)) {
        report.Failed(image.label + ": " + image.path + " is missing");
        return;
    }
    const std::uint64_t length = fs::file_size(image.path, ec);
    if (ec) {
        report.Failed(image.label + ": " + image.path + " can't be read");
        return;
    }
    CheckParses(image, report);
    CheckFits(image, length, geometry, report);
}

} // namespace kestrel::station
