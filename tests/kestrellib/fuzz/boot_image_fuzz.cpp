// libFuzzer target: any bytes as a wrapped boot image, read as the boot-code procedure reads it
// (header, checksum pass, every block) and as a whole image is loaded. Both must come to the
// same verdict on the same block, and an accepted image must hold the blocks the checksum pass
// listed, each with as many bytes as its sub-header says.
#include "kestrellib/program/boot_image_format.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::program;
    const std::span<const std::uint8_t> bytes(data, size);
    BootImageReader checked;
    if (!checked.OpenBytes(bytes)) {
        std::abort();
    }
    std::vector<SubHeader> blocks;
    std::uint32_t checkBlock = 0;
    const ImageError check = CheckBootImage(checked, &blocks, &checkBlock);

    BootImageReader loaded;
    if (!loaded.OpenBytes(bytes)) {
        std::abort();
    }
    BootImage image;
    std::uint32_t loadBlock = 0;
    const ImageError load = LoadBootImage(loaded, image, &loadBlock);
    if (check != load || checkBlock != loadBlock) {
        std::abort();
    }
    if (load != ImageError::kNone) {
        if (!blocks.empty() || ImageErrorMessage(load, loadBlock).empty()) {
            std::abort();
        }
        return 0;
    }
    if (image.blocks.size() != blocks.size() || blocks.size() != image.header.blockCount) {
        std::abort();
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        if (image.blocks[i].data.size() != blocks[i].blockLength ||
            image.blocks[i].subHeader.blockType != blocks[i].blockType) {
            std::abort();
        }
    }
    return 0;
}
