#pragma once
// Writing a whole file that the station later reads by name (a boot image, a boot code package):
// the bytes go to "<path>.part" first, which is renamed over path only when complete, so a
// failed write never leaves a partial file under the name and keeps an earlier file intact.

#include <cstdint>
#include <span>
#include <string>

namespace kestrel::program {

// False with the reason in *error when the file cannot be created, written or renamed; the
// temporary file is then removed.
bool WriteFileReplacing(const std::string& path, std::span<const std::uint8_t> bytes,
                        std::string* error = nullptr);

} // namespace kestrel::program
