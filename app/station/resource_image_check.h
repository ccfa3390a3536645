#pragma once
// Checking a resource image without a device: that it reads as a ROMFS image once undone as the
// build made it (Scrivet-encoded Romfs1 images decoded, "FZKZ"-compressed images expanded), and
// that the resource writer would take it into its area of the configured size: one block of
// the area holds the area record and block map, each further good block one block of the image.

#include "app/station/check_report.h"

#include <cstdint>
#include <string>

namespace kestrel::station {

// The block geometry an area is measured in. The chip is not known without a device; the check
// assumes the geometry of the last device the station decoded (profile.ini) or one given.
struct AreaGeometry {
    std::uint32_t pageSize = 2048;
    std::uint32_t pagesPerBlock = 64;
    std::uint32_t BlockBytes() const { return pageSize * pagesPerBlock; }
};

enum class ImageEncoding { kPlain, kScrivet, kScrivetWithSkip };

struct ResourceImageCheck {
    std::string label; // "Romfs", "Romfs1"
    std::string path;
    int areaMb = 0;               // as configured, for the report
    std::uint32_t areaBlocks = 0; // as the NAND layout makes it in the geometry
    ImageEncoding encoding = ImageEncoding::kPlain;
};

void CheckResourceImage(const ResourceImageCheck& image, const AreaGeometry& geometry,
                        CheckReport& report);

} // namespace kestrel::station
