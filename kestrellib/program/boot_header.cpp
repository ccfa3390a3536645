#include "kestrellib/program/boot_header.h"

#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/config_files.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>

namespace kestrel::program {
namespace {

// The keys of one clock entry, with where each lands in ClockEntry and its width in bytes.
struct ClockKey {
    const char* name;
    std::size_t offset;
    std::size_t width;
};

#define KESTREL_CLOCK_KEY(key, field)                                                              \
    ClockKey {                                                                                     \
        key, offsetof(ClockEntry, field), sizeof(ClockEntry::field)                                \
    }

constexpr ClockKey kClockKeys[] = {
    KESTREL_CLOCK_KEY("freq_spll_int", freqSpllInt),
    KESTREL_CLOCK_KEY("freq_spll_pnt", freqSpllPnt),
    KESTREL_CLOCK_KEY("freq_arm", freqArm),
    KESTREL_CLOCK_KEY("freq_arm_ahb", freqArmAhb),
    KESTREL_CLOCK_KEY("freq_arm_apb", freqArmApb),
    KESTREL_CLOCK_KEY("freq_sys", freqSys),
    KESTREL_CLOCK_KEY("freq_sys_ahb", freqSysAhb),
    KESTREL_CLOCK_KEY("freq_sys_apb", freqSysApb),
    KESTREL_CLOCK_KEY("freq_ceva", freqCeva),
    KESTREL_CLOCK_KEY("freq_ceva_ahb", freqCevaAhb),
    KESTREL_CLOCK_KEY("freq_ceva_apb", freqCevaApb),
    KESTREL_CLOCK_KEY("ref_ceva_23", refCeva23),
    KESTREL_CLOCK_KEY("ref_arm_23", refArm23),
    KESTREL_CLOCK_KEY("baudIdx", baudIdx),
    KESTREL_CLOCK_KEY("regScuC_DDRPhyCtrl", regScuCDdrPhyCtrl),
    KESTREL_CLOCK_KEY("regDram08", regDram08),
    KESTREL_CLOCK_KEY("regDram0C", regDram0C),
    KESTREL_CLOCK_KEY("regDram18", regDram18),
    KESTREL_CLOCK_KEY("regDram1C", regDram1C),
    KESTREL_CLOCK_KEY("regDram24", regDram24),
    KESTREL_CLOCK_KEY("regDram28", regDram28),
};

#undef KESTREL_CLOCK_KEY

static_assert(sizeof kClockKeys / sizeof kClockKeys[0] == 21);

void PutWord(std::uint8_t* at, std::uint32_t value) {
    std::memcpy(at, &value, sizeof value);
}

void SetMagic(char (&magic)[4], const char* text) {
    std::memcpy(magic, text, 4);
}

} // namespace

ClockEntry DefaultClockEntry() {
    ClockEntry entry{};
    entry.freqSpllInt = 648;
    entry.freqSpllPnt = 0;
    entry.freqArm = 0;
    entry.freqArmAhb = 1;
    entry.freqArmApb = 7;
    entry.freqSys = 7;
    entry.freqSysAhb = 0;
    entry.freqSysApb = 0;
    entry.freqCeva = 7;
    entry.freqCevaAhb = 0;
    entry.freqCevaApb = 0;
    entry.refCeva23 = 3;
    entry.refArm23 = 3;
    entry.baudIdx = 0;
    entry.regDram0C = 0xD3;
    return entry;
}

BootConfig BuildConfigTables() {
    using namespace config;
    BootConfig config{};
    SetMagic(config.header.magic, "CK8S");
    config.header.flags = 0;

    const int items = std::clamp(Read(cfg::kItemNum), 0, kMaxConfigItems);
    const std::string itemPrefix = Read(cfg::kItemName);
    config.header.flags |= static_cast<std::uint32_t>(Read(cfg::kHoldingPerInRomcode)) << 30;
    config.header.flags |= static_cast<std::uint32_t>(Read(cfg::kEnableRomCodeMessage)) << 31;
    for (int i = 0; i < items; ++i) {
        const std::string section = cfg::IndexedSection(itemPrefix, i);
        config.header.flags |= static_cast<std::uint32_t>(ReadInt(kConfigIni, section, "enable", 0))
                               << i;
        config.header.value[i] =
            static_cast<std::uint32_t>(ReadInt(kConfigIni, section, "value", 0));
    }

    for (ClockEntry& entry : config.clocks.entry) {
        entry = DefaultClockEntry();
    }
    const int entries = std::clamp(Read(cfg::kFreqNum), 0, kClockEntries);
    const std::string freqPrefix = Read(cfg::kFreqName);
    for (int i = 0; i < entries; ++i) {
        const std::string section = cfg::IndexedSection(freqPrefix, i);
        auto* bytes = reinterpret_cast<std::uint8_t*>(&config.clocks.entry[i]);
        for (const ClockKey& key : kClockKeys) {
            // Truncated to the field's width: the low bytes of the little-endian value.
            const auto value =
                static_cast<std::uint32_t>(ReadInt(kConfigIni, section, key.name, 0));
            std::memcpy(bytes + key.offset, &value, key.width);
        }
    }
    return config;
}

BootHeaderForm BuildBootHeader(std::span<std::uint8_t> page, BootConfig& config,
                               const std::string& imagePath) {
    ImageFileHeader image{};
    bool haveHeader = false;
    {
        std::ifstream file(imagePath, std::ios::binary);
        if (file.is_open()) {
            file.read(reinterpret_cast<char*>(&image), sizeof image);
            haveHeader = file.gcount() == static_cast<std::streamsize>(sizeof image);
        }
    }

    if (!haveHeader || image.bootHeaderValue < kDirectoryFormThreshold) {
        std::memcpy(page.data(), &config.header, sizeof config.header);
        std::memcpy(page.data() + sizeof config.header, &config.clocks, sizeof config.clocks);
        return BootHeaderForm::kShort;
    }

    SetMagic(config.header.magic, "DK8S");
    std::memcpy(page.data(), "DK8S", 4);
    const std::uint32_t directory[] = {0,
                                       kDirectoryConfigOffset,
                                       kDirectoryClockOffset,
                                       kDirectoryImageOffset,
                                       kDirectoryFormBytes,
                                       0xFFFFFFFFu,
                                       0xFFFFFFFFu};
    for (std::size_t i = 0; i < std::size(directory); ++i) {
        PutWord(page.data() + 4 * (i + 1), directory[i]);
    }
    std::memcpy(page.data() + kDirectoryConfigOffset, &config.header, sizeof config.header);
    std::memcpy(page.data() + kDirectoryClockOffset, &config.clocks, sizeof config.clocks);
    PutWord(page.data() + kDirectoryImageOffset, image.bootHeaderValue);
    PutWord(page.data() + kDirectoryImageOffset + 4, image.word6);
    PutWord(page.data() + kDirectoryImageOffset + 8, image.word7);
    PutWord(page.data() + kDirectoryImageOffset + 12, 0);
    return BootHeaderForm::kDirectory;
}

} // namespace kestrel::program
