#include "app/station/wrap_settings.h"

#include "kestrellib/program/config_files.h"

namespace kestrel::station {

WrapSettings LoadWrapSettings() {
    namespace isp = config::isp;
    WrapSettings settings;
    settings.description = config::Read(isp::kWrapDescription);
    settings.resourceDir = config::Read(isp::kWrapResource);
    settings.outputFile = config::Read(isp::kWrapRomFsOutPutName);
    settings.binaryPath = config::Read(isp::kWrapBinary);
    settings.packagesDir = config::Read(isp::kWrapPackages);
    return settings;
}

bool SaveWrapSettings(const WrapSettings& settings) {
    namespace isp = config::isp;
    bool ok = config::Write(isp::kWrapDescription, settings.description);
    ok = config::Write(isp::kWrapResource, settings.resourceDir) && ok;
    ok = config::Write(isp::kWrapRomFsOutPutName, settings.outputFile) && ok;
    ok = config::Write(isp::kWrapBinary, settings.binaryPath) && ok;
    ok = config::Write(isp::kWrapPackages, settings.packagesDir) && ok;
    return ok;
}

WrapSettings AfterPicker(WrapPicker picker, const WrapSettings& state, const WrapSettings& typed,
                         const std::optional<std::string>& choice) {
    if (!choice) {
        return state;
    }
    WrapSettings next = typed;
    switch (picker) {
    case WrapPicker::kResource:
        next.resourceDir = *choice;
        break;
    case WrapPicker::kPackages:
        next.packagesDir = *choice;
        break;
    case WrapPicker::kBinary:
        next.binaryPath = *choice;
        break;
    case WrapPicker::kOutput:
        next.outputFile = *choice;
        break;
    }
    return next;
}

} // namespace kestrel::station
