#pragma once
// "Wrap Image" of the Advanced page, without its widgets. PrepareWrap checks the two version
// texts and the description and saves the inputs; RunWrap then wraps the firmware ELF file into
// <resource>/image/4410_mmi.rap (Segwrap's WrapVMXImageFormat, flags 0), so that the resource
// tree carries it, and builds the ROMFS image of the resource tree into the output file
// (Kestrellib's mk_romfs_ex) with the version word and the description as volume name.
//
// A wrap that fails stops the sequence: no ROMFS image is built from a tree whose firmware image
// is missing or stale. Either failure comes back as a message for the operator.
//
// RunWrap blocks for the whole build; the page runs it off its UI thread, one at a time, with
// "Wrap Image" disabled meanwhile.

#include "app/station/wrap_settings.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kestrel::station {

inline constexpr const char* kVersionErrorText = "Version is error!\n";
inline constexpr const char* kResourceVerLabel = "Resource Ver";
inline constexpr const char* kBinaryVerLabel = "Binary Ver";
inline constexpr const char* kDescriptionErrorText = "Description is error!\n";
inline constexpr const char* kWrapFailedText = "Can't wrap the binary file %s into %s.\n";
inline constexpr const char* kRomfsFailedText = "Can't build the ROMFS image %s (error %d).\n";
inline constexpr std::size_t kMaxDescriptionLength = 16;

// The firmware image's place in the resource tree.
std::string WrappedImagePath(const std::string& resourceDir);

struct WrapRequest {
    std::uint32_t version = 0; // resource version in the high 16 bits, binary version low
    WrapSettings settings;
};

// The message of a version text that is no version field: kVersionErrorText, then which field
// it is (label "Resource Ver" or "Binary Ver"), what was typed and the form expected.
std::string VersionErrorMessage(std::string_view label, std::string_view typed);

// Steps before the build, in order: the "Resource Ver" and "Binary Ver" texts must be version
// fields (else VersionErrorMessage of the first wrong one and nothing changes); the typed
// description, resource, output and binary texts are taken over into state (the packages directory
// is not: its stored value is saved); the description must have 1 to 16 characters (else
// kDescriptionErrorText and nothing is written); the five keys are saved. Returns "" and fills
// request when the build may start, else the message to show.
std::string PrepareWrap(std::string_view resourceVersion, std::string_view binaryVersion,
                        const WrapSettings& typed, WrapSettings& state, WrapRequest& request);

struct WrapOutcome {
    bool ok = false;
    std::string message; // for the operator when !ok
};

// Wraps and builds; progress lines (ending in "\n") go to progress as each step starts and ends.
WrapOutcome RunWrap(const WrapRequest& request,
                    const std::function<void(const std::string& line)>& progress);

} // namespace kestrel::station
