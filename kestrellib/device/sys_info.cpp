#include "kestrellib/device/sys_info.h"

#include <array>
#include <cstring>

namespace kestrel::device {

void SetNandInfoMarker(NandInfoMarker& marker) {
    std::memcpy(marker.start, "SHFP", 4);
    marker.zero[0] = 0;
    marker.zero[1] = 0;
    std::memcpy(marker.end, "EHFP", 4);
}

bool HasSysInfoTags(const SysInfoRecord& record) {
    return std::memcmp(record.startTag, "SYAL", 4) == 0 &&
           std::memcmp(record.endTag, "EYAL", 4) == 0;
}

SysInfoRecord& SysInfoOf(int devIndex) {
    static std::array<SysInfoRecord, 64> table{};
    // Indices outside the device set share one scratch record rather than reaching past the table.
    static SysInfoRecord scratch{};
    if (devIndex < 0 || devIndex >= static_cast<int>(table.size())) {
        return scratch;
    }
    return table[static_cast<std::size_t>(devIndex)];
}

} // namespace kestrel::device
