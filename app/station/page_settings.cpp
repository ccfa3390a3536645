#include "app/station/page_settings.h"

#include "kestrellib/program/config_files.h"

#include <cstdio>

namespace kestrel::station {
namespace {

// 1: read each unit back and compare it with the files right after it was programmed.
constexpr config::IntKey kVerifyAfterIsp{config::kIspIni, "General", "VerifyAfterIsp", 0};

} // namespace

PageSettings LoadPageSettings() {
    namespace isp = config::isp;
    PageSettings s;
    s.bootCodePath = config::Read(isp::kRedbootName);
    s.resourcePath = config::Read(isp::kRomfsName);
    s.romfs1Path = config::Read(isp::kRomfs1Name);
    s.demoDir = config::Read(isp::kDemoDir);
    s.readVerify = config::Read(isp::kReadVerify);
    s.rebuildNandFs = config::Read(isp::kRebuild);
    s.copyDemo = config::Read(isp::kDemoEnable);
    const int type = config::Read(isp::kImageType);
    s.imageType = (type == 1 || type == 2) ? type : 3;
    s.romfs1Shown = config::Read(isp::kRomfs1Enable) != 0 ? 1 : 0;
    s.dramIndex = config::Read(isp::kDramType);
    s.verifyAfterIsp = config::Read(kVerifyAfterIsp) != 0 ? 1 : 0;
    return s;
}

bool SaveRunPaths(const PageSettings& settings, std::string* error) {
    namespace isp = config::isp;
    // The first failure names the reason; the other keys are still tried.
    std::string first;
    bool ok = config::Write(isp::kRedbootName, settings.bootCodePath, &first);
    ok = config::Write(isp::kRomfsName, settings.resourcePath, first.empty() ? &first : nullptr) &&
         ok;
    ok = config::Write(isp::kRomfs1Name, settings.romfs1Path, first.empty() ? &first : nullptr) &&
         ok;
    ok = config::Write(isp::kDemoDir, settings.demoDir, first.empty() ? &first : nullptr) && ok;
    if (!ok && error != nullptr) {
        *error = first;
    }
    return ok;
}

std::string DramSetting::ValueText() const {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    return text;
}

DramSetting ResolveDramType(int selectionIndex) {
    DramSetting dram;
    dram.section = config::Read(config::cfg::kItemName) + "2";
    dram.entry =
        config::ReadString(config::kConfigIni, dram.section, std::to_string(selectionIndex));
    // A key that is missing reads as 0 with either default; one that is there reads the same.
    const int a = config::ReadInt(config::kConfigIni, dram.section, dram.entry, 0);
    const int b = config::ReadInt(config::kConfigIni, dram.section, dram.entry, 1);
    dram.found = !dram.entry.empty() && a == b;
    dram.value = a;
    return dram;
}

bool ApplyDramType(int selectionIndex, std::string* error) {
    std::string kept;
    config::Write(config::isp::kDramType, selectionIndex, &kept);
    const DramSetting dram = ResolveDramType(selectionIndex);
    std::string written;
    if (config::WriteString(config::kConfigIni, dram.section, "value", dram.ValueText(),
                            &written)) {
        if (error != nullptr) {
            *error = kept;
        }
        return true;
    }
    // Unwritten, config.ini may still hold the value already.
    const int a = config::ReadInt(config::kConfigIni, dram.section, "value", 0);
    const int b = config::ReadInt(config::kConfigIni, dram.section, "value", 1);
    const bool holds = a == b && a == dram.value;
    if (error != nullptr) {
        *error = written;
    }
    return holds;
}

} // namespace kestrel::station
