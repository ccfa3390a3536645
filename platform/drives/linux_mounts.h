#pragma once
// The Linux backend's parts, open to tests: reading the mount table and deciding which mounted
// file systems lie on removable block devices, over an injectable mount table and sysfs root.
//
// A drive is a mount of a whole file system (its root "/" mounted, not a bind mount of a
// subdirectory) of a block device whose sysfs attribute "removable" reads 1 (for a partition,
// the attribute of the disk it belongs to), as Windows gives removable media a removable drive.
// Each block device counts once, at its first mount point in byte order; the drives are ordered
// by device number (major, then minor), so a drive keeps its place while devices before it stay.

#include "platform/export.h"
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::platform::drives {

struct MountEntry {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::string root;       // path of the mounted directory inside its file system
    std::string mountPoint; // octal escapes of the table decoded
};

// Parses /proc/<pid>/mountinfo text; malformed lines are left out.
KESTREL_PLATFORM_API std::vector<MountEntry> ParseMountInfo(std::string_view text);

// Whether the block device major:minor is removable, read below sysfsRoot.
KESTREL_PLATFORM_API bool IsRemovableBlockDevice(const std::string& sysfsRoot, std::uint32_t major,
                                                 std::uint32_t minor);

// The mount points of the removable file systems among entries, in drive order.
KESTREL_PLATFORM_API std::vector<std::string>
RemovableMountPoints(const std::vector<MountEntry>& entries, const std::string& sysfsRoot);

} // namespace kestrel::platform::drives
