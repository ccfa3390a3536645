#include "app/station/wrap_image.h"

#include "app/station/wrap_versions.h"
#include "kestrellib/program/config_files.h"
#include "kestrellib/romfs/romfs_exports.h"
#include "platform/files/files.h"
#include "segwrap/vmx_image.h"

#include <cstdio>

namespace kestrel::station {
namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
    const int size = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

} // namespace

std::string WrappedImagePath(const std::string& resourceDir) {
    constexpr char sep = platform::kPathSeparator;
    return resourceDir + sep + "image" + sep + "4410_mmi.rap";
}

std::string VersionErrorMessage(std::string_view label, std::string_view typed) {
    std::string message = kVersionErrorText;
    message += label;
    message += typed.empty() ? std::string(" is empty") : " \"" + std::string(typed) + "\"";
    message += ": expected 1 to 4 hexadecimal digits (0-9, A-F), for example 0102.\n";
    return message;
}

std::string PrepareWrap(std::string_view resourceVersion, std::string_view binaryVersion,
                        const WrapSettings& typed, WrapSettings& state, WrapRequest& request) {
    const int rv = ParseVersionField(resourceVersion);
    if (rv == -1) {
        return VersionErrorMessage(kResourceVerLabel, resourceVersion);
    }
    const int bv = ParseVersionField(binaryVersion);
    if (bv == -1) {
        return VersionErrorMessage(kBinaryVerLabel, binaryVersion);
    }
    state.description = typed.description;
    state.resourceDir = typed.resourceDir;
    state.outputFile = typed.outputFile;
    state.binaryPath = typed.binaryPath;
    if (state.description.empty() || state.description.size() > kMaxDescriptionLength) {
        return kDescriptionErrorText;
    }
    SaveWrapSettings(state);
    request.version = static_cast<std::uint32_t>(rv) << 16 | static_cast<std::uint32_t>(bv);
    request.settings = state;
    return {};
}

WrapOutcome RunWrap(const WrapRequest& request,
                    const std::function<void(const std::string& line)>& progress) {
    // Relative paths of the page (and of isp.ini) are taken from the home directory.
    WrapSettings s = request.settings;
    s.binaryPath = config::HomePath(s.binaryPath);
    s.resourceDir = config::HomePath(s.resourceDir);
    s.outputFile = config::HomePath(s.outputFile);
    const std::string image = WrappedImagePath(s.resourceDir);
    progress(Format("Wrapping %s into %s ...\n", s.binaryPath.c_str(), image.c_str()));
    if (WrapVMXImageFormat(s.binaryPath.c_str(), image.c_str(), 0) == 0) {
        return {false, Format(kWrapFailedText, s.binaryPath.c_str(), image.c_str())};
    }
    progress(Format("Building the ROMFS image %s of %s ...\n", s.outputFile.c_str(),
                    s.resourceDir.c_str()));
    RomfsBuildRequest build{s.resourceDir.c_str(), s.outputFile.c_str(), request.version,
                            s.description.c_str()};
    const int status = mk_romfs_ex(&build);
    if (status != 0) {
        return {false, Format(kRomfsFailedText, s.outputFile.c_str(), status)};
    }
    progress(Format("The ROMFS image %s is built, version %08X.\n", s.outputFile.c_str(),
                    static_cast<unsigned>(request.version)));
    return {true, {}};
}

} // namespace kestrel::station
