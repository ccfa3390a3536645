#pragma once
// The Advanced page's remembered inputs: the five [WrapImage] keys of isp.ini, read in this
// order when the page starts and written in this order by every save (description, Resource,
// RomFsOutPutName, binary, Packages), and the take-over rule of its four pickers.

#include <optional>
#include <string>

namespace kestrel::station {

struct WrapSettings {
    std::string description;
    std::string resourceDir;
    std::string outputFile;
    std::string binaryPath;
    std::string packagesDir; // source of the "Binary Ver" text only

    bool operator==(const WrapSettings&) const = default;
};

// Each key read with default "" (at most 255 characters).
WrapSettings LoadWrapSettings();

// Writes the five keys as plain text; false when isp.ini cannot be written.
bool SaveWrapSettings(const WrapSettings& settings);

enum class WrapPicker { kResource, kPackages, kBinary, kOutput };

// The page state after a picker. On confirm (choice given) the picked field takes the choice
// and the other four fields take the texts typed in their edits, so that refreshing the
// controls loses nothing; on cancel the state stays as it was. The keys are saved in both
// cases (by the caller, with SaveWrapSettings).
WrapSettings AfterPicker(WrapPicker picker, const WrapSettings& state, const WrapSettings& typed,
                         const std::optional<std::string>& choice);

// Whether a picker refreshes both version edits afterwards (the two folder pickers do).
constexpr bool RefreshesVersions(WrapPicker picker) {
    return picker == WrapPicker::kResource || picker == WrapPicker::kPackages;
}

} // namespace kestrel::station
