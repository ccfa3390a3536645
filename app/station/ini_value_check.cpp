#include "app/station/ini_value_check.h"

#include "app/station/page_settings.h"
#include "kestrellib/program/boot_header.h"
#include "kestrellib/program/config_files.h"
#include "platform/profile/ini_document.h"
#include "platform/profile/profile.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>

namespace kestrel::station {
namespace {

using platform::IniDocument;
using platform::IniLine;

enum class Kind {
    kFlag, // 0 or 1
    kInt,  // a whole integer within [min, max]
    kWord, // any 32-bit value
    kText, // at most 255 characters
    kImageType,
};

struct KeyRule {
    const char* key;
    Kind kind;
    std::int64_t min = 0;
    std::int64_t max = 0;
    const char* meaning = nullptr; // what the range stands for, after the range
};

constexpr std::int64_t kU8 = 0xFF;
constexpr std::int64_t kU16 = 0xFFFF;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Expected(const KeyRule& rule) {
    switch (rule.kind) {
    case Kind::kFlag:
        return "0 or 1";
    case Kind::kWord:
        return "an integer (decimal, or 0x hexadecimal), 32 bits";
    case Kind::kText:
        return "at most 255 characters; the rest is cut off";
    case Kind::kImageType:
        return "1 (boot code), 2 (resources) or 3 (program all)";
    case Kind::kInt:
        break;
    }
    std::string text =
        "an integer from " + std::to_string(rule.min) + " to " + std::to_string(rule.max);
    if (rule.meaning != nullptr) {
        text += std::string(" ") + rule.meaning;
    }
    return text;
}

bool Fits(const KeyRule& rule, const std::string& value) {
    if (rule.kind == Kind::kText) {
        return value.size() <= platform::kProfileStringMax;
    }
    if (!platform::IsWholeProfileInt(value)) {
        return false;
    }
    const int parsed = *platform::ParseProfileInt(value);
    switch (rule.kind) {
    case Kind::kFlag:
        return parsed == 0 || parsed == 1;
    case Kind::kWord:
        return true;
    case Kind::kImageType:
        return parsed >= 0 && parsed <= 3; // 0 is the default: program all
    case Kind::kInt:
        return parsed >= rule.min && parsed <= rule.max;
    case Kind::kText:
        break;
    }
    return true;
}

// One file of the home directory, parsed once.
class IniFile {
public:
    IniFile(const char* name, std::vector<IniFinding>& findings)
        : name_(name), findings_(findings) {
        std::string bytes;
        std::string why;
        const auto kind = platform::ReadProfileFile(config::FilePath(name), &bytes, &why);
        present_ = kind == platform::ProfileFileKind::kRegular;
        if (kind == platform::ProfileFileKind::kNotAFile ||
            kind == platform::ProfileFileKind::kUnreadable) {
            findings_.push_back({true, why});
        }
        doc_ = IniDocument::Parse(bytes);
        lines_ = doc_.Lines();
    }

    bool Present() const { return present_; }
    const char* Name() const { return name_; }

    std::optional<std::string> Value(const std::string& section, const char* key) const {
        return doc_.Find(section, key);
    }
    std::size_t LineOf(const std::string& section, const char* key) const {
        return doc_.LineOf(section, key);
    }
    bool HasSection(const std::string& section) const {
        return std::any_of(lines_.begin(), lines_.end(), [&](const IniLine& l) {
            return l.kind == IniLine::Kind::kSection && Lower(l.section) == Lower(section);
        });
    }

    void Report(bool failed, std::size_t line, const std::string& key, const std::string& value,
                const std::string& expected) const {
        std::string where = name_;
        if (line > 0) {
            where += ":" + std::to_string(line);
        }
        findings_.push_back({failed, where + ": " + key + ": " + value + ": " + expected});
    }

    // Checks the key's value when the file gives one.
    void Check(const std::string& section, const KeyRule& rule, bool device) const {
        const auto value = Value(section, rule.key);
        if (value && !Fits(rule, *value)) {
            Report(device && rule.kind != Kind::kText, doc_.LineOf(section, rule.key),
                   "[" + section + "] " + rule.key, value->empty() ? "(empty)" : *value,
                   Expected(rule));
        }
    }
    void CheckAll(const std::string& section, std::initializer_list<KeyRule> rules,
                  bool device) const {
        for (const KeyRule& rule : rules) {
            Check(section, rule, device);
        }
    }

    // Lines the reader skips or places where the editor may not expect.
    void CheckLines() const {
        std::map<std::string, std::size_t> firstKey;     // "section\nkey" -> line
        std::map<std::string, std::size_t> firstSection; // section -> line
        for (const IniLine& line : lines_) {
            switch (line.kind) {
            case IniLine::Kind::kBrokenSection:
                Report(true, line.number, line.text, "(section header)",
                       "a closing ']'; without it the keys below stay in " +
                           (line.inSection ? "[" + line.section + "]" : "no section"));
                break;
            case IniLine::Kind::kOther:
                Report(false, line.number, line.text, "(no '=')",
                       "key=value, a [section] header or a ';' comment; the line is skipped");
                break;
            case IniLine::Kind::kSection:
                if (const auto [at, added] = firstSection.emplace(Lower(line.section), line.number);
                    !added) {
                    Report(false, line.number, "[" + line.section + "]", "(section header)",
                           "one section of this name; line " + std::to_string(at->second) +
                               " opens it first and the keys here are not read");
                }
                break;
            case IniLine::Kind::kKey:
                if (!line.inSection) {
                    Report(false, line.number, line.key, line.value,
                           "a [section] header above it; keys outside sections are not read");
                } else if (const auto [at, added] = firstKey.emplace(
                               Lower(line.section) + "\n" + Lower(line.key), line.number);
                           !added) {
                    Report(false, line.number, "[" + line.section + "] " + line.key, line.value,
                           "one value; line " + std::to_string(at->second) +
                               " gives this key first and this line is not read");
                }
                break;
            case IniLine::Kind::kBlank:
            case IniLine::Kind::kComment:
                break;
            }
        }
    }

private:
    const char* name_;
    std::vector<IniFinding>& findings_;
    bool present_ = false;
    IniDocument doc_;
    std::vector<IniLine> lines_;
};

void CheckIspIni(const IniFile& ini, const IniFile& configIni, bool bootCode) {
    // Keys that decide what a run writes to a device.
    ini.CheckAll("Redboot", {{"SuppurtenDramInit", Kind::kFlag}}, true);
    ini.CheckAll("Romfs",
                 {{"enable", Kind::kFlag},
                  {"maxsize", Kind::kInt, 0, 4095, "megabytes (0 means 32)"},
                  {"DualImage", Kind::kFlag}},
                 true);
    ini.CheckAll("Romfs1",
                 {{"enable", Kind::kFlag},
                  {"maxsize", Kind::kInt, 0, 4095, "megabytes"},
                  {"Suppurtencryption", Kind::kFlag}},
                 true);
    ini.CheckAll("Burn-D", {{"rebuild", Kind::kFlag}}, true);
    ini.CheckAll("General", {{"ImageType", Kind::kImageType}, {"eccmode", Kind::kFlag}}, true);
    ini.CheckAll("BootDevice",
                 {{"enable", Kind::kFlag}, {"deviceid", Kind::kInt, 0, 7, "(a boot device id)"}},
                 true);
    for (const char* section : {"Redboot", "Romfs", "Romfs1"}) {
        ini.Check(section, {"name", Kind::kText}, true);
    }
    // Keys of the operator's options and of the image-wrapping page.
    ini.CheckAll("Burn-D",
                 {{"readverify", Kind::kFlag}, {"enable", Kind::kFlag}, {"Dir", Kind::kText}},
                 false);
    ini.CheckAll("WrapImage",
                 {{"enable", Kind::kFlag},
                  {"version", Kind::kWord},
                  {"flag", Kind::kFlag},
                  {"SuppurtenCompress", Kind::kFlag},
                  {"description", Kind::kText},
                  {"Resource", Kind::kText},
                  {"RomFsOutPutName", Kind::kText},
                  {"binary", Kind::kText},
                  {"Packages", Kind::kText},
                  {"RomFs1InputDir", Kind::kText},
                  {"RomFs1OutPutName", Kind::kText}},
                 false);

    // The Dram type must name one of config.ini's DRAM settings (a missing config.ini is a
    // failure of its own).
    const auto dram = ini.Value("General", "Dramtype");
    if (!dram || !bootCode || !configIni.Present()) {
        return;
    }
    const bool whole = platform::IsWholeProfileInt(*dram);
    const int index = whole ? *platform::ParseProfileInt(*dram) : -1;
    const DramSetting setting = ResolveDramType(index);
    if (whole && index >= 0 && setting.found) {
        return;
    }
    std::string entries;
    for (int i = 0; i < 100; ++i) {
        if (configIni.Value(setting.section, std::to_string(i).c_str())) {
            entries += (entries.empty() ? "" : ", ") + std::to_string(i);
        }
    }
    std::string expected = "the index of a Dram type in config.ini [" + setting.section + "]";
    expected += entries.empty() ? " (it has none)" : " (" + entries + ")";
    if (whole && !setting.entry.empty()) {
        expected += "; " + setting.entry + " has no value there";
    }
    // The Dram setting is option item 2: with fewer items the boot code carries no Dram value,
    // so a Dram type that names none changes nothing a device receives.
    const auto items = configIni.Value("General", "ItemNum");
    const bool written =
        !items || !platform::IsWholeProfileInt(*items) || *platform::ParseProfileInt(*items) > 2;
    if (!written) {
        expected += "; config.ini has no option item 2, so no Dram value is written";
    }
    ini.Report(written, ini.LineOf("General", "Dramtype"), "[General] Dramtype", *dram, expected);
}

void CheckConfigIni(const IniFile& ini) {
    if (!ini.HasSection("General")) {
        ini.Report(true, 0, "[General]", "(missing)",
                   "a [General] section with ItemNum, ItemName, FreqNum and FreqName; without "
                   "it the boot code carries no option item and no clock entry");
        return;
    }
    ini.CheckAll("General",
                 {{"ItemNum", Kind::kInt, 0, program::kMaxConfigItems, "(option items)"},
                  {"HoldingPerInRomcode", Kind::kFlag},
                  {"Enable_RomCodeMessage", Kind::kFlag},
                  {"FreqNum", Kind::kInt, 0, program::kClockEntries, "(clock entries)"},
                  {"ItemName", Kind::kText},
                  {"FreqName", Kind::kText}},
                 true);
    const int items = std::clamp(config::Read(config::cfg::kItemNum), 0, program::kMaxConfigItems);
    const std::string itemName = config::Read(config::cfg::kItemName);
    for (int i = 0; i < items; ++i) {
        const std::string section = config::cfg::IndexedSection(itemName, i);
        if (!ini.HasSection(section)) {
            ini.Report(true, 0, "[" + section + "]", "(missing)",
                       "a section for option item " + std::to_string(i) + " (ItemNum is " +
                           std::to_string(items) + "); without it the item is 0");
            continue;
        }
        ini.CheckAll(section, {{"enable", Kind::kFlag}, {"value", Kind::kWord}}, true);
    }
    const int clocks = std::clamp(config::Read(config::cfg::kFreqNum), 0, program::kClockEntries);
    const std::string freqName = config::Read(config::cfg::kFreqName);
    for (int i = 0; i < clocks; ++i) {
        const std::string section = config::cfg::IndexedSection(freqName, i);
        if (!ini.HasSection(section)) {
            ini.Report(true, 0, "[" + section + "]", "(missing)",
                       "a section for clock entry " + std::to_string(i) + " (FreqNum is " +
                           std::to_string(clocks) + "); without it every field is 0");
            continue;
        }
        for (const char* key : {"freq_spll_int", "freq_spll_pnt"}) {
            ini.Check(section, {key, Kind::kInt, 0, kU16, "(16 bits)"}, true);
        }
        for (const char* key : {"freq_arm", "freq_arm_ahb", "freq_arm_apb", "freq_sys",
                                "freq_sys_ahb", "freq_sys_apb", "freq_ceva", "freq_ceva_ahb",
                                "freq_ceva_apb", "ref_ceva_23", "ref_arm_23", "baudIdx"}) {
            ini.Check(section, {key, Kind::kInt, 0, kU8, "(one byte)"}, true);
        }
        for (const char* key : {"regScuC_DDRPhyCtrl", "regDram08", "regDram0C", "regDram18",
                                "regDram1C", "regDram24", "regDram28"}) {
            ini.Check(section, {key, Kind::kWord}, true);
        }
    }
}

void CheckProfileIni(const IniFile& ini) {
    ini.CheckAll("General",
                 {{"Enable", Kind::kFlag},
                  {"PageSize", Kind::kInt, 0, kU16, "bytes (0: as the chip says)"},
                  {"PageNoPerBlk", Kind::kInt, 0, kU16, "pages (0: as the chip says)"},
                  {"TotalBlkNo", Kind::kInt, 0, kU16, "blocks (0: as the chip says)"},
                  {"ecc_mode", Kind::kFlag}},
                 true);
}

void CheckRomPatchIni(const IniFile& ini) {
    ini.CheckAll("General", {{"DownloadAddr", Kind::kWord}, {"ItemName", Kind::kText}}, true);
    const std::string prefix = config::Read(config::rompatch::kItemName);
    // Boot device ids 0-7, and 7 more for loader class 1: every section a device can use.
    for (int n = 0; n < 15; ++n) {
        const std::string section = config::cfg::IndexedSection(prefix, n);
        ini.CheckAll(
            section,
            {{"enable", Kind::kFlag}, {"EntryAddr", Kind::kWord}, {"FileName", Kind::kText}}, true);
    }
}

} // namespace

std::vector<IniFinding> CheckIniValues(int mode) {
    const bool bootCode = mode != 2;
    const bool resources = mode != 1;
    std::vector<IniFinding> findings;
    const IniFile isp(config::kIspIni, findings);
    const IniFile configIni(config::kConfigIni, findings);
    const IniFile profile(config::kProfileIni, findings);
    const IniFile romPatch(config::kRomPatchIni, findings);
    if (isp.Present()) {
        isp.CheckLines();
        CheckIspIni(isp, configIni, bootCode);
    }
    if (bootCode && configIni.Present()) {
        configIni.CheckLines();
        CheckConfigIni(configIni);
    }
    if (profile.Present()) {
        profile.CheckLines();
        CheckProfileIni(profile);
    }
    if (resources && romPatch.Present()) {
        romPatch.CheckLines();
        CheckRomPatchIni(romPatch);
    }
    return findings;
}

} // namespace kestrel::station
