#include "app/station/page_settings.h"

#include "kestrellib/program/config_files.h"

#include <cstdio>

namespace kestrel::station {

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
    return s;
}

void SaveRunPaths(const PageSettings& settings) {
    namespace isp = config::isp;
    config::Write(isp::kRedbootName, settings.bootCodePath);
    config::Write(isp::kRomfsName, settings.resourcePath);
    config::Write(isp::kRomfs1Name, settings.romfs1Path);
    config::Write(isp::kDemoDir, settings.demoDir);
}

void ApplyDramType(int selectionIndex) {
    config::Write(config::isp::kDramType, selectionIndex);
    const std::string item = config::Read(config::cfg::kItemName);
    const std::string section = item + "2";
    const std::string name =
        config::ReadString(config::kConfigIni, section, std::to_string(selectionIndex));
    const int value = config::ReadInt(config::kConfigIni, section, name, 0);
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
    config::WriteString(config::kConfigIni, section, "value", text);
}

} // namespace kestrel::station
