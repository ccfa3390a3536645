#pragma once
// Boot image selection: a boot code file may be a package of "PRAW" records, each holding the
// boot image for one hardware variant. The variant wanted follows from the loader signature of
// the probed device; its record's data are extracted as "redboot.img" beside the package, and
// that file is what every device of the run is programmed with.
//
// Package record header (16 bytes, u32 little-endian): "PRAW", recordLength (data bytes that
// follow the header), hardwareTag, one word not interpreted. The next record follows the data.
//
// Choices of this station:
// - The package's directory is its path up to and including the last separator, where both '\'
//   and '/' separate (a path without either gives the current directory).
// - When the package's directory does not take a new file (a read-only folder), the image is
//   extracted into the system's temporary directory instead, as "kestrel-redboot-<n>.img" with n
//   a digest of the package's path (ExtractedImageFallback), so a read-only boot folder does not
//   stop the run.
// - The image is first copied into "<image>.part" and renamed to the image only when
//   complete, so a failed copy never leaves a partial image that looks valid, and a package that
//   is itself named "redboot.img" is read whole before it is replaced.
// - A record whose data end before its recordLength refuses the run (result -1) with the
//   message "Image is truncated, can't support this H/W!\n"; no "redboot.img" is left behind.
// - A boot code file that can't be opened refuses the run (result -1) after its message, since
//   no device could be programmed from it.
// - Record offsets are 64-bit, so no recordLength can make the scan wrap around and loop.

#include <cstdint>
#include <optional>
#include <string>

namespace kestrel::program {

inline constexpr std::uint32_t kPackageRecordMagic = 0x57415250u; // the bytes "PRAW"
inline constexpr std::uint32_t kPackageRecordHeaderBytes = 16;
inline constexpr std::uint32_t kDefaultHardwareTag = 0x8000D000u;
inline constexpr const char* kRedbootFileName = "redboot.img";

// The hardware tag wanted for a loader signature; none for loaderClass 2 and above (the boot
// code file is then used unchanged).
std::optional<std::uint32_t> WantedHardwareTag(int loaderClass, int loaderLevel);

// Directory part of a path, with its trailing separator; "" when there is none.
std::string PackageDirectory(const std::string& path);

struct RedbootChoice {
    std::string path; // boot image to write
    int result = 0;   // 0 usable, -1 refuse the run
};

// The extraction path used when the package's own directory does not take a new file.
std::string ExtractedImageFallback(const std::string& packagePath);
// Where a run extracts the boot image of the package at packagePath: beside the package when
// its directory takes a new file (tried with a scratch file that is removed again), else
// ExtractedImageFallback.
std::string ExtractedImagePath(const std::string& packagePath);

// Picks the boot image for a device with the given loader signature out of the boot code file
// at packagePath, showing a message box for each failure.
RedbootChoice SelectRedbootImage(const std::string& packagePath, int loaderClass, int loaderLevel);

} // namespace kestrel::program
