#pragma once
// The boot code package: "PRAW" records back to back, each a 16-byte header (u32 little-endian:
// "PRAW", recordLength, hardwareTag, one word not interpreted) followed by recordLength bytes,
// the wrapped boot image for one hardware variant. The walk here is the one the boot image
// selection makes; the encoder is how tests, the demo workspace and kestrel-cli make packages.

#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <vector>

namespace kestrel::program {

struct PackageRecordInfo {
    std::uint64_t offset = 0; // of the record's header in the file
    std::uint32_t recordMagic = 0;
    std::uint32_t recordLength = 0;
    std::uint32_t hardwareTag = 0;
    bool complete = false; // the record's data lie wholly inside the file

    std::uint64_t DataOffset() const;
    bool IsPackageRecord() const; // recordMagic reads "PRAW"
};

// Visits the record headers of the stream from offset 0 on, each record followed by the next
// at header + recordLength whatever its magic, while a whole header remains. The visitor returns
// false to stop the walk. Offsets are 64-bit, so no recordLength can make the walk turn back.
void WalkPackageRecords(std::istream& file,
                        const std::function<bool(const PackageRecordInfo&)>& visit);

// True when the file at path begins with a "PRAW" record header.
bool LooksLikeBootPackage(const std::string& path);

struct PackageEntry {
    std::uint32_t hardwareTag = 0;
    std::vector<std::uint8_t> image; // a wrapped boot image file's bytes
};

// The package's bytes. False (with the reason in *error) when an image is longer than the
// record's length field can count.
bool EncodeBootPackage(const std::vector<PackageEntry>& entries, std::vector<std::uint8_t>& out,
                       std::string* error = nullptr);

// Encodes and writes the package at path, replacing it only once complete (file_replace.h).
bool WriteBootPackageFile(const std::string& path, const std::vector<PackageEntry>& entries,
                          std::string* error = nullptr);

} // namespace kestrel::program
