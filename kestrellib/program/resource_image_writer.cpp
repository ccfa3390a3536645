#include "kestrellib/program/resource_image_writer.h"

#include "kestrellib/program/config_files.h"
#include "kestrellib/program/good_block_map.h"
#include "kestrellib/program/job_notifications.h"
#include "kestrellib/program/resource_page_plan.h"
#include "kestrellib/program/stop_request.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace kestrel::program {
namespace {

const char* ImagePath(const IspJob& job, ResourceImageKind kind) {
    return kind == ResourceImageKind::kRomfs1 ? job.romfs1Path : job.romfsPath;
}

// The image file, held open while its area is written.
class ImageFile {
public:
    bool Open(const char* path) {
        std::error_code error;
        if (path == nullptr || !std::filesystem::is_regular_file(path, error)) {
            return false; // also a directory, which a stream would open
        }
        in_.open(path, std::ios::binary);
        if (!in_) {
            return false;
        }
        in_.seekg(0, std::ios::end);
        const std::streamoff end = in_.tellg();
        in_.seekg(0, std::ios::beg);
        if (end < 0 || !in_) {
            return false;
        }
        length_ = static_cast<std::uint64_t>(end);
        return true;
    }

    std::uint64_t Length() const { return length_; }

    // Reads exactly size bytes; false when the file gives fewer.
    bool Read(std::uint8_t* data, std::uint32_t size) {
        in_.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(size));
        return in_.gcount() == static_cast<std::streamsize>(size);
    }

    // Reads up to four bytes from the start for the compression check, then rewinds.
    bool StartsCompressed() {
        std::uint8_t head[sizeof kKzipMagic] = {};
        in_.read(reinterpret_cast<char*>(head), sizeof head);
        const auto got = static_cast<std::size_t>(in_.gcount());
        in_.clear();
        in_.seekg(0, std::ios::beg);
        return IsKzipImage(std::span<const std::uint8_t>(head, got));
    }

private:
    std::ifstream in_;
    std::uint64_t length_ = 0;
};

// Writes (and with readVerify reads back and compares) the first pages pages of data into the
// area block areaIndex. 1 done, 0 a page failed, -1 stop requested.
int WriteChunk(const device::NandLayout& layout, const IspJob& job, const ResourceArea& area,
               std::uint16_t areaIndex, const std::uint8_t* data, std::uint32_t pages,
               std::vector<std::uint8_t>& check, ResourceNand& nand) {
    const std::uint32_t pageSize = layout.pageSize;
    for (std::uint32_t j = 0; j < pages; ++j) {
        if (JobShouldEnd(job)) {
            return -1;
        }
        const std::uint32_t page = AreaPhysicalPage(layout, area, areaIndex, j);
        const std::uint8_t* pageData = data + std::size_t{j} * pageSize;
        if (!nand.WritePage(page, pageData, pageSize)) {
            return 0;
        }
        if (job.readVerify != 0) {
            if (!nand.ReadPage(page, check.data(), pageSize) ||
                std::memcmp(check.data(), pageData, pageSize) != 0) {
                return 0;
            }
        }
    }
    return 1;
}

enum class RecordWrite { kDone, kWriteFailed, kNotKept };

// Writes the record into page 0 of the block of map entry 0 and the map into the pages after
// it, reading each page back.
RecordWrite WriteRecordAndMap(const device::NandLayout& layout, const ResourceArea& area,
                              const ResourceAreaRecord& record, const GoodBlockMap& map,
                              std::vector<std::uint8_t>& page, ResourceNand& nand) {
    const std::uint32_t pageSize = layout.pageSize;
    std::fill(page.begin(), page.end(), std::uint8_t{0});
    std::memcpy(page.data(), &record, sizeof record);
    // Written and read back page by page: the device finds the image through these pages
    // alone, so one that does not hold what was written loses the whole area.
    std::vector<std::uint8_t> back(pageSize);
    auto writeChecked = [&](std::uint32_t pageInBlock) {
        const std::uint32_t physical = AreaPhysicalPage(layout, area, map[0], pageInBlock);
        if (!nand.WritePage(physical, page.data(), pageSize)) {
            return RecordWrite::kWriteFailed;
        }
        return nand.ReadPage(physical, back.data(), pageSize) &&
                       std::equal(back.begin(), back.end(), page.begin())
                   ? RecordWrite::kDone
                   : RecordWrite::kNotKept;
    };
    if (const RecordWrite written = writeChecked(0); written != RecordWrite::kDone) {
        return written;
    }
    const std::uint32_t mapPages = MapPageCount(map.AreaBlocks(), pageSize);
    for (std::uint32_t p = 0; p < mapPages; ++p) {
        map.Encode(std::size_t{p} * pageSize, std::span<std::uint8_t>(page.data(), pageSize));
        if (const RecordWrite written = writeChecked(p + 1); written != RecordWrite::kDone) {
            return written;
        }
    }
    return RecordWrite::kDone;
}

} // namespace

int WriteResourceImage(const device::NandLayout& layout, const IspJob& job, ResourceImageKind kind,
                       ResourceNand& nand) {
    const ResourceArea area = ResourceAreaOf(layout, kind);
    const std::uint32_t blockBytes = BlockBytes(layout);
    std::uint32_t encrypted = 0;
    if (kind == ResourceImageKind::kRomfsBackup) {
        PostJobStatus(job, kStatusBusy, 0);
    } else if (kind == ResourceImageKind::kRomfs1) {
        if (area.blocks == 0) {
            return 0;
        }
        PostJobStatus(job, kStatusBusy, 0);
        encrypted = static_cast<std::uint32_t>(config::Read(config::isp::kRomfs1Encryption));
    }

    if (blockBytes == 0) {
        ShowDeviceMessage(job, kTextBadGeometry);
        return -1;
    }

    ImageFile file;
    if (!file.Open(ImagePath(job, kind))) {
        const char* path = ImagePath(job, kind);
        ShowDeviceMessage(job, kTextOpenFileNamed,
                          path == nullptr || *path == '\0' ? "(no file is named)" : path);
        return -1;
    }
    const std::uint64_t length = file.Length();
    const ResourceAreaRecord record{
        kResourceAreaMagic,
        kResourceAreaVersion,
        area.blocks,
        static_cast<std::uint32_t>(length),
        layout.romfsBlocks,
        layout.romfs1Blocks,
        static_cast<std::uint32_t>(kind),
        encrypted,
        file.StartsCompressed() ? 1u : 0u,
    };

    const std::uint32_t steps = ImageProgressSteps(layout, length, area.blocks);
    if (config::Read(config::isp::kRomfsDualImage) != 0) {
        if (kind == ResourceImageKind::kRomfs) {
            PostProgressRange(job, 2 * steps);
        }
    } else {
        PostProgressRange(job, steps);
    }

    GoodBlockMap map(area.blocks);
    for (std::uint32_t i = 0; i < area.blocks; ++i) {
        if (JobShouldEnd(job)) {
            return -1;
        }
        PostProgressSteps(job, 1);
        if (nand.TestBlock(static_cast<std::uint16_t>(area.start + i))) {
            map.Add(i);
        }
    }
    if (map.Empty()) {
        ShowDeviceMessage(job, kTextWriteResourceError);
        PostJobEvent(job, kEventResourceFailed);
        return -1;
    }

    if (DataBlockCount(length, blockBytes) > map.Size() - 1 || length > UINT32_MAX) {
        ShowDeviceMessage(job, kTextImageTooLong);
        return -1;
    }
    if (MapPageCount(area.blocks, layout.pageSize) >= layout.pagesPerBlock) {
        ShowDeviceMessage(job, kTextMapTooLarge);
        return -1;
    }

    // Two buffers for the whole image, whatever its size: one chunk and one page.
    std::vector<std::uint8_t> chunk(blockBytes);
    std::vector<std::uint8_t> page(layout.pageSize);
    std::uint64_t remaining = length;
    std::size_t entry = 1;
    while (remaining > 0) {
        const auto size =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, blockBytes));
        if (!file.Read(chunk.data(), size)) {
            ShowDeviceMessage(job, kTextReadFileError);
            return -1;
        }
        const std::uint32_t pages = PagesForBytes(size, layout.pageSize);
        std::fill(chunk.begin() + size, chunk.begin() + std::size_t{pages} * layout.pageSize,
                  std::uint8_t{0});
        for (;;) {
            if (entry >= map.Size()) {
                ShowDeviceMessage(job, kTextNoGoodBlockLeft);
                return -1;
            }
            const int written =
                WriteChunk(layout, job, area, map[entry], chunk.data(), pages, page, nand);
            if (written < 0) {
                return -1;
            }
            if (written > 0) {
                break;
            }
            map.Remove(entry); // the block failed: the chunk goes to the next good one
        }
        PostProgressSteps(job, pages);
        remaining -= size;
        ++entry;
    }

    if (const RecordWrite written = WriteRecordAndMap(layout, area, record, map, page, nand);
        written != RecordWrite::kDone) {
        ShowDeviceMessage(job, written == RecordWrite::kWriteFailed ? kTextWritePageError
                                                                    : kTextRecordNotKept);
        return -1;
    }
    return 0;
}

} // namespace kestrel::program
