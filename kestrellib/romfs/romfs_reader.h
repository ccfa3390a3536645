#pragma once
// Reading a ROMFS image: open it, list a directory, look a name up, read a file, and check the
// whole image against the layout rules. The reader distrusts the image: every offset and size
// is checked against the image before it is used, every walk is bounded, and a fault is
// reported as a message naming what is wrong and where, never by reading past the end.
//
// The builder leaves out the padding after the last file's content, so the file on disk may be
// shorter than the header's image size by up to 31 bytes. The reader accepts that: contents
// must lie inside the bytes present, the space set aside for them inside the image size.

#include "kestrellib/romfs/romfs_format.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::romfs {

struct RomfsListEntry {
    std::uint32_t node = 0;
    std::string name; // as stored: upper-cased
};

class RomfsImage {
public:
    // Takes the image's bytes. Fails when the header's magic is wrong or the node table the
    // header announces is not all present.
    static std::optional<RomfsImage> Parse(std::vector<unsigned char> bytes, std::string* error);
    static std::optional<RomfsImage> Load(const std::string& path, std::string* error);

    const RomfsHeader& Header() const { return header_; }
    std::uint32_t NodeCount() const { return header_.nodeCount; }
    std::string VolumeName() const;
    std::size_t BytesPresent() const { return bytes_.size(); }

    // The record of a node as stored (mode 0 for a number beyond the node count).
    RomfsNodeRecord Node(std::uint32_t number) const;
    static bool IsDirectory(const RomfsNodeRecord& record) { return record.mode == kModeDirectory; }

    // The entries of a directory node in table order, "." and ".." included.
    bool List(std::uint32_t directory, std::vector<RomfsListEntry>* entries,
              std::string* error) const;
    // The node a name denotes in a directory, compared as the image stores names.
    std::optional<std::uint32_t> Lookup(std::uint32_t directory, std::string_view name,
                                        std::string* error) const;
    // The node of a '/'-separated path below the root ("" is the root).
    std::optional<std::uint32_t> LookupPath(std::string_view path, std::string* error) const;
    // A file node's content.
    bool ReadFile(std::uint32_t node, std::vector<unsigned char>* content,
                  std::string* error) const;

    // Checks the whole image: header, every node record, the placement of every item, every
    // directory table, and that the tree and its numbering are what the builder makes.
    bool Check(std::string* error) const;

private:
    RomfsImage(std::vector<unsigned char> bytes, const RomfsHeader& header)
        : bytes_(std::move(bytes)), header_(header) {}

    bool NodeChecked(std::uint32_t number, RomfsNodeRecord* record, std::string* error) const;
    bool ContentPresent(const RomfsNodeRecord& record, std::uint32_t number,
                        std::string* error) const;

    std::vector<unsigned char> bytes_;
    RomfsHeader header_;
};

} // namespace kestrel::romfs
