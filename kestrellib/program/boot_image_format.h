#pragma once
// The wrapped boot image file: a header of 32 bytes (16 when its mark is not "1100") followed by
// sub-blocks back to back, each a 12-byte sub-header and its data. All words are little-endian
// u32. The reader checks a file in the order the boot-code procedure does (header, checksum
// pass, then the writing pass block by block) and names each fault with the message the
// operator sees. It distrusts the file: every read is counted, offsets are 64-bit and a block
// that runs past the end of the file is refused before anything is written.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <istream>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kestrel::program {

inline constexpr std::uint32_t kImageFileHeader = 0xCDCDD0E9u; // IMAGE_FILE_HEADER
inline constexpr std::uint32_t kImageFileTag = 0xD4C1C7A0u;    // IMAGE_FILE_TAG
inline constexpr std::uint32_t kLongHeaderMark = 0x30303131u;  // the bytes "1100"
inline constexpr std::uint32_t kLongHeaderBytes = 32;
inline constexpr std::uint32_t kShortHeaderBytes = 16;
inline constexpr std::uint32_t kSubHeaderBytes = 12;
inline constexpr std::uint32_t kChecksumSpan = 2048; // data bytes of each block the sum covers
// Header word 4 from this value on selects the directory form of the boot header page.
inline constexpr std::uint32_t kDirectoryFormThreshold = 0x30000u;

// Kinds of block (blockType AND 0xF00).
inline constexpr std::uint32_t kKindMask = 0xF00u;
inline constexpr std::uint32_t kCodecKind = 0x300u; // data begin with the target's page size

#pragma pack(push, 1)
// Image_heard_t: what the reader takes from the first 32 bytes of the file.
struct ImageFileHeader {
    std::uint32_t heard;           // kImageFileHeader
    std::uint32_t word1;           // not examined
    std::uint32_t blockCount;      // number of sub-blocks
    std::uint32_t checkSum;        // sum over the first 2048 data bytes of every block
    std::uint32_t bootHeaderValue; // word 4: copied into the boot header
    std::uint32_t headerMark;      // kLongHeaderMark for a 32-byte header
    std::uint32_t word6;           // words 6 and 7: copied into the directory form
    std::uint32_t word7;
};

struct SubHeader {
    std::uint32_t tag; // kImageFileTag
    std::uint32_t blockLength;
    std::uint32_t blockType;
};
#pragma pack(pop)

static_assert(sizeof(ImageFileHeader) == kLongHeaderBytes);
static_assert(sizeof(SubHeader) == kSubHeaderBytes);

constexpr std::uint32_t BlockKind(std::uint32_t blockType) {
    return blockType & kKindMask;
}

// 32 when the header carries the "1100" mark, else 16 (bytes 16-31 then belong to the blocks).
constexpr std::uint32_t HeaderLength(const ImageFileHeader& header) {
    return header.headerMark == kLongHeaderMark ? kLongHeaderBytes : kShortHeaderBytes;
}

// Adds the whole little-endian u32 words of data to sum (a trailing 1-3 bytes do not count).
std::uint32_t AddChecksumWords(std::uint32_t sum, std::span<const std::uint8_t> data);

enum class ImageError {
    kNone,
    kHeaderRead,            // the 32-byte header cannot be read
    kHeaderMagic,           // heard is not IMAGE_FILE_HEADER
    kChecksumSubHeaderRead, // a sub-header of the checksum pass cannot be read
    kTruncated,             // a block's data run past the end of the file
    kChecksum,              // the sum differs from checkSum
    kSubHeaderRead,         // a sub-header of the writing pass cannot be read
    kTag,                   // a sub-header's tag is not IMAGE_FILE_TAG
};

// The text the operator is shown for an error; blockIndex (0-based) names the block where the
// text mentions one.
std::string ImageErrorMessage(ImageError error, std::uint32_t blockIndex = 0);

// Reads one wrapped boot image file: header, checksum pass, then the blocks one by one.
class BootImageReader {
public:
    // False when the file cannot be opened for reading.
    bool Open(const std::string& path);
    // Reads the length bytes from offset on as if they were the whole file (an image inside a
    // boot code package); they are cut where the file ends.
    bool Open(const std::string& path, std::uint64_t offset, std::uint64_t length);
    // Reads a copy of bytes as the whole file.
    bool OpenBytes(std::span<const std::uint8_t> bytes);

    // Reads and checks the header.
    ImageError ReadHeader();
    const ImageFileHeader& Header() const { return header_; }
    std::uint64_t FirstBlockOffset() const { return HeaderLength(header_); }

    // The checksum pass over blockCount blocks; on success subHeaders (when given) lists every
    // block's sub-header in file order. The tag is not tested here.
    ImageError ChecksumPass(std::vector<SubHeader>* subHeaders = nullptr);

    // Writing pass: Rewind goes back to the first block; NextBlock reads the next sub-header
    // and checks its tag; ReadData then delivers the block's data in pieces. A block whose data
    // are read in full leaves the reader at the next sub-header.
    void Rewind();
    ImageError NextBlock(SubHeader& subHeader);
    // Reads up to size bytes of the current block; fewer only when the file ends early.
    std::size_t ReadData(std::uint8_t* out, std::size_t size);

    // Index (0-based) of the block last reached: the one an error or a write refers to.
    std::uint32_t BlockIndex() const { return errorBlock_; }

private:
    bool ReadAt(std::uint64_t offset, void* out, std::size_t size);
    bool ReadNext(void* out, std::size_t size);

    // Seeks to where the image begins, once file_ is open.
    bool Attach(std::uint64_t offset, std::uint64_t length);

    std::unique_ptr<std::istream> file_; // a file, or a copy of bytes
    std::uint64_t base_ = 0;             // where the image begins in the file
    std::uint64_t fileSize_ = 0;         // bytes of the image
    ImageFileHeader header_{};
    std::uint32_t nextBlock_ = 0;
    std::uint32_t errorBlock_ = 0;
};

// A whole file in memory, checked as the procedure checks it.
struct BootImageBlock {
    SubHeader subHeader{};
    std::vector<std::uint8_t> data;
};

struct BootImage {
    ImageFileHeader header{};
    std::vector<BootImageBlock> blocks;
};

// Reads and checks the file at path into image. kHeaderRead also when it cannot be opened.
ImageError LoadBootImage(const std::string& path, BootImage& image,
                         std::uint32_t* errorBlock = nullptr);
// The same from an opened reader.
ImageError LoadBootImage(BootImageReader& reader, BootImage& image,
                         std::uint32_t* errorBlock = nullptr);

// Checks an opened image the way the boot-code procedure reads it: header, checksum pass, then
// every block's sub-header (tag) and data, without keeping the data. On success *blocks (when
// given) lists the sub-headers in file order; on failure *errorBlock names the block.
ImageError CheckBootImage(BootImageReader& reader, std::vector<SubHeader>* blocks = nullptr,
                          std::uint32_t* errorBlock = nullptr);

} // namespace kestrel::program
