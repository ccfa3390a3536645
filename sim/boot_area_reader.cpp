#include "sim/boot_area_reader.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace kestrel::sim {
namespace {

constexpr std::uint32_t kIndexMagic = 0x55AACC33;
constexpr std::uint32_t kIndexMark = 0xFFFE0000;
constexpr std::size_t kSysInfoBytes = 224;
constexpr std::size_t kConfigHeaderBytes = 48;
constexpr std::size_t kClockTableBytes = 176;
constexpr std::uint32_t kDirectory[8] = {0x53384B44, 0, 32, 80, 256, 272, 0xFFFFFFFF, 0xFFFFFFFF};

std::uint32_t U32At(const std::vector<std::uint8_t>& page, std::size_t offset) {
    return std::uint32_t{page[offset]} | std::uint32_t{page[offset + 1]} << 8 |
           std::uint32_t{page[offset + 2]} << 16 | std::uint32_t{page[offset + 3]} << 24;
}

std::uint16_t U16At(const std::vector<std::uint8_t>& page, std::size_t offset) {
    return static_cast<std::uint16_t>(page[offset] | page[offset + 1] << 8);
}

std::optional<BootAreaView> Fail(std::string* error, std::string reason) {
    if (error != nullptr) {
        *error = std::move(reason);
    }
    return std::nullopt;
}

class Pages {
public:
    Pages(PageSource& source, const BootAreaGeometry& geometry)
        : source_(source), geometry_(geometry) {}

    std::uint64_t PageCount() const {
        return std::uint64_t{geometry_.pagesPerBlock} * geometry_.blockCount;
    }
    // Reads a page of the chip into a fresh buffer; nullopt beyond the chip or on failure.
    std::optional<std::vector<std::uint8_t>> Read(std::uint64_t page) {
        if (page >= PageCount()) {
            return std::nullopt;
        }
        std::vector<std::uint8_t> bytes(geometry_.pageSize);
        if (!source_.ReadPage(static_cast<std::uint32_t>(page), bytes)) {
            return std::nullopt;
        }
        return bytes;
    }

private:
    PageSource& source_;
    const BootAreaGeometry& geometry_;
};

bool DecodeHeader(const std::vector<std::uint8_t>& page, BootHeaderView& header) {
    header = BootHeaderView{};
    header.page = page;
    std::size_t configAt = 0;
    std::size_t clockAt = kConfigHeaderBytes;
    if (std::memcmp(page.data(), "CK8S", 4) == 0) {
        header.directoryForm = false;
    } else {
        for (std::size_t i = 0; i < 8; ++i) {
            if (U32At(page, 4 * i) != kDirectory[i]) {
                return false;
            }
        }
        header.directoryForm = true;
        configAt = 32;
        clockAt = 80;
        for (std::size_t i = 0; i < 3; ++i) {
            header.imageWords[i] = U32At(page, 256 + 4 * i);
        }
        if (std::memcmp(page.data() + configAt, "DK8S", 4) != 0) {
            return false;
        }
    }
    header.configHeader.assign(page.begin() + configAt,
                               page.begin() + configAt + kConfigHeaderBytes);
    header.clockTable.assign(page.begin() + clockAt, page.begin() + clockAt + kClockTableBytes);
    return true;
}

struct IndexPage {
    std::uint32_t page;
    std::vector<std::uint8_t> bytes;
};

} // namespace

std::optional<BootAreaView> ReadBootArea(PageSource& source, const BootAreaGeometry& geometry,
                                         std::string* error) {
    const std::uint32_t p = geometry.pageSize;
    const std::uint32_t b = geometry.pagesPerBlock;
    if (p < 512 || p > 16384 || p % 4 != 0 || b < 4 || geometry.blockCount < 8) {
        return Fail(error, "geometry without room for a boot area");
    }
    Pages pages(source, geometry);
    BootAreaView view;
    std::uint64_t indexStart = 0;

    if (geometry.loaderLevel >= 1) {
        const auto sys = pages.Read(std::uint64_t{geometry.sysInfoBlock} * b);
        if (!sys || std::memcmp(sys->data(), "SYAL", 4) != 0 ||
            std::memcmp(sys->data() + 12, "EYAL", 4) != 0) {
            return Fail(error, "no system-information page in block " +
                                   std::to_string(geometry.sysInfoBlock));
        }
        view.sysInfo.assign(sys->begin(), sys->begin() + kSysInfoBytes);
        // The NAND record the host wrote for the device must describe this chip.
        if (U16At(*sys, 60 + 4) != p || U16At(*sys, 60) != b) {
            return Fail(error, "the system-information page describes another geometry");
        }
        view.bootHeaderBlock = U16At(*sys, 20);
        view.indexBlock = U16At(*sys, 24);
        if (view.bootHeaderBlock >= geometry.blockCount || view.indexBlock >= geometry.blockCount ||
            view.indexBlock <= view.bootHeaderBlock) {
            return Fail(error, "boot header or index block outside the chip");
        }
        view.headerPages = {view.bootHeaderBlock * b};
        indexStart = std::uint64_t{view.indexBlock} * b;
    } else {
        view.headerPages = {b == 256 ? 16u : b, 2 * b, 3 * b};
    }

    for (std::size_t i = 0; i < view.headerPages.size(); ++i) {
        const auto page = pages.Read(view.headerPages[i]);
        if (!page) {
            return Fail(error, "boot header page unreadable");
        }
        if (i == 0) {
            if (!DecodeHeader(*page, view.header)) {
                return Fail(error, "no boot header at page " + std::to_string(view.headerPages[0]));
            }
        } else if (*page != view.header.page) {
            return Fail(error, "boot header copies differ");
        }
    }

    // Index pages: one pass over the first pages of the index block.
    const std::uint32_t passPages = std::min(p == 2048 ? 64u : 32u, b);
    std::map<std::uint32_t, std::vector<IndexPage>> byKind;
    for (std::uint32_t k = 0; k < passPages; ++k) {
        auto page = pages.Read(indexStart + k);
        if (!page || U32At(*page, 0) != kIndexMagic ||
            (U32At(*page, 4) & 0xFFFF0000) != kIndexMark) {
            continue;
        }
        const std::uint32_t kind = U32At(*page, 4) & 0xF00;
        byKind[kind].push_back({static_cast<std::uint32_t>(indexStart + k), std::move(*page)});
    }

    const std::uint32_t entriesPerPage = p / 4 - 4;
    for (auto& [kind, list] : byKind) {
        BootSubBlockView sub;
        sub.kind = kind;
        sub.headPage = list[0].page;
        sub.indexPages = static_cast<std::uint32_t>(list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            const std::uint32_t sequence = U32At(list[i].bytes, 4) & 0xFF;
            if (sequence != (i == 0 ? 1u : i)) {
                return Fail(error,
                            "index page " + std::to_string(list[i].page) + " out of sequence");
            }
        }
        sub.length = U32At(list[0].bytes, 8);
        sub.endPage = U32At(list[0].bytes, 12);
        const std::uint64_t dataPages = (std::uint64_t{sub.length} + p - 1) / p;
        if (dataPages > std::uint64_t{entriesPerPage} * list.size()) {
            return Fail(error, "index list of kind " + std::to_string(kind) + " is cut short");
        }
        // The buffer grows with the pages read, not with the length the head claims: a damaged
        // head may claim up to 2 GiB on 16 KiB pages, and its data pages fail long before.
        for (std::uint64_t n = 0; n < dataPages; ++n) {
            const auto& index = list[n / entriesPerPage].bytes;
            const std::uint32_t dataPage = U32At(index, 16 + 4 * (n % entriesPerPage));
            if (dataPage < indexStart + passPages && dataPage >= indexStart) {
                return Fail(error, "a data page lies in the index block");
            }
            const auto page = pages.Read(dataPage);
            if (!page) {
                return Fail(error, "data page " + std::to_string(dataPage) + " unreadable");
            }
            const std::size_t take = std::min<std::uint64_t>(p, sub.length - n * p);
            sub.data.insert(sub.data.end(), page->begin(), page->begin() + take);
            sub.dataPages.push_back(dataPage);
        }
        if (!sub.dataPages.empty() && sub.endPage != sub.dataPages.back() + 1) {
            return Fail(error, "end page of kind " + std::to_string(kind) +
                                   " does not follow "
                                   "its last data page");
        }
        view.subBlocks.push_back(std::move(sub));
    }

    // File order: data were written one sub-block after the other.
    auto firstPage = [](const BootSubBlockView& s) {
        return s.dataPages.empty() ? s.endPage : s.dataPages.front();
    };
    std::stable_sort(view.subBlocks.begin(), view.subBlocks.end(),
                     [&](const BootSubBlockView& a, const BootSubBlockView& c) {
                         if (firstPage(a) != firstPage(c)) {
                             return firstPage(a) < firstPage(c);
                         }
                         return a.dataPages.empty() && !c.dataPages.empty();
                     });
    return view;
}

} // namespace kestrel::sim
