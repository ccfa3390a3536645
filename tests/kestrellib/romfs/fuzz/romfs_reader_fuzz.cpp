// libFuzzer target: any bytes through the ROMFS reader. Nothing may read outside the image; an
// image that passes the check must also list, look up and read without a fault.
#include "kestrellib/romfs/romfs_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::romfs;
    std::string error;
    auto image = RomfsImage::Parse(std::vector<unsigned char>(data, data + size), &error);
    if (!image) {
        return 0;
    }
    const bool consistent = image->Check(&error);
    std::vector<RomfsListEntry> entries;
    std::vector<unsigned char> content;
    const std::uint32_t count = std::min<std::uint32_t>(image->NodeCount(), 256);
    for (std::uint32_t i = 0; i < count; ++i) {
        const bool isDirectory = RomfsImage::IsDirectory(image->Node(i));
        const bool listed = image->List(i, &entries, &error);
        const bool read = image->ReadFile(i, &content, &error);
        if (consistent && (listed != isDirectory || read == isDirectory)) {
            std::abort();
        }
        if (consistent && listed) {
            for (const RomfsListEntry& entry : entries) {
                if (!image->Lookup(i, entry.name, &error)) {
                    std::abort();
                }
            }
        }
    }
    return 0;
}
