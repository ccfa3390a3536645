// libFuzzer target: any bytes as one of the device's replies about its NAND, decoded as the
// station decodes them. The first byte picks the reply, the rest is its content (a fixed-size
// record is zero-filled past the input, as the transfer buffer is):
//   0  the identification record of loader level 1 and up (64 bytes): classified, its id
//      length recounted, the geometry derived and compared with what the record states;
//   1  the level-0 record (16 bytes), converted into a full record;
//   2  the system-information reply (any length): the record taken from it, the parameter
//      record found in it, and the identification record inside decoded as in 0.
// A derived geometry must be one the device's 16-bit record fields can hold (the host writes it
// back there), non-zero where a formula gave it and the record's own for a serial or SD boot
// chip; the comparison must agree exactly when every stated field is 0 or the derived value,
// and show a message naming the device otherwise.
#include "kestrellib/device/nand_class.h"
#include "kestrellib/device/nand_geometry.h"
#include "kestrellib/device/nand_info.h"
#include "kestrellib/device/sys_info.h"
#include "kestrellib/program/boot_code.h"
#include "platform/message_box/message_box.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

namespace {

using namespace kestrel::device;

constexpr int kDevice = 7;
std::string lastBox;

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

template <typename Record>
Record Take(std::span<const std::uint8_t> bytes) {
    Record record;
    std::memset(&record, 0, sizeof record);
    std::memcpy(&record, bytes.data(), std::min(bytes.size(), sizeof record));
    return record;
}

bool Agrees(const NandInfo& info) {
    lastBox.clear();
    const bool agrees = NandGeometryAgrees(info, kDevice);
    Check(agrees == lastBox.empty());
    Check(agrees || lastBox.rfind("Device:" + std::to_string(kDevice) + " ==> ", 0) == 0);
    return agrees;
}

void CheckIdentification(const NandInfo& info) {
    const int nandClass = ClassifyNandId(info);
    Check(nandClass >= 0 && nandClass <= 11);
    const std::uint32_t idLength = kestrel::program::RecountIdLength(info);
    Check(idLength >= 1 && idLength <= sizeof info.id);

    std::string error;
    const auto geometry = DeriveNandGeometry(info, &error);
    const auto again = DeriveNandGeometry(info, nullptr);
    Check(geometry.has_value() == again.has_value());
    if (!geometry) {
        Check(!error.empty() && !Agrees(info));
        return;
    }
    const NandGeometry& g = *geometry;
    Check(g.pageSize == again->pageSize && g.pagesPerBlock == again->pagesPerBlock &&
          g.blockCount == again->blockCount && g.eccMode == again->eccMode);
    const bool serialOrSd =
        std::memcmp(info.id, "SDBT", 4) == 0 || std::memcmp(info.id, "SPI", 3) == 0;
    if (serialOrSd) {
        Check(g.pageSize == info.pageSize && g.pagesPerBlock == info.pagesPerBlock &&
              g.blockCount == info.blockCount && g.eccMode == 0);
    } else {
        Check(std::has_single_bit(g.pageSize) && g.pageSize >= 1024 && g.pageSize <= 16384);
        Check(g.pagesPerBlock >= 1 && g.blockCount >= 1 && g.eccMode <= 1);
    }
    // profile.ini and the record written back to the device keep these in 16 bits.
    Check(g.pageSize <= 0xFFFF && g.pagesPerBlock <= 0xFFFF && g.blockCount <= 0xFFFF);

    auto fits = [](std::uint32_t stated, std::uint32_t derived) {
        return stated == 0 || stated == derived;
    };
    Check(Agrees(info) ==
          (fits(info.pageSize, g.pageSize) && fits(info.pagesPerBlock, g.pagesPerBlock) &&
           fits(info.blockCount, g.blockCount)));
    NandInfo stated = info;
    stated.pageSize = static_cast<std::uint16_t>(g.pageSize);
    stated.pagesPerBlock = static_cast<std::uint16_t>(g.pagesPerBlock);
    stated.blockCount = static_cast<std::uint16_t>(g.blockCount);
    Check(Agrees(stated));
}

void CheckLevel0(std::span<const std::uint8_t> bytes) {
    const OldNandInfo old = Take<OldNandInfo>(bytes);
    NandInfo info;
    std::memset(&info, 0xA5, sizeof info);
    const bool largePage = ConvertOldNandInfo(old, info);
    const auto& w = old.word;
    Check(largePage == (w[0] == 16 && w[1] == 2112 && w[3] == 32 && w[5] == 4096));
    Check(info.pagesPerBlock == (w[0] == 16 ? 256 : w[0]) && info.rawPageSize == w[1] &&
          info.pageSize == w[2] && info.blockCount == w[5]);
    Check(info.pagesPerBlockShift == Log2(info.pagesPerBlock) &&
          info.blockCountShift == Log2(info.blockCount));
    // Everything the short record does not carry is zero.
    NandInfo rest = info;
    rest.pagesPerBlock = rest.rawPageSize = rest.pageSize = rest.blockCount = 0;
    rest.pagesPerBlockShift = rest.blockCountShift = 0;
    const NandInfo zero{};
    Check(std::memcmp(&rest, &zero, sizeof rest) == 0);
}

void CheckSysInfo(std::span<const std::uint8_t> reply) {
    SysInfoRecord record;
    std::memset(&record, 0x5A, sizeof record);
    const SysInfoRecord before = record;
    const bool tags = DecodeSysInfoReply(reply, record);
    const bool whole = reply.size() >= sizeof record;
    if (!whole) {
        Check(!tags && std::memcmp(&record, &before, sizeof record) == 0);
    } else {
        Check(std::memcmp(&record, reply.data(), sizeof record) == 0);
        Check(tags == (std::memcmp(reply.data(), "SYAL", 4) == 0 &&
                       std::memcmp(reply.data() + 12, "EYAL", 4) == 0));
    }
    const auto params = StoredNandParams(reply);
    if (!whole) {
        Check(!params);
    } else {
        const auto& p = record.params;
        Check(params.has_value() ==
              (p.magic == kNandParamMagic && p.timing + p.regC9 + p.extra == p.checksum));
        Check(!params || std::memcmp(&*params, &p, sizeof p) == 0);
    }
    if (tags) {
        CheckIdentification(record.info);
        CheckIdentification(record.infoCopy);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    kestrel::platform::SetMessageBoxHandler(
        [](const std::string& text, const std::string&) { lastBox = text.empty() ? "?" : text; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::span<const std::uint8_t> reply(data + 1, size - 1);
    switch (data[0] % 3) {
    case 0:
        CheckIdentification(Take<NandInfo>(reply));
        break;
    case 1:
        CheckLevel0(reply);
        break;
    default:
        CheckSysInfo(reply);
        break;
    }
    return 0;
}
