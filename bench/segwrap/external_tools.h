#pragma once
// The outside tools the Segwrap benchmarks compare against, run as the command line would.

#include <filesystem>
#include <optional>

namespace kestrel::bench {

// Compression speed in bytes per second that `zstd -b1 -T1` reports for the file (zstd checks
// its own round trip in benchmark mode). Nothing if zstd is missing or its output is not
// understood.
std::optional<double> ZstdLevel1Speed(const std::filesystem::path& file);

// Wall-clock seconds of one `objcopy -I elf32-little -O binary elf out` (a whole process run), or
// nothing if it fails.
std::optional<double> ObjcopyBinarySeconds(const std::filesystem::path& elf,
                                           const std::filesystem::path& out);

} // namespace kestrel::bench
