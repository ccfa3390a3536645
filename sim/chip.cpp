#include "sim/chip.h"

#include <array>
#include <cstdlib>

namespace kestrel::sim {
namespace {

struct Preset {
    int idClass;
    std::vector<std::uint8_t> id;
    std::uint32_t pageSize;
    std::uint32_t pagesPerBlock;
    std::uint32_t blockCount;
    std::uint8_t eccMode;
    const char* name;
};

// One chip per identification class. The geometry columns follow from the id bytes by the
// decoding table (chip size by id byte 1, s and d from id byte 3).
const std::array<Preset, 12>& Presets() {
    static const std::array<Preset, 12> presets = {{
        // class 0: 2C DC, byte 3 0x95: s = 1, d = 1, 512 Mi KiB >> 7 = 4096 blocks.
        {0, {0x2C, 0xDC, 0x90, 0x95, 0x56}, 2048, 64, 4096, 0, "class 0 (2C DC 90 95 56)"},
        // class 1: maker EC, 6 bytes; byte 3 0x76: s = 2, d = 3.
        {1, {0xEC, 0xD7, 0x94, 0x76, 0x64, 0x43}, 8192, 128, 4096, 0, "class 1 (EC D7 94 76)"},
        // class 2: maker 2C, byte 1 0x68, byte 3 0x4A: s = 2, 256 pages, 16 Mi / 4096 blocks.
        {2, {0x2C, 0x68, 0x04, 0x4A, 0xA9}, 4096, 256, 4096, 1, "class 2 (2C 68 04 4A A9)"},
        // class 3: maker AD, 6 bytes, byte 3 0x9A: 8192-byte pages, 2 MiB blocks.
        {3, {0xAD, 0xD7, 0x94, 0x9A, 0x74, 0x42}, 8192, 256, 2048, 1, "class 3 (AD D7 94 9A)"},
        // class 4: maker 2C, D7, 5 bytes, byte 3 0x3E: s = 2, d = 3, ECC bit set.
        {4, {0x2C, 0xD7, 0x94, 0x3E, 0x84}, 4096, 128, 8192, 1, "class 4 (2C D7 94 3E 84)"},
        // class 5: maker 98, D5, 7 bytes, byte 3 0x32: s = 2, d = 3.
        {5,
         {0x98, 0xD5, 0x94, 0x32, 0x76, 0x55, 0x00},
         8192,
         128,
         2048,
         1,
         "class 5 (98 D5 94 32)"},
        {6, {0x92, 0xF1, 0x80, 0x95, 0x40}, 2048, 64, 1024, 0, "class 6 (92 F1 80 95 40)"},
        {7, {0x98, 0xDE, 0x95, 0x32, 0xF4}, 4096, 128, 4096, 0, "class 7 (98 DE 95 32 F4)"},
        {8, {0x98, 0xDE, 0x94, 0x82, 0xF4}, 8192, 256, 4096, 0, "class 8 (98 DE 94 82 F4)"},
        {9,
         {0xAD, 0xD7, 0x94, 0xDA, 0x74, 0xC3},
         8192,
         256,
         2048,
         1,
         "class 9 (AD D7 94 DA 74 C3)"},
        {10,
         {0xAD, 0xDE, 0x94, 0xD2, 0x04, 0x43},
         8192,
         256,
         4096,
         1,
         "class 10 (AD DE 94 D2 04 43)"},
        {11,
         {0xEC, 0xD7, 0x94, 0x7A, 0x54, 0x43},
         8192,
         128,
         4096,
         1,
         "class 11 (EC D7 94 7A 54 43)"},
    }};
    return presets;
}

} // namespace

std::optional<Chip> ChipForClass(int idClass) {
    if (idClass < 0 || idClass >= static_cast<int>(Presets().size())) {
        return std::nullopt;
    }
    const Preset& p = Presets()[static_cast<std::size_t>(idClass)];
    Chip chip;
    chip.name = p.name;
    chip.idClass = p.idClass;
    chip.id = p.id;
    chip.pageSize = p.pageSize;
    chip.pagesPerBlock = p.pagesPerBlock;
    chip.blockCount = p.blockCount;
    chip.eccMode = p.eccMode;
    chip.pairedPages = idClass == 9 || idClass == 10;
    return chip;
}

std::optional<Chip> SmallPageChip(std::uint8_t code) {
    std::uint32_t blocks = 0;
    switch (code) {
    case 0x73:
        blocks = 128;
        break;
    case 0x75:
        blocks = 256;
        break;
    case 0x76:
        blocks = 512;
        break;
    case 0x79:
        blocks = 1024;
        break;
    case 0xE6:
        blocks = 64;
        break;
    default:
        return std::nullopt;
    }
    Chip chip;
    chip.name = "small-page code";
    chip.idClass = -1;
    chip.id = {0xEC, code, 0xA5, 0xC0};
    chip.pageSize = 2048;
    chip.pagesPerBlock = 64;
    chip.blockCount = blocks;
    chip.eccMode = 0;
    return chip;
}

Chip SdBootChip() {
    Chip chip;
    chip.name = "SD card boot";
    chip.idClass = -1;
    chip.id = {'S', 'D', 'B', 'T'};
    chip.pageSize = 2048;
    chip.pagesPerBlock = 64;
    chip.blockCount = 1024;
    return chip;
}

Chip SpiFlashChip() {
    Chip chip;
    chip.name = "serial flash";
    chip.idClass = -1;
    chip.id = {'S', 'P', 'I', '-', 'N', 'O', 'R'};
    chip.pageSize = 256;
    chip.pagesPerBlock = 256;
    chip.blockCount = 64;
    return chip;
}

Chip DefaultChip() {
    return *ChipForClass(0);
}

std::optional<Chip> ChipByName(const std::string& name) {
    if (name == "sdbt") {
        return SdBootChip();
    }
    if (name == "spi") {
        return SpiFlashChip();
    }
    auto digitsAfter = [&](const std::string& prefix, int base) -> std::optional<long> {
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
            return std::nullopt;
        }
        const std::string rest = name.substr(prefix.size());
        char* end = nullptr;
        const long value = std::strtol(rest.c_str(), &end, base);
        if (end == nullptr || *end != '\0' || rest.size() > 3) {
            return std::nullopt;
        }
        return value;
    };
    if (auto n = digitsAfter("class", 10)) {
        return ChipForClass(static_cast<int>(*n));
    }
    if (auto code = digitsAfter("small", 16)) {
        if (*code >= 0 && *code <= 0xFF) {
            return SmallPageChip(static_cast<std::uint8_t>(*code));
        }
    }
    return std::nullopt;
}

} // namespace kestrel::sim
