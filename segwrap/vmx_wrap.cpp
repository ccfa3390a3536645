#include "segwrap/block_selection.h"
#include "segwrap/byte_order.h"
#include "segwrap/elf_reader.h"
#include "segwrap/file_bytes.h"
#include "segwrap/huffman_encoder.h"
#include "segwrap/vmx_checksum.h"
#include "segwrap/vmx_date_stamp.h"
#include "segwrap/vmx_image.h"

#include "platform/clock/clock.h"

#include <algorithm>
#include <array>
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
constexpr std::size_t kCompressionSlack = 2048;

using HeaderBytes = std::array<unsigned char, kHeaderBytes>;
using DescriptorBytes = std::array<unsigned char, kDescriptorBytes>;
using RecordHeadBytes = std::array<unsigned char, kRecordHeadBytes>;

std::uint64_t RecordLength(std::uint32_t dataSize) {
    return (kRecordHeadBytes + std::uint64_t{dataSize} + 3) / 4 * 4;
}

template <std::size_t N>
std::array<unsigned char, 4 * N> Words(const std::array<std::uint32_t, N>& words) {
    std::array<unsigned char, 4 * N> bytes{};
    for (std::size_t i = 0; i < N; ++i) {
        StoreLe32(bytes.data() + 4 * i, words[i]);
    }
    return bytes;
}

// The clock is read here, once per image.
DescriptorBytes Descriptor(const BlockViews& views, std::uint32_t flags) {
    return Words<9>({MagicWord("VMXd"), static_cast<std::uint32_t>(kDescriptorBytes), 0x01000001u,
                     DateStamp(platform::SystemTimeUtc()), (flags & 0x00FFFFFEu) | 0x61000001u,
                     static_cast<std::uint32_t>(views.blocks.size()), views.entry, 0, 1});
}

RecordHeadBytes RecordHead(const BlockView& block) {
    return Words<6>({MagicWord("VMXs"), static_cast<std::uint32_t>(RecordLength(block.size)),
                     block.physAddr, block.virtAddr, 0, 1});
}

bool Write(std::FILE* out, const void* bytes, std::size_t length) {
    return length == 0 || std::fwrite(bytes, 1, length, out) == length;
}

std::unique_ptr<unsigned char[]> TryAllocate(std::size_t bytes) {
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[bytes]);
}

constexpr std::size_t kChunkBytes = 1u << 20; // a multiple of 4: chunks keep words whole

// The stored form, written from its parts: each record's bytes are copied from the ELF file to
// the output through one small buffer and summed on the way, so the payload is never held in
// memory. The header goes last, over a placeholder, once the sums are known. Fill bytes are
// zero, so an image is the same for the same ELF file and hour.
bool WriteStored(std::FILE* out, std::FILE* elf, const BlockViews& views, std::uint32_t flags,
                 std::size_t payloadLength) {
    static constexpr unsigned char kZeros[kHeaderBytes] = {};
    auto chunk = TryAllocate(kChunkBytes);
    if (!chunk) {
        return false;
    }
    PayloadCheckSum sum(payloadLength / 4);
    const DescriptorBytes descriptor = Descriptor(views, flags);
    sum.AddWords(descriptor.data(), kDescriptorBytes / 4);
    if (!Write(out, kZeros, kHeaderBytes) || !Write(out, descriptor.data(), descriptor.size())) {
        return false;
    }
    for (const BlockView& block : views.blocks) {
        const RecordHeadBytes head = RecordHead(block);
        sum.AddWords(head.data(), kRecordHeadBytes / 4);
        if (!Write(out, head.data(), head.size())) {
            return false;
        }
        if (block.size != 0 &&
            (block.fileOffset > static_cast<std::uint64_t>(std::numeric_limits<long>::max()) ||
             std::fseek(elf, static_cast<long>(block.fileOffset), SEEK_SET) != 0)) {
            return false;
        }
        for (std::size_t done = 0; done < block.size;) {
            const std::size_t n = std::min<std::size_t>(kChunkBytes, block.size - done);
            if (std::fread(chunk.get(), 1, n, elf) != n || !Write(out, chunk.get(), n)) {
                return false;
            }
            sum.AddBytesZeroFilled(chunk.get(), n);
            done += n;
        }
        const std::size_t fill = RecordLength(block.size) - kRecordHeadBytes - block.size;
        if (!Write(out, kZeros, fill)) {
            return false;
        }
    }
    const HeaderBytes header =
        Words<4>({MagicWord("VMXi"), static_cast<std::uint32_t>(kHeaderBytes + payloadLength),
                  sum.SumA(), sum.SumB()});
    return std::fseek(out, 0, SEEK_SET) == 0 && Write(out, header.data(), header.size());
}

// The compressed form: the payload is packed into one buffer, summed, coded into a scratch
// buffer of payload + 2048 bytes, and written behind the header. False when either buffer
// cannot be had or the stream would not fit its buffer (nothing is written then).
bool WriteCompressed(std::FILE* out, const BlockViews& views, std::uint32_t flags,
                     std::size_t payloadLength) {
    auto payload = TryAllocate(payloadLength);
    if (!payload) {
        return false;
    }
    const DescriptorBytes descriptor = Descriptor(views, flags);
    unsigned char* at = std::copy(descriptor.begin(), descriptor.end(), payload.get());
    for (const BlockView& block : views.blocks) {
        const RecordHeadBytes head = RecordHead(block);
        at = std::copy(head.begin(), head.end(), at);
        if (block.size != 0) {
            std::memcpy(at, block.data, block.size);
        }
        const std::size_t fill = RecordLength(block.size) - kRecordHeadBytes - block.size;
        std::memset(at + block.size, 0, fill);
        at += block.size + fill;
    }
    ImageHeader sums{};
    if (MakeCheckSum(&sums, payload.get(), static_cast<unsigned int>(payloadLength)) == 0) {
        return false;
    }
    const std::size_t capacity = payloadLength + kCompressionSlack;
    auto scratch = TryAllocate(capacity);
    if (!scratch) {
        return false;
    }
    const CompressResult packed =
        HuffmanCompress(payload.get(), payloadLength, scratch.get(), capacity);
    std::printf("The max bit count of this file is %u\n", packed.maxCodeLength);
    if (packed.maxCodeLength > 100) {
        std::printf("The image will cause error in VMX system!\n");
    }
    if (packed.status != CompressStatus::kOk) {
        return false; // no image rather than a cut one
    }
    const HeaderBytes header =
        Words<4>({MagicWord("VMXh"), static_cast<std::uint32_t>(kHeaderBytes + packed.length),
                  sums.checkSumA, sums.checkSumB});
    return Write(out, header.data(), header.size()) && Write(out, scratch.get(), packed.length);
}

// Empties an output that may hold part of an image, so that nothing there passes for one.
void EmptyOutput(const char* imagePath) {
    FileHandle again(std::fopen(imagePath, "wb"));
    if (!again) {
        std::remove(imagePath);
    }
}

int Wrap(const char* elfPath, const char* imagePath, std::uint32_t flags) {
    const bool compress = (flags & kVmxCompressFlag) != 0;
    auto reader = ElfReader::Create();
    // The stored form copies the segments' bytes from the file itself.
    if (!reader ||
        !reader->LoadFile(elfPath, compress ? ElfContents::kEverything : ElfContents::kStructure)) {
        return 0;
    }
    const auto views = SelectBlocks(*reader);
    if (!views) {
        return 0;
    }
    std::uint64_t payloadLength = kDescriptorBytes;
    for (const BlockView& block : views->blocks) {
        payloadLength += RecordLength(block.size);
    }
    // The header's length word is 32 bits: a larger image cannot be described.
    if (kHeaderBytes + payloadLength > std::numeric_limits<std::uint32_t>::max()) {
        return 0;
    }
    FileHandle elf;
    if (!compress) {
        elf.reset(std::fopen(elfPath, "rb"));
        if (!elf) {
            return 0;
        }
    }
    FileHandle out(std::fopen(imagePath, "wb"));
    if (!out) {
        return 0;
    }
    // From here on every failure leaves the output empty.
    const auto length = static_cast<std::size_t>(payloadLength);
    const bool written = compress ? WriteCompressed(out.get(), *views, flags, length)
                                  : WriteStored(out.get(), elf.get(), *views, flags, length);
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
