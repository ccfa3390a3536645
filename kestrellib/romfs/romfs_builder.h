#pragma once
// One ROMFS image build, as mk_romfs does it: phase 1 builds the node tree of the input
// directory, phase 2 places every item, phase 3 writes the image. Progress lines go to `out`,
// messages to `err`; a fatal error ends the build (not the process) with its status.
//
// The image is written under a temporary name beside the output ("<output>.part") and renamed
// over the output only when complete, so a failed build never leaves a file that looks like a
// finished image. With [WrapImage] SuppurtenCompress set the image is written to "romtmp.ing"
// in the current directory, compressed by kzip into "<output>.part" and renamed likewise.
// SOURCE_DATE_EPOCH, when set to a number of seconds, replaces every time stamp.
//
// Builds share the current directory's temporary files and the output streams: one build at a
// time per process (the exports hold a lock).

#include "kestrellib/romfs/build_limits.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace kestrel::romfs {

struct ImageRequest {
    std::string inputDir;
    std::string outputPath;
    std::uint32_t versionWord = 0;
    std::string volumeName; // the first 16 characters are kept
    BuildLimits limits;     // the device's limits; tests narrow them
};

// 0, or the status of the first fatal error (see build_log.h).
int BuildRomfsImage(const ImageRequest& request, std::FILE* out, std::FILE* err);

// The temporary file an uncompressed image is written to before it replaces outputPath.
std::string PartialPath(const std::string& outputPath);

inline constexpr const char* kCompressTempName = "romtmp.ing";
inline constexpr int kCompressBlockSize = 2048;

} // namespace kestrel::romfs
