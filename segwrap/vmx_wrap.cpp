#include "segwrap/block_selection.h"
#include "segwrap/byte_order.h"
#include "segwrap/elf_reader.h"
#include "segwrap/file_bytes.h"
#include "segwrap/huffman_encoder.h"
#include "segwrap/vmx_date_stamp.h"
#include "segwrap/vmx_image.h"

#include "platform/clock/clock.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace kestrel::segwrap {
namespace {

constexpr std::size_t kHeaderBytes = sizeof(ImageHeader);
constexpr std::size_t kDescriptorBytes = sizeof(ImageDescriptor);
constexpr std::size_t kRecordHeadBytes = sizeof(SegmentRecord);
constexpr std::size_t kSpareBytes = 10;
constexpr std::size_t kCompressionSlack = 2048;

std::uint64_t RecordLength(std::uint32_t dataSize) {
    return (kRecordHeadBytes + std::uint64_t{dataSize} + 3) / 4 * 4;
}

std::unique_ptr<unsigned char[]> TryAllocate(std::size_t bytes) {
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[bytes]);
}

void StoreWords(unsigned char* at, std::initializer_list<std::uint32_t> words) {
    for (std::uint32_t w : words) {
        StoreLe32(at, w);
        at += 4;
    }
}

// Packs descriptor and records at buffer + 16 and returns the payload length.
std::size_t PackPayload(const BlockViews& views, std::uint32_t flags, unsigned char* buffer) {
    unsigned char* at = buffer + kHeaderBytes + kDescriptorBytes;
    for (const BlockView& block : views.blocks) {
        const auto length = static_cast<std::uint32_t>(RecordLength(block.size));
        StoreWords(at, {MagicWord("VMXs"), length, block.physAddr, block.virtAddr, 0, 1});
        if (block.size != 0) {
            std::memcpy(at + kRecordHeadBytes, block.data, block.size);
        }
        // The fill bytes are zero, so an image is the same for the same ELF file and hour.
        std::memset(at + kRecordHeadBytes + block.size, 0, length - kRecordHeadBytes - block.size);
        at += length;
    }
    const std::uint32_t imageFlags = (flags & 0x00FFFFFEu) | 0x61000001u;
    StoreWords(buffer + kHeaderBytes,
               {MagicWord("VMXd"), static_cast<std::uint32_t>(kDescriptorBytes), 0x01000001u,
                DateStamp(platform::SystemTimeUtc()), imageFlags,
                static_cast<std::uint32_t>(views.blocks.size()), views.entry, 0, 1});
    return static_cast<std::size_t>(at - buffer) - kHeaderBytes;
}

// Empties an output that holds a partial image, so that nothing there can pass for an image.
void EmptyOutput(const char* imagePath) {
    FileHandle again(std::fopen(imagePath, "wb"));
    if (!again) {
        std::remove(imagePath);
    }
}

int Wrap(const char* elfPath, const char* imagePath, std::uint32_t flags) {
    auto reader = ElfReader::Create();
    if (!reader || !reader->LoadFile(elfPath)) {
        return 0;
    }
    const auto views = SelectBlocks(*reader);
    if (!views) {
        return 0;
    }
    std::uint64_t fileLength = kHeaderBytes + kDescriptorBytes;
    for (const BlockView& block : views->blocks) {
        fileLength += RecordLength(block.size);
    }
    // The header's length word is 32 bits: a larger image cannot be described.
    if (fileLength > std::numeric_limits<std::uint32_t>::max()) {
        return 0;
    }
    const bool compress = (flags & kVmxCompressFlag) != 0;

    FileHandle out(std::fopen(imagePath, "wb"));
    if (!out) {
        return 0;
    }
    // From here on the output exists and is empty until the single write below.
    auto buffer = TryAllocate(static_cast<std::size_t>(fileLength) + kSpareBytes +
                              (compress ? kCompressionSlack : 0));
    if (!buffer) {
        return 0;
    }
    const std::size_t payloadLength = PackPayload(*views, flags, buffer.get());
    ImageHeader header{};
    if (MakeCheckSum(&header, buffer.get() + kHeaderBytes,
                     static_cast<unsigned int>(payloadLength)) == 0) {
        return 0;
    }
    if (compress) {
        const std::size_t capacity = payloadLength + kCompressionSlack;
        auto scratch = TryAllocate(capacity);
        if (!scratch) {
            return 0;
        }
        const CompressResult packed =
            HuffmanCompress(buffer.get() + kHeaderBytes, payloadLength, scratch.get(), capacity);
        std::printf("The max bit count of this file is %u\n", packed.maxCodeLength);
        if (packed.maxCodeLength > 100) {
            std::printf("The image will cause error in VMX system!\n");
        }
        if (packed.status != CompressStatus::kOk) {
            return 0; // the stream would not fit its buffer: no image rather than a cut one
        }
        std::memcpy(buffer.get() + kHeaderBytes, scratch.get(), packed.length);
        header.magic = MagicWord("VMXh");
        header.length = static_cast<std::uint32_t>(kHeaderBytes + packed.length);
    } else {
        header.magic = MagicWord("VMXi");
        header.length = static_cast<std::uint32_t>(kHeaderBytes + payloadLength);
    }
    StoreWords(buffer.get(), {header.magic, header.length, header.checkSumA, header.checkSumB});

    const bool written = std::fwrite(buffer.get(), 1, header.length, out.get()) == header.length;
    const bool closed = std::fclose(out.release()) == 0;
    if (!written || !closed) {
        EmptyOutput(imagePath);
        return 0;
    }
    return 1;
}

} // namespace
} // namespace kestrel::segwrap

int WrapVMXImageFormat(const char* elfPath, const char* imagePath, unsigned int flags) {
    if (elfPath == nullptr || imagePath == nullptr) {
        return 0;
    }
    try {
        return kestrel::segwrap::Wrap(elfPath, imagePath, flags);
    } catch (...) {
        return 0; // memory ran out reading the ELF file: the output was not opened yet
    }
}
