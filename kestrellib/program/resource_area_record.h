#pragma once
// ResourceAreaRecord: the 36-byte record in page 0 of the first good block of a resource area
// (Romfs, its backup copy, Romfs1). It tells the device how long the image is, which kind of
// image the area holds and whether the image is encrypted or compressed.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kestrel::program {

static_assert(std::endian::native == std::endian::little,
              "device records are laid out in host order on little-endian hosts");

// Which resource area an image goes to.
enum class ResourceImageKind : std::uint32_t {
    kRomfs = 0,
    kRomfsBackup = 1,
    kRomfs1 = 2,
};

inline constexpr std::uint32_t kResourceAreaMagic = 0x524F4653; // bytes 53 46 4F 52 in the page
inline constexpr std::uint32_t kResourceAreaVersion = 4;

#pragma pack(push, 1)
struct ResourceAreaRecord {
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t areaBlocks;   // blocks of this area
    std::uint32_t imageLength;  // bytes of the image file
    std::uint32_t romfsBlocks;  // S0 of the layout
    std::uint32_t romfs1Blocks; // S1 of the layout
    std::uint32_t imageKind;    // ResourceImageKind
    std::uint32_t encrypted;    // Romfs1 only: [Romfs1] Suppurtencryption
    std::uint32_t compressed;   // the image begins with "FZKZ"
};
#pragma pack(pop)

static_assert(sizeof(ResourceAreaRecord) == 36);
static_assert(offsetof(ResourceAreaRecord, areaBlocks) == 8);
static_assert(offsetof(ResourceAreaRecord, imageLength) == 12);
static_assert(offsetof(ResourceAreaRecord, imageKind) == 24);
static_assert(offsetof(ResourceAreaRecord, compressed) == 32);

// The first four bytes of every file the kzip compressor writes.
inline constexpr unsigned char kKzipMagic[4] = {'F', 'Z', 'K', 'Z'};

// Whether an image beginning with these bytes counts as compressed: it must hold at least the
// four magic bytes, so a shorter image never does.
bool IsKzipImage(std::span<const std::uint8_t> firstBytes);

} // namespace kestrel::program
