#include "segwrap/download_blocks.h"

#include "segwrap/block_selection.h"
#include "segwrap/elf_reader.h"

#include <cstring>
#include <memory>
#include <new>

namespace kestrel::segwrap {
namespace {

template <typename T>
std::unique_ptr<T[]> NewArray(std::size_t count) {
    std::unique_ptr<T[]> array(new (std::nothrow) T[count]);
    if (!array) {
        throw std::bad_alloc();
    }
    return array;
}

// Builds the whole set aside and hands it over only when every allocation has succeeded.
int FillBlocks(const char* elfPath, DownloadBlockSet* blockSet) {
    auto reader = ElfReader::Create();
    if (!reader || !reader->LoadFile(elfPath)) {
        return 0;
    }
    const auto views = SelectBlocks(*reader);
    if (!views) {
        return 0;
    }
    const std::size_t count = views->blocks.size();
    auto sizes = NewArray<std::uint32_t>(count);
    auto virtAddrs = NewArray<std::uint32_t>(count);
    auto physAddrs = NewArray<std::uint32_t>(count);
    auto data = NewArray<unsigned char*>(count);
    std::vector<std::unique_ptr<unsigned char[]>> copies(count);
    for (std::size_t i = 0; i < count; ++i) {
        const BlockView& block = views->blocks[i];
        sizes[i] = block.size;
        virtAddrs[i] = block.virtAddr;
        physAddrs[i] = block.physAddr;
        if (block.size != 0) {
            copies[i] = NewArray<unsigned char>(block.size);
            std::memcpy(copies[i].get(), block.data, block.size);
        }
        data[i] = copies[i].get();
    }
    for (auto& copy : copies) {
        copy.release(); // now owned through data[]
    }
    blockSet->count = static_cast<std::uint32_t>(count);
    blockSet->entry = views->entry;
    blockSet->sizes = sizes.release();
    blockSet->data = data.release();
    blockSet->virtAddrs = virtAddrs.release();
    blockSet->physAddrs = physAddrs.release();
    return 1;
}

} // namespace
} // namespace kestrel::segwrap

int GetDownloadBlocks(const char* elfPath, DownloadBlockSet* blockSet) {
    if (elfPath == nullptr || blockSet == nullptr) {
        return 0;
    }
    try {
        return kestrel::segwrap::FillBlocks(elfPath, blockSet);
    } catch (...) {
        return 0; // memory exhausted: nothing was handed over
    }
}

void BlockRelease(DownloadBlockSet* blockSet) {
    if (blockSet == nullptr) {
        return;
    }
    if (blockSet->data != nullptr) {
        for (std::uint32_t i = 0; i < blockSet->count; ++i) {
            delete[] blockSet->data[i];
        }
    }
    delete[] blockSet->sizes;
    delete[] blockSet->data;
    delete[] blockSet->virtAddrs;
    delete[] blockSet->physAddrs;
    *blockSet = DownloadBlockSet{};
}
