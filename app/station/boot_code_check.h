#pragma once
// Checking boot code files without a device, as a run would read them: a wrapped boot image is
// checked as the boot-code procedure reads it (header, checksum, every block's tag and data); a
// boot code package has each of its records checked, and for every loader signature the
// station knows, the report says which image a device of that signature would be given, or
// that the run would refuse it.

#include "app/station/check_report.h"
#include "kestrellib/program/boot_image_format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::station {

// A boot image found sound, with the sub-headers of its blocks in file order.
struct CheckedBootImage {
    std::string label;
    std::vector<program::SubHeader> blocks;
};

// Checks the image that lies at offset for length bytes of the file (a whole file: 0 and
// UINT64_MAX); label names it in the report. With listBlocks the header and every block are
// listed. True when the image is sound; its blocks are then added to *images when given.
bool CheckBootImageAt(const std::string& path, std::uint64_t offset, std::uint64_t length,
                      const std::string& label, bool listBlocks, CheckReport& report,
                      std::vector<CheckedBootImage>* images = nullptr);

// Checks a boot code file: a package or a plain boot image. Every sound image a device may be
// given is added to *images when given.
void CheckBootCodeFile(const std::string& path, bool listBlocks, CheckReport& report,
                       std::vector<CheckedBootImage>* images = nullptr);

} // namespace kestrel::station
