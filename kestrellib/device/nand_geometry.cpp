#include "kestrellib/device/nand_geometry.h"

#include "kestrellib/device/nand_class.h"
#include "kestrellib/program/config_files.h"
#include "platform/message_box/message_box.h"

#include <cstdio>
#include <cstring>

namespace kestrel::device {
namespace {

// Chip size in KiB by id byte 1.
std::uint32_t ChipKiB(std::uint8_t idByte1) {
    switch (idByte1) {
    case 0xD3:
        return 1048576;
    case 0xD5:
        return 2097152;
    case 0xD7:
        return 4194304;
    case 0xDA:
        return 262144;
    case 0xDC:
        return 524288;
    case 0xF1:
        return 131072;
    default:
        return 8388608;
    }
}

// Block size in bytes of a class-3 chip by the whole of id byte 3; 0 when undefined.
std::uint32_t Class3BlockBytes(std::uint8_t idByte3) {
    switch (idByte3 >> 4) {
    case 0x0:
        return 128u << 10;
    case 0x1:
        return 256u << 10;
    case 0x2:
        return 512u << 10;
    case 0x3:
        return 768u << 10;
    case 0x8:
        return 1u << 20;
    case 0x9:
    case 0xD:
        return 2u << 20;
    default:
        return 0;
    }
}

// Chip size in bytes of a class-2 chip by id byte 1.
std::uint32_t Class2ChipBytes(std::uint8_t idByte1) {
    switch (idByte1) {
    case 0x48:
        return 8388608;
    case 0x88:
        return 33554432;
    case 0xA8:
        return 67108864;
    default:
        return 16777216;
    }
}

bool IsSerialOrSdBoot(const NandInfo& info) {
    return std::memcmp(info.id, "SDBT", 4) == 0 || std::memcmp(info.id, "SPI", 3) == 0;
}

// The geometry by the identification bytes' class and formula, before it is checked.
std::optional<NandGeometry> Formula(const NandInfo& info, std::string* error) {
    if (IsSerialOrSdBoot(info)) {
        return NandGeometry{info.pageSize, info.pagesPerBlock, info.blockCount, 0};
    }
    switch (info.id[1]) {
    case 0x73:
        return NandGeometry{2048, 64, 128, 0};
    case 0x75:
        return NandGeometry{2048, 64, 256, 0};
    case 0x76:
        return NandGeometry{2048, 64, 512, 0};
    case 0x79:
        return NandGeometry{2048, 64, 1024, 0};
    case 0xE6:
        return NandGeometry{2048, 64, 64, 0};
    default:
        break;
    }
    const std::uint32_t s = info.id[3] & 3u;
    const std::uint32_t d = (info.id[3] >> 4) & 3u;
    const std::uint32_t k = ChipKiB(info.id[1]);
    switch (ClassifyNandId(info)) {
    case 0:
        return NandGeometry{1024u << s, (0x10000u << d) >> (s + 10), k >> (d + 6), 0};
    case 1:
        return NandGeometry{2048u << s, (0x20000u << d) >> (s + 11), k >> (d + 7), 0};
    case 2: {
        const std::uint32_t page = 1024u << s;
        return NandGeometry{page, 256, Class2ChipBytes(info.id[1]) / page, 1};
    }
    case 3: {
        const std::uint32_t page = 2048u << s;
        const std::uint32_t block = Class3BlockBytes(info.id[3]);
        if (block == 0) {
            if (error != nullptr) {
                char text[96];
                std::snprintf(text, sizeof text, "no block size is defined for id byte 3 0x%02X",
                              info.id[3]);
                *error = text;
            }
            return std::nullopt;
        }
        return NandGeometry{page, block / page, k / (block >> 10), 1};
    }
    case 4:
        return NandGeometry{1024u << s, (0x10000u << d) >> (s + 10), k >> (d + 6),
                            (info.id[3] & 0x04u) != 0 ? 1u : 0u};
    case 5:
        return NandGeometry{2048u << s, (0x10000u << d) >> (s + 10), k >> (d + 7), 1};
    case 6:
        return NandGeometry{2048, 64, 1024, 0};
    case 7:
        return NandGeometry{4096, 128, 4096, 0};
    case 8:
        return NandGeometry{8192, 256, 4096, 0};
    case 9:
        return NandGeometry{8192, 256, 2048, 1};
    case 10:
        return NandGeometry{8192, 256, 4096, 1};
    case 11:
        return NandGeometry{8192, 128, 4096, 1};
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<NandGeometry> DeriveNandGeometry(const NandInfo& info, std::string* error) {
    const std::optional<NandGeometry> geometry = Formula(info, error);
    // profile.ini, the record the host completes and the record written back to the device
    // hold these in 16 bits: a chip of more (an 8 GiB chip of 64 or 128 KiB blocks, which is
    // what an unknown id byte 1 decodes to) would be laid out from one count and described to
    // the device with another, 0 blocks for 65536.
    if (geometry && (geometry->pageSize > 0xFFFF || geometry->pagesPerBlock > 0xFFFF ||
                     geometry->blockCount > 0xFFFF)) {
        if (error != nullptr) {
            char text[128];
            std::snprintf(text, sizeof text,
                          "%u-byte pages, %u pages per block and %u blocks are more than the "
                          "device's record can hold",
                          geometry->pageSize, geometry->pagesPerBlock, geometry->blockCount);
            *error = text;
        }
        return std::nullopt;
    }
    return geometry;
}

int DecodeNandGeometry(const NandInfo& info, int devIndex) {
    std::string error;
    std::optional<NandGeometry> geometry = DeriveNandGeometry(info, &error);
    if (!geometry) {
        char text[192];
        std::snprintf(text, sizeof text, "Device:%d ==> Unsupported NAND flash: %s\n", devIndex,
                      error.c_str());
        platform::ShowMessageBox(text);
        return -1;
    }
    if (config::Read(config::isp::kEccMode) == 0) {
        geometry->eccMode = 0;
    }
    using namespace config::profile;
    config::Write(kEnable, 1);
    config::Write(kPageSize, static_cast<int>(geometry->pageSize));
    config::Write(kPageNoPerBlk, static_cast<int>(geometry->pagesPerBlock));
    config::Write(kTotalBlkNo, static_cast<int>(geometry->blockCount));
    config::Write(kEccMode, static_cast<int>(geometry->eccMode));
    return 0;
}

bool NandGeometryAgrees(const NandInfo& info, int devIndex) {
    std::string error;
    const std::optional<NandGeometry> decoded = DeriveNandGeometry(info, &error);
    char text[320];
    if (!decoded) {
        std::snprintf(text, sizeof text, "Device:%d ==> Unsupported NAND flash: %s\n", devIndex,
                      error.c_str());
        platform::ShowMessageBox(text);
        return false;
    }
    auto differs = [](std::uint32_t stated, std::uint32_t derived) {
        return stated != 0 && stated != derived;
    };
    if (!differs(info.pageSize, decoded->pageSize) &&
        !differs(info.pagesPerBlock, decoded->pagesPerBlock) &&
        !differs(info.blockCount, decoded->blockCount)) {
        return true;
    }
    std::snprintf(text, sizeof text,
                  "Device:%d ==> The NAND identification decodes to %u-byte pages, %u pages per "
                  "block and %u blocks, but the device's record states %u-byte pages, %u pages "
                  "per block and %u blocks.\n",
                  devIndex, decoded->pageSize, decoded->pagesPerBlock, decoded->blockCount,
                  unsigned{info.pageSize}, unsigned{info.pagesPerBlock}, unsigned{info.blockCount});
    platform::ShowMessageBox(text);
    return false;
}

int LoadNandProfile(NandInfo& info) {
    using namespace config::profile;
    if (config::Read(kEnable) == 0) {
        return -1;
    }
    if (const int pageSize = config::Read(kPageSize); pageSize != 0) {
        info.pageSize = static_cast<std::uint16_t>(pageSize);
    }
    if (const int pages = config::Read(kPageNoPerBlk); pages != 0) {
        info.pagesPerBlock = static_cast<std::uint16_t>(pages);
        info.pagesPerBlockShift = Log2(info.pagesPerBlock);
    }
    if (const int blocks = config::Read(kTotalBlkNo); blocks != 0) {
        info.blockCount = static_cast<std::uint16_t>(blocks);
        info.blockCountShift = Log2(info.blockCount);
    }
    const std::uint16_t p = info.pageSize;
    switch (config::Read(kEccMode)) {
    case 1:
        info.eccMode = 1;
        info.eccSize = static_cast<std::uint16_t>(p / 1024 * 44);
        info.spareSize = static_cast<std::uint16_t>(p / 16);
        info.spareParamB = 44;
        info.spareParamA = 64;
        info.rawPageSize = static_cast<std::uint16_t>(p + p / 16);
        break;
    case 0:
        info.eccMode = 0;
        info.eccSize = static_cast<std::uint16_t>(p / 32);
        info.spareSize = static_cast<std::uint16_t>(p / 32);
        info.spareParamB = 32;
        info.spareParamA = 32;
        info.rawPageSize = static_cast<std::uint16_t>(p + p / 32);
        break;
    default:
        break;
    }
    return 0;
}

std::mutex& ProfileIniLock() {
    static std::mutex lock;
    return lock;
}

} // namespace kestrel::device
