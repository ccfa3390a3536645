// libFuzzer target: any bytes as the NAND pages of a resource area: the area record with its
// block map in the first good block and the image's chunks after it, read by the device-side
// reader as the device reads them. Pages beyond the input read erased (0xFF). The reader must
// stay inside its pages and never return more image than the record says.
#include "sim/page_source.h"
#include "sim/resource_area_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::sim;
    if (size < 1) {
        return 0;
    }
    // The first byte picks a geometry; the rest are the pages from the area's first one on.
    static constexpr ResourceAreaGeometry kGeometries[] = {{2048, 4, false, 0, 8},
                                                           {2048, 64, false, 1, 3},
                                                           {4096, 8, true, 0, 4},
                                                           {512, 32, false, 0, 16}};
    const ResourceAreaGeometry geometry = kGeometries[data[0] % std::size(kGeometries)];
    const std::uint8_t* pages = data + 1;
    const std::size_t bytes = size - 1;
    const std::uint32_t physicalPerBlock = geometry.pagesPerBlock * (geometry.pairedPage ? 2 : 1);
    const std::uint64_t first = std::uint64_t{geometry.areaStart} * physicalPerBlock;
    const std::uint64_t last = first + std::uint64_t{geometry.areaBlocks} * physicalPerBlock;
    FunctionPageSource source([&](std::uint32_t page, std::uint8_t* out, std::uint32_t length) {
        if (page < first || page >= last) {
            std::abort(); // a read outside the area
        }
        const std::uint64_t at = (page - first) * std::uint64_t{geometry.pageSize};
        std::memset(out, 0xFF, length);
        if (at < bytes) {
            std::memcpy(out, pages + at, std::min<std::uint64_t>(length, bytes - at));
        }
        return true;
    });
    std::string error;
    const auto area = ReadResourceArea(source, geometry, &error);
    if (area && area->image.size() > std::uint64_t{geometry.areaBlocks} * geometry.pagesPerBlock *
                                         geometry.pageSize) {
        std::abort();
    }
    return 0;
}
