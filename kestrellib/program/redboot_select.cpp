#include "kestrellib/program/redboot_select.h"

#include "kestrellib/program/boot_package.h"

#include "platform/message_box/message_box.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace kestrel::program {
namespace {

struct HardwareTagRule {
    int loaderClass;
    int loaderLevel; // -1: any level
    std::uint32_t tag;
};

// First matching rule wins.
constexpr HardwareTagRule kHardwareTags[] = {
    {0, 1, 0x8000E000u}, {0, 2, 0x8000F000u},  {0, -1, kDefaultHardwareTag},
    {1, 2, 0x8050C000u}, {1, -1, 0x8050A000u},
};

constexpr std::size_t kCopyChunk = 2048;

void ShowOpenFailure(const std::string& path) {
    platform::ShowMessageBox("Failed to Open " + path + ".\n");
}

// Offset of the record's data, or nullopt when no record carries the tag.
std::optional<std::uint64_t> FindRecord(std::ifstream& file, std::uint32_t tag,
                                        std::uint32_t& length) {
    std::optional<std::uint64_t> found;
    WalkPackageRecords(file, [&](const PackageRecordInfo& record) {
        if (record.hardwareTag == tag && record.IsPackageRecord()) {
            length = record.recordLength;
            found = record.DataOffset();
            return false;
        }
        return true;
    });
    return found;
}

enum class CopyOutcome { kCopied, kPackageEnded, kWriteFailed };

// Copies length bytes from the package's offset into out.
CopyOutcome CopyRecord(std::ifstream& in, std::uint64_t offset, std::uint32_t length,
                       std::ofstream& out) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    std::array<char, kCopyChunk> chunk;
    std::uint32_t remaining = length;
    while (remaining > 0) {
        const auto want =
            static_cast<std::streamsize>(std::min<std::uint32_t>(remaining, kCopyChunk));
        in.read(chunk.data(), want);
        if (in.gcount() != want) {
            return CopyOutcome::kPackageEnded;
        }
        out.write(chunk.data(), want);
        if (!out) {
            return CopyOutcome::kWriteFailed;
        }
        remaining -= static_cast<std::uint32_t>(want);
    }
    return CopyOutcome::kCopied;
}

} // namespace

std::optional<std::uint32_t> WantedHardwareTag(int loaderClass, int loaderLevel) {
    for (const HardwareTagRule& rule : kHardwareTags) {
        if (rule.loaderClass == loaderClass &&
            (rule.loaderLevel == -1 || rule.loaderLevel == loaderLevel)) {
            return rule.tag;
        }
    }
    return std::nullopt;
}

std::string ExtractedImageFallback(const std::string& packagePath) {
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) {
        temp = "/tmp";
    }
    std::uint32_t digest = 2166136261u; // FNV-1a of the package's path
    for (const char c : packagePath) {
        digest = (digest ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    char name[48];
    std::snprintf(name, sizeof name, "kestrel-redboot-%08x.img", static_cast<unsigned>(digest));
    return (temp / name).string();
}

std::string ExtractedImagePath(const std::string& packagePath) {
    const std::string beside = PackageDirectory(packagePath) + kRedbootFileName;
    const std::string probe = beside + ".part";
    std::error_code ec;
    const bool existed = std::filesystem::exists(probe, ec);
    bool writable = false;
    {
        std::ofstream out(probe, std::ios::binary | std::ios::app);
        writable = out.is_open();
    }
    if (writable && !existed) {
        std::filesystem::remove(probe, ec);
    }
    return writable ? beside : ExtractedImageFallback(packagePath);
}

std::string PackageDirectory(const std::string& path) {
    const std::size_t last = path.find_last_of("\\/");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

RedbootChoice SelectRedbootImage(const std::string& packagePath, int loaderClass, int loaderLevel) {
    const std::optional<std::uint32_t> tag = WantedHardwareTag(loaderClass, loaderLevel);
    if (!tag) {
        return {packagePath, 0};
    }
    std::ifstream package(packagePath, std::ios::binary);
    if (!package.is_open()) {
        // Nothing can be written from a file that can't be read: the run is refused.
        ShowOpenFailure(packagePath);
        return {packagePath, -1};
    }

    std::uint32_t length = 0;
    const std::optional<std::uint64_t> dataOffset = FindRecord(package, *tag, length);
    if (!dataOffset) {
        if (*tag != kDefaultHardwareTag) {
            platform::ShowMessageBox("Image is error, can't support this H/W!\n");
            return {packagePath, -1};
        }
        return {packagePath, 0};
    }

    std::string imagePath = PackageDirectory(packagePath) + kRedbootFileName;
    std::string partPath = imagePath + ".part";
    CopyOutcome outcome = CopyOutcome::kCopied;
    {
        std::ofstream out(partPath, std::ios::binary | std::ios::trunc);
        if (!out.is_open()) {
            // A read-only boot folder: extract into the temporary directory instead.
            imagePath = ExtractedImageFallback(packagePath);
            partPath = imagePath + ".part" + std::to_string(std::random_device{}());
            out.open(partPath, std::ios::binary | std::ios::trunc);
        }
        if (!out.is_open()) {
            ShowOpenFailure(imagePath);
            return {imagePath, -1};
        }
        outcome = CopyRecord(package, *dataOffset, length, out);
        out.close();
        if (outcome == CopyOutcome::kCopied && out.fail()) {
            outcome = CopyOutcome::kWriteFailed;
        }
    }
    package.close();
    std::error_code ec;
    if (outcome == CopyOutcome::kPackageEnded) {
        std::filesystem::remove(partPath, ec);
        platform::ShowMessageBox("Image is truncated, can't support this H/W!\n");
        return {packagePath, -1};
    }
    if (outcome == CopyOutcome::kCopied) {
        std::filesystem::rename(partPath, imagePath, ec);
    }
    if (outcome == CopyOutcome::kWriteFailed || ec) {
        std::filesystem::remove(partPath, ec);
        ShowOpenFailure(imagePath);
        return {imagePath, -1};
    }
    return {imagePath, 0};
}

} // namespace kestrel::program
