// The Linux drives backend: the mounted file systems of removable block devices, read anew from
// /proc/self/mountinfo and /sys at every listing.

#include "platform/drives/drives.h"
#include "platform/drives/linux_mounts.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <system_error>
#include <utility>

namespace kestrel::platform::drives {
namespace {

// Splits a line at blanks.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(' ', at);
        if (start == std::string_view::npos) {
            break;
        }
        const std::size_t end = std::min(line.find(' ', start), line.size());
        fields.push_back(line.substr(start, end - start));
        at = end;
    }
    return fields;
}

// The kernel writes blanks, tabs, newlines and backslashes of a path as \ooo.
std::string DecodeOctalEscapes(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
            if (isOctal(text[i + 1]) && isOctal(text[i + 2]) && isOctal(text[i + 3])) {
                decoded.push_back(static_cast<char>((text[i + 1] - '0') * 64 +
                                                    (text[i + 2] - '0') * 8 + (text[i + 3] - '0')));
                i += 3;
                continue;
            }
        }
        decoded.push_back(text[i]);
    }
    return decoded;
}

bool ParseNumber(std::string_view text, std::uint32_t& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end && !text.empty();
}

std::string ReadSmallFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    char buffer[64];
    in.read(buffer, sizeof buffer);
    text.assign(buffer, static_cast<std::size_t>(in.gcount()));
    return text;
}

class LinuxBackend final : public Backend {
public:
    const char* Name() const override { return "linux"; }

    std::vector<Drive> List() override {
        std::ifstream in("/proc/self/mountinfo", std::ios::binary);
        const std::string text(std::istreambuf_iterator<char>(in), {});
        std::vector<Drive> drives;
        for (std::string& mountPoint : RemovableMountPoints(ParseMountInfo(text), "/sys")) {
            drives.push_back({kDriveRemovable, std::move(mountPoint)});
        }
        return drives;
    }
};

} // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> entries;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::vector<std::string_view> fields = Fields(text.substr(at, end - at));
        at = end + 1;
        // id parent major:minor root mount-point options [optional...] - type source options
        if (fields.size() < 5) {
            continue;
        }
        const std::string_view device = fields[2];
        const std::size_t colon = device.find(':');
        MountEntry entry;
        if (colon == std::string_view::npos || !ParseNumber(device.substr(0, colon), entry.major) ||
            !ParseNumber(device.substr(colon + 1), entry.minor)) {
            continue;
        }
        entry.root = DecodeOctalEscapes(fields[3]);
        entry.mountPoint = DecodeOctalEscapes(fields[4]);
        entries.push_back(std::move(entry));
    }
    return entries;
}

bool IsRemovableBlockDevice(const std::string& sysfsRoot, std::uint32_t major,
                            std::uint32_t minor) {
    std::error_code error;
    const std::filesystem::path link = std::filesystem::path(sysfsRoot) / "dev" / "block" /
                                       (std::to_string(major) + ":" + std::to_string(minor));
    std::filesystem::path device = std::filesystem::canonical(link, error);
    if (error) {
        return false;
    }
    // A partition carries its own "partition" attribute; removability belongs to its disk.
    if (std::filesystem::exists(device / "partition", error)) {
        device = device.parent_path();
    }
    const std::string value = ReadSmallFile(device / "removable");
    return !value.empty() && value[0] == '1';
}

std::vector<std::string> RemovableMountPoints(const std::vector<MountEntry>& entries,
                                              const std::string& sysfsRoot) {
    // One mount point per block device: the first in byte order.
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::string> devices;
    for (const MountEntry& entry : entries) {
        if (entry.major == 0 || entry.root != "/") {
            continue; // a file system without a block device, or a bind mount of a subdirectory
        }
        const auto key = std::make_pair(entry.major, entry.minor);
        const auto found = devices.find(key);
        if (found == devices.end()) {
            devices.emplace(key, entry.mountPoint);
        } else if (entry.mountPoint < found->second) {
            found->second = entry.mountPoint;
        }
    }
    std::vector<std::string> mountPoints;
    for (auto& [device, mountPoint] : devices) {
        if (IsRemovableBlockDevice(sysfsRoot, device.first, device.second)) {
            mountPoints.push_back(std::move(mountPoint));
        }
    }
    return mountPoints;
}

std::shared_ptr<Backend> MakeSystemBackend() {
    return MakeLinuxBackend();
}

std::shared_ptr<Backend> MakeLinuxBackend() {
    return std::make_shared<LinuxBackend>();
}

} // namespace kestrel::platform::drives
