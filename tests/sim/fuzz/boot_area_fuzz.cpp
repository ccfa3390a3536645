// libFuzzer target: any chip and pages (boot_area_input.h) read by the device-side boot area
// reader, as `kestrel-cli verify` reads a unit's boot code back. The reader may only read pages
// of the chip, a page at a time; what it returns must be what the pages hold: the
// system-information record as the page starts, the header page whole, and every sub-block
// exactly its length, reassembled from the data pages it names in order, none of them in the
// index pass, the end page right after the last, the sub-blocks in the order of their data.
#include "sim/boot_area_reader.h"
#include "sim/fuzz/boot_area_input.h"
#include "sim/page_source.h"

#include <cstdint>
#include <cstdlib>
#include <set>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel;
    const fuzz::BootAreaInput input = fuzz::ParseBootAreaInput({data, size});
    const sim::BootAreaGeometry& chip = input.geometry;
    const std::uint64_t chipPages = std::uint64_t{chip.pagesPerBlock} * chip.blockCount;
    sim::FunctionPageSource source([&](std::uint32_t page, std::uint8_t* out, std::uint32_t n) {
        Check(page < chipPages && n == chip.pageSize); // never outside the chip
        return input.Read(page, {out, n});
    });
    std::string error;
    const auto area = sim::ReadBootArea(source, chip, &error);
    if (!area) {
        Check(!error.empty());
        return 0;
    }
    const std::uint32_t p = chip.pageSize;
    std::vector<std::uint8_t> page(p);
    auto pageBytes = [&](std::uint64_t number) {
        Check(number < chipPages && input.Read(static_cast<std::uint32_t>(number), page));
        return page;
    };
    if (chip.loaderLevel >= 1) {
        const auto sys = pageBytes(std::uint64_t{chip.sysInfoBlock} * chip.pagesPerBlock);
        Check(area->sysInfo.size() == 224 &&
              std::equal(area->sysInfo.begin(), area->sysInfo.end(), sys.begin()));
        Check(area->bootHeaderBlock < area->indexBlock && area->indexBlock < chip.blockCount);
    }
    Check(!area->headerPages.empty() && area->header.page == pageBytes(area->headerPages[0]));
    Check(area->header.configHeader.size() == 48 && area->header.clockTable.size() == 176);

    const std::uint64_t indexStart =
        chip.loaderLevel >= 1 ? std::uint64_t{area->indexBlock} * chip.pagesPerBlock : 0;
    const std::uint32_t passPages = std::min(p == 2048 ? 64u : 32u, chip.pagesPerBlock);
    std::set<std::uint32_t> kinds;
    std::uint64_t previousFirst = 0;
    for (const sim::BootSubBlockView& sub : area->subBlocks) {
        Check(kinds.insert(sub.kind).second && sub.indexPages >= 1);
        Check(sub.data.size() == sub.length &&
              sub.dataPages.size() == (std::uint64_t{sub.length} + p - 1) / p);
        for (std::size_t n = 0; n < sub.dataPages.size(); ++n) {
            const std::uint32_t at = sub.dataPages[n];
            Check(at < indexStart || at >= indexStart + passPages);
            const auto bytes = pageBytes(at);
            const std::size_t take = std::min<std::size_t>(p, sub.length - n * p);
            Check(std::equal(bytes.begin(), bytes.begin() + take, sub.data.begin() + n * p));
        }
        if (!sub.dataPages.empty()) {
            Check(sub.endPage == sub.dataPages.back() + 1);
        }
        const std::uint64_t first = sub.dataPages.empty() ? sub.endPage : sub.dataPages.front();
        Check(first >= previousFirst);
        previousFirst = first;
    }
    return 0;
}
