#pragma once
// The ROMFS image layout: a 32-byte header, one 32-byte node record per node directly after it
// (node i at 32 * (i + 1)), then the directory table of every directory node and then the
// content of every file node, each in ascending node-number order, each starting at a multiple
// of 32 with its size rounded up to 32 set aside. All integers are little-endian; the records
// below are the in-memory form, turned into bytes and back by the Store and Load functions so
// that neither the host's byte order nor its alignment matters.
//
// A directory table is a run of entries without gaps: node number, offset of the next entry
// from the start of the table, the name with a-z upper-cased and a terminating zero, zero
// padding up to the entry size. Every table starts with "." and "..". A directory that could
// not be listed has an empty table (size 0, not even "." and "..").

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::romfs {

inline constexpr std::uint32_t kMagic = 0x526F6D2E; // the bytes 2E 6D 6F 52 in file order
inline constexpr std::uint32_t kModeDirectory = 0x00070001;
inline constexpr std::uint32_t kModeFile = 0x00070008;
inline constexpr std::uint16_t kOwnerId = 400;
inline constexpr std::uint16_t kGroupId = 401;
inline constexpr std::uint32_t kAlignment = 32;
inline constexpr std::size_t kVolumeNameSize = 16;
inline constexpr std::size_t kNodeLabelSize = 8;
inline constexpr std::size_t kEntryHeadSize = 8; // node and next fields of a directory entry

struct RomfsHeader {
    std::uint32_t magic = kMagic;
    std::uint32_t nodeCount = 0;
    std::uint32_t imageSize = 0;
    std::uint32_t versionWord = 0;
    char volumeName[kVolumeNameSize] = {}; // zero-padded, no terminator when 16 characters long
};

struct RomfsNodeRecord {
    std::uint32_t mode = 0;
    std::uint32_t linkCount = 0;
    std::uint16_t ownerId = kOwnerId;
    std::uint16_t groupId = kGroupId;
    std::uint32_t size = 0;
    std::uint32_t timeStamp = 0;
    std::uint32_t dataOffset = 0;
    char label[kNodeLabelSize] = {}; // "<%6d>" of the node number, no terminator
};

// The fixed head of a directory entry; the name and its padding follow.
struct RomfsDirEntry {
    std::uint32_t node = 0;
    std::uint32_t next = 0; // offset of the following entry from the start of the table
};

inline constexpr std::size_t kHeaderSize = 32;
inline constexpr std::size_t kNodeRecordSize = 32;
static_assert(sizeof(RomfsHeader) == kHeaderSize, "RomfsHeader must be 32 bytes");
static_assert(sizeof(RomfsNodeRecord) == kNodeRecordSize, "RomfsNodeRecord must be 32 bytes");
static_assert(sizeof(RomfsDirEntry) == kEntryHeadSize, "RomfsDirEntry head must be 8 bytes");

// Size of a directory entry for a name of nameLength bytes: 8 + n + 1 rounded up to 32.
constexpr std::uint32_t EntrySize(std::size_t nameLength) {
    return static_cast<std::uint32_t>((nameLength + 40) & ~std::size_t{31});
}

constexpr std::uint64_t RoundUp32(std::uint64_t value) {
    return (value + 31) & ~std::uint64_t{31};
}

// Offset of node i's record.
constexpr std::uint64_t NodeRecordOffset(std::uint64_t node) {
    return kNodeRecordSize * (node + 1);
}

// The name as the image stores it: a-z turned into A-Z, every other byte unchanged.
std::string StoredName(std::string_view name);

// Writes "<%6d>" of number into the 8-byte label (numbers above 999999 do not fit and are cut).
void FormatNodeLabel(std::uint32_t number, char (&label)[kNodeLabelSize]);

void StoreHeader(const RomfsHeader& header, unsigned char* out);
RomfsHeader LoadHeader(const unsigned char* in);
void StoreNodeRecord(const RomfsNodeRecord& record, unsigned char* out);
RomfsNodeRecord LoadNodeRecord(const unsigned char* in);

// Appends one directory entry (node, next, stored name, padding) to table. Returns the new
// table size; next is that size, as the format requires.
std::uint32_t AppendDirEntry(std::vector<unsigned char>& table, std::uint32_t node,
                             std::string_view name);

inline std::uint32_t LoadLe32(const unsigned char* in) {
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

inline void StoreLe32(unsigned char* out, std::uint32_t value) {
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value >> 16);
    out[3] = static_cast<unsigned char>(value >> 24);
}

} // namespace kestrel::romfs
