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

bool DecodeSysInfoReply(std::span<const std::uint8_t> reply, SysInfoRecord& record) {
    if (reply.size() < sizeof record) {
        return false;
    }
    std::memcpy(&record, reply.data(), sizeof record);
    return HasSysInfoTags(record);
}

std::optional<NandParamRecord> StoredNandParams(std::span<const std::uint8_t> reply) {
    NandParamRecord params;
    if (reply.size() < offsetof(SysInfoRecord, params) + sizeof params) {
        return std::nullopt;
    }
    std::memcpy(&params, reply.data() + offsetof(SysInfoRecord, params), sizeof params);
    if (params.magic != kNandParamMagic ||
        params.timing + params.regC9 + params.extra != params.checksum) {
        return std::nullopt;
    }
    return params;
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
