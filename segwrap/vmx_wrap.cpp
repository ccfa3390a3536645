#include "segwrap/vmx_wrap.h"
#include "segwrap/block_selection.h"
#include "segwrap/byte_order.h"
#include "segwrap/elf_reader.h"
#include "segwrap/file_bytes.h"
#include "segwrap/huffman_encoder.h"
#include "segwrap/vmx_checksum.h"
#include "segwrap/vmx_date_stamp.h"
#include "segwrap/vmx_image.h"

#include "platform/clock/clock.h"
#include "platform/files/file_identity.h"
#include "platform/files/files.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>

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

std::string Hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

WrapReport Failed(const char* file, std::string reason) {
    WrapReport report;
    report.file = file;
    report.reason = std::move(reason);
    return report;
}

// Writes the image under a temporary name and puts it in place; the reason of a failure in
// words, or empty.
std::string WriteImage(const char* elfPath, const std::string& imagePath, const BlockViews& views,
                       std::uint32_t flags, std::size_t length) {
    const bool compress = (flags & kVmxCompressFlag) != 0;
    FileHandle elf;
    if (!compress) {
        elf.reset(std::fopen(elfPath, "rb"));
        if (!elf) {
            return "cannot be opened again: " + platform::ErrorText(errno);
        }
    }
    const std::string part = imagePath + ".part";
    errno = 0;
    FileHandle out(std::fopen(part.c_str(), "wb"));
    if (!out) {
        return "cannot be created (" + part + "): " + platform::ErrorText(errno);
    }
    errno = 0;
    const bool written = compress ? WriteCompressed(out.get(), views, flags, length)
                                  : WriteStored(out.get(), elf.get(), views, flags, length);
    const int writeError = errno;
    const bool closed = std::fclose(out.release()) == 0;
    const int closeError = errno;
    std::string why;
    if (!written) {
        why = writeError != 0 ? "cannot be written: " + platform::ErrorText(writeError)
              : compress ? "cannot be written: the compressed stream does not fit its buffer, or "
                           "memory ran out"
                         : "cannot be written: the ELF file could not be read again, or memory "
                           "ran out";
    } else if (!closed) {
        why = "cannot be written: " + platform::ErrorText(closeError);
    } else if (const int e = platform::RenameReplacing(part, imagePath); e != 0) {
        why = "cannot be replaced: " + platform::ErrorText(e);
    }
    if (!why.empty()) {
        platform::RemoveFile(part);
    }
    return why;
}

WrapReport Wrap(const char* elfPath, const char* imagePath, std::uint32_t flags) {
    // Before anything is opened for writing: an output over the input would destroy it.
    if (platform::SameFile(elfPath, imagePath)) {
        return Failed(imagePath, std::string("is the same file as the ELF file ") + elfPath +
                                     ": refusing to write over it");
    }
    if (!platform::IsReplaceableOutput(imagePath)) {
        return Failed(
            imagePath,
            "is not a regular file (a directory, device or pipe): refusing to replace it");
    }
    const bool compress = (flags & kVmxCompressFlag) != 0;
    auto reader = ElfReader::Create();
    if (!reader) {
        return Failed(elfPath, "the ELF library cannot be set up");
    }
    // The stored form copies the segments' bytes from the file itself.
    if (!reader->LoadFile(elfPath, compress ? ElfContents::kEverything : ElfContents::kStructure)) {
        return Failed(elfPath, reader->Failure());
    }
    WrapReport report;
    if (reader->Header().machine != kElfMachineArm) {
        report.warnings.push_back(std::string(elfPath) + ": the ELF machine is " +
                                  Hex16(reader->Header().machine) + ", not ARM (" +
                                  Hex16(kElfMachineArm) + "); wrapped as it is");
    }
    const auto views = SelectBlocks(*reader);
    if (!views) {
        return Failed(elfPath, "the entry point or a loaded segment's size or address does not "
                               "fit in 32 bits");
    }
    std::uint64_t payloadLength = kDescriptorBytes;
    for (const BlockView& block : views->blocks) {
        payloadLength += RecordLength(block.size);
    }
    // The header's length word is 32 bits: a larger image cannot be described.
    if (kHeaderBytes + payloadLength > std::numeric_limits<std::uint32_t>::max()) {
        return Failed(elfPath, "its segments make an image of 4 GiB or more");
    }
    const std::string why =
        WriteImage(elfPath, imagePath, *views, flags, static_cast<std::size_t>(payloadLength));
    if (!why.empty()) {
        report.file = imagePath;
        report.reason = why;
        return report;
    }
    report.ok = true;
    return report;
}

} // namespace

WrapReport WrapImage(const char* elfPath, const char* imagePath, std::uint32_t flags) {
    if (elfPath == nullptr || imagePath == nullptr) {
        return Failed("", "no ELF file or no image named");
    }
    try {
        return Wrap(elfPath, imagePath, flags);
    } catch (const std::bad_alloc&) {
        return Failed(elfPath, "memory ran out reading it");
    } catch (...) {
        return Failed(elfPath, "it could not be read");
    }
}

} // namespace kestrel::segwrap

int WrapVMXImageFormat(const char* elfPath, const char* imagePath, unsigned int flags) {
    return kestrel::segwrap::WrapImage(elfPath, imagePath, flags).ok ? 1 : 0;
}
