#pragma once
// Wrapping an ELF file into a VMX image with the reasons: what WrapVMXImageFormat does, with a
// failure told in words and naming the file it concerns, and warnings for what is odd but
// allowed. The front ends print these; the export keeps its silent 1/0.
//
// The image is written to "<image>.part" beside the target and renamed over it only when
// complete, so a failed wrap leaves any earlier image unchanged and no partial file behind. An
// output that is the same file as the ELF file (the same name, or a hard or symbolic link to it)
// is refused before anything is opened for writing.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::segwrap {

struct WrapReport {
    bool ok = false;
    std::string file;                  // on failure: the file the reason concerns
    std::string reason;                // on failure: what went wrong, in words
    std::vector<std::string> warnings; // odd but allowed, e.g. an ELF machine other than ARM
};

// The machine number of 32-bit ARM in the ELF header; other machines are wrapped with a warning.
inline constexpr std::uint16_t kElfMachineArm = 40;

WrapReport WrapImage(const char* elfPath, const char* imagePath, std::uint32_t flags);

} // namespace kestrel::segwrap
