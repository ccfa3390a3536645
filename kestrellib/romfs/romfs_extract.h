#pragma once
// Extracting a ROMFS image into a directory of the host, safely for any image, however made.
//
// PlanExtraction decides everything before a byte is written: the image must pass the whole-image
// check (RomfsImage::Check, as "romfs check" runs it); every name must be one plain name (not
// empty, not "." or ".." past a directory's first two entries, no '/', '\\' or ':', so no
// absolute path, parent step or drive letter); and the walk from the root may reach each node
// once only, so the number of items is bounded by the image's node count however the
// directories point at each other.
//
// ExtractImage then writes the plan into target, which must be missing or an empty directory:
// every path it writes is one it created itself, below target. On any failure it removes what
// it made (target too, when it made it) and says why.
//
// Both work on an image in memory (RomfsImage::Parse), so a fuzz target can drive them.

#include "kestrellib/romfs/romfs_reader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::romfs {

struct ExtractItem {
    std::string path; // below the target, '/'-separated, in the image's stored names
    std::uint32_t node = 0;
    bool directory = false;
};

// Whether a stored name can be written as one entry of a host directory.
bool IsPlainEntryName(const std::string& name);

// Every item below the root, each directory before its members. False with the reason.
bool PlanExtraction(const RomfsImage& image, std::vector<ExtractItem>* plan, std::string* error);

// Extracts the whole image into target. False with the reason (naming the path concerned).
bool ExtractImage(const RomfsImage& image, const std::string& target, std::string* error);

} // namespace kestrel::romfs
