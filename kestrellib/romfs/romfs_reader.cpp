#include "kestrellib/romfs/romfs_reader.h"

#include "platform/files/files.h"
#include "platform/printf_format.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace kestrel::romfs {

namespace {

KESTREL_PRINTF_FORMAT(2, 3) bool Fail(std::string* error, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (error != nullptr) {
        *error = text;
    }
    return false;
}

unsigned long long U(std::uint64_t value) {
    return static_cast<unsigned long long>(value);
}

struct PendingDirectory {
    std::uint32_t node;
    std::uint32_t parent;
};

} // namespace

std::optional<RomfsImage> RomfsImage::Parse(std::vector<unsigned char> bytes, std::string* error) {
    if (bytes.size() < kHeaderSize) {
        Fail(error, "image of %zu bytes is shorter than its 32-byte header", bytes.size());
        return std::nullopt;
    }
    const RomfsHeader header = LoadHeader(bytes.data());
    if (header.magic != kMagic) {
        Fail(error, "bad magic 0x%08X, expected 0x%08X", header.magic, kMagic);
        return std::nullopt;
    }
    if (header.nodeCount == 0) {
        Fail(error, "node count is 0: an image holds at least its root directory");
        return std::nullopt;
    }
    const std::uint64_t tableEnd = NodeRecordOffset(header.nodeCount);
    if (tableEnd > bytes.size()) {
        Fail(error, "node table of %u nodes ends at 0x%llX, past the %zu bytes present",
             header.nodeCount, U(tableEnd), bytes.size());
        return std::nullopt;
    }
    return RomfsImage(std::move(bytes), header);
}

std::optional<RomfsImage> RomfsImage::Load(const std::string& path, std::string* error) {
    platform::File file;
    if (const int e = file.OpenForReading(path); e != 0) {
        Fail(error, "cannot open '%s': %s", path.c_str(), platform::ErrorText(e).c_str());
        return std::nullopt;
    }
    std::vector<unsigned char> bytes;
    constexpr std::size_t kChunk = 1 << 20;
    for (;;) {
        const std::size_t have = bytes.size();
        bytes.resize(have + kChunk);
        int e = 0;
        const std::int64_t n = file.ReadAt(have, bytes.data() + have, kChunk, &e);
        if (n < 0) {
            Fail(error, "cannot read '%s': %s", path.c_str(), platform::ErrorText(e).c_str());
            return std::nullopt;
        }
        bytes.resize(have + static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < kChunk) {
            break;
        }
    }
    return Parse(std::move(bytes), error);
}

std::string RomfsImage::VolumeName() const {
    return std::string(header_.volumeName, strnlen(header_.volumeName, kVolumeNameSize));
}

RomfsNodeRecord RomfsImage::Node(std::uint32_t number) const {
    if (number >= header_.nodeCount) {
        return {}; // mode 0: neither a directory nor a file
    }
    return LoadNodeRecord(bytes_.data() + NodeRecordOffset(number));
}

bool RomfsImage::NodeChecked(std::uint32_t number, RomfsNodeRecord* record,
                             std::string* error) const {
    if (number >= header_.nodeCount) {
        return Fail(error, "node %u does not exist: the image has %u nodes", number,
                    header_.nodeCount);
    }
    *record = Node(number);
    if (record->mode != kModeDirectory && record->mode != kModeFile) {
        return Fail(error, "node %u: mode 0x%08X is neither a directory nor a file", number,
                    record->mode);
    }
    const std::uint64_t end = std::uint64_t{record->dataOffset} + RoundUp32(record->size);
    if (end > header_.imageSize) {
        return Fail(error, "node %u: data at 0x%X (+0x%X) ends past the image size 0x%X", number,
                    record->dataOffset, record->size, header_.imageSize);
    }
    return true;
}

bool RomfsImage::ContentPresent(const RomfsNodeRecord& record, std::uint32_t number,
                                std::string* error) const {
    const std::uint64_t end = std::uint64_t{record.dataOffset} + record.size;
    // An empty item needs no bytes: the last one may point at the image size.
    if (record.size != 0 && end > bytes_.size()) {
        return Fail(error, "node %u: data at 0x%X (+0x%X) ends past the %zu bytes present", number,
                    record.dataOffset, record.size, bytes_.size());
    }
    return true;
}

bool RomfsImage::List(std::uint32_t directory, std::vector<RomfsListEntry>* entries,
                      std::string* error) const {
    entries->clear();
    RomfsNodeRecord record;
    if (!NodeChecked(directory, &record, error)) {
        return false;
    }
    if (!IsDirectory(record)) {
        return Fail(error, "node %u is not a directory", directory);
    }
    if (!ContentPresent(record, directory, error)) {
        return false;
    }
    if (record.size % kAlignment != 0) {
        return Fail(error, "directory %u: table size 0x%X is not a multiple of 32", directory,
                    record.size);
    }
    const unsigned char* table = bytes_.data() + record.dataOffset;
    std::uint32_t pos = 0;
    // Every entry takes at least 32 bytes, so the walk ends after size / 32 steps at most.
    while (pos < record.size) {
        RomfsListEntry entry;
        entry.node = LoadLe32(table + pos);
        const std::uint32_t next = LoadLe32(table + pos + 4);
        const auto* name = table + pos + kEntryHeadSize;
        const std::size_t room = record.size - pos - kEntryHeadSize;
        const void* nul = std::memchr(name, 0, room);
        if (nul == nullptr) {
            return Fail(error, "directory %u: entry at 0x%X has no terminated name", directory,
                        pos);
        }
        entry.name.assign(reinterpret_cast<const char*>(name),
                          static_cast<const unsigned char*>(nul) - name);
        const std::uint64_t expected = std::uint64_t{pos} + EntrySize(entry.name.size());
        if (next != expected || next > record.size) {
            return Fail(error,
                        "directory %u: entry '%s' at 0x%X gives next 0x%X, expected 0x%llX "
                        "within 0x%X",
                        directory, entry.name.c_str(), pos, next, U(expected), record.size);
        }
        if (entry.node >= header_.nodeCount) {
            return Fail(error, "directory %u: entry '%s' names node %u of %u", directory,
                        entry.name.c_str(), entry.node, header_.nodeCount);
        }
        entries->push_back(std::move(entry));
        pos = next;
    }
    return true;
}

std::optional<std::uint32_t> RomfsImage::Lookup(std::uint32_t directory, std::string_view name,
                                                std::string* error) const {
    std::vector<RomfsListEntry> entries;
    if (!List(directory, &entries, error)) {
        return std::nullopt;
    }
    const std::string wanted = StoredName(name);
    for (const RomfsListEntry& entry : entries) {
        if (entry.name == wanted) {
            return entry.node;
        }
    }
    Fail(error, "'%.*s' not found in directory %u", static_cast<int>(name.size()), name.data(),
         directory);
    return std::nullopt;
}

std::optional<std::uint32_t> RomfsImage::LookupPath(std::string_view path,
                                                    std::string* error) const {
    std::uint32_t node = 0;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
        if (part.empty()) {
            continue;
        }
        const std::optional<std::uint32_t> found = Lookup(node, part, error);
        if (!found) {
            return std::nullopt;
        }
        node = *found;
    }
    return node;
}

bool RomfsImage::ReadFile(std::uint32_t node, std::vector<unsigned char>* content,
                          std::string* error) const {
    content->clear();
    RomfsNodeRecord record;
    if (!NodeChecked(node, &record, error)) {
        return false;
    }
    if (IsDirectory(record)) {
        return Fail(error, "node %u is a directory, not a file", node);
    }
    if (!ContentPresent(record, node, error)) {
        return false;
    }
    const unsigned char* data = bytes_.data() + record.dataOffset;
    content->assign(data, data + record.size);
    return true;
}

bool RomfsImage::Check(std::string* error) const {
    const std::uint32_t count = header_.nodeCount;
    const std::uint64_t tableEnd = NodeRecordOffset(count);
    if (header_.imageSize % kAlignment != 0) {
        return Fail(error, "image size 0x%X is not a multiple of 32", header_.imageSize);
    }
    if (tableEnd > header_.imageSize) {
        return Fail(error, "node table ends at 0x%llX, past the image size 0x%X", U(tableEnd),
                    header_.imageSize);
    }

    // Every record on its own, and the placement: directory tables in node order straight after
    // the node table, file contents in node order after them, nothing between but padding.
    std::uint64_t cursor = tableEnd;
    for (const bool directories : {true, false}) {
        for (std::uint32_t i = 0; i < count; ++i) {
            RomfsNodeRecord record;
            if (!NodeChecked(i, &record, error) || !ContentPresent(record, i, error)) {
                return false;
            }
            if (IsDirectory(record) != directories) {
                continue;
            }
            char label[kNodeLabelSize];
            FormatNodeLabel(i, label);
            if (i <= 999999 && std::memcmp(label, record.label, kNodeLabelSize) != 0) {
                return Fail(error, "node %u: label '%.8s' does not name it", i, record.label);
            }
            if (record.ownerId != kOwnerId || record.groupId != kGroupId) {
                return Fail(error, "node %u: owner %u and group %u, expected %u and %u", i,
                            record.ownerId, record.groupId, kOwnerId, kGroupId);
            }
            if (!directories && record.linkCount != 1) {
                return Fail(error, "file node %u: link count %u, expected 1", i, record.linkCount);
            }
            if (record.dataOffset != cursor) {
                return Fail(error, "node %u: data at 0x%X, expected at 0x%llX", i,
                            record.dataOffset, U(cursor));
            }
            cursor += RoundUp32(record.size);
        }
    }
    if (cursor != header_.imageSize) {
        return Fail(error, "image size 0x%X, but the last item's space ends at 0x%llX",
                    header_.imageSize, U(cursor));
    }
    if (!IsDirectory(Node(0))) {
        return Fail(error, "node 0, the root, is not a directory");
    }

    // The tree: members carry consecutive numbers in table order, numbered depth-first by
    // directory. Each directory is visited once, so the walk ends after count steps at most.
    std::uint32_t nextNumber = 1;
    std::vector<PendingDirectory> pending{{0, 0}};
    std::vector<RomfsListEntry> entries;
    while (!pending.empty()) {
        const PendingDirectory dir = pending.back();
        pending.pop_back();
        if (!List(dir.node, &entries, error)) {
            return false;
        }
        const RomfsNodeRecord record = Node(dir.node);
        if (!entries.empty()) {
            if (entries.size() < 2 || entries[0].name != "." || entries[0].node != dir.node ||
                entries[1].name != ".." || entries[1].node != dir.parent) {
                return Fail(error, "directory %u: does not start with '.' (%u) and '..' (%u)",
                            dir.node, dir.node, dir.parent);
            }
        }
        for (const RomfsListEntry& entry : entries) {
            if (StoredName(entry.name) != entry.name) {
                return Fail(error, "directory %u: name '%s' is not stored upper-cased", dir.node,
                            entry.name.c_str());
            }
        }
        std::uint32_t subdirectories = 0;
        const std::size_t firstChild = pending.size();
        for (std::size_t k = 2; k < entries.size(); ++k) {
            if (entries[k].node != nextNumber) {
                return Fail(error, "directory %u: member '%s' is node %u, expected node %u",
                            dir.node, entries[k].name.c_str(), entries[k].node, nextNumber);
            }
            ++nextNumber;
            if (IsDirectory(Node(entries[k].node))) {
                ++subdirectories;
                pending.push_back({entries[k].node, dir.node});
            }
        }
        // Subdirectories are numbered in table order: take the first one off the stack next.
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(firstChild), pending.end());
        if (record.linkCount != 2 + subdirectories) {
            return Fail(error, "directory %u: link count %u, expected %u", dir.node,
                        record.linkCount, 2 + subdirectories);
        }
    }
    if (nextNumber != count) {
        return Fail(error, "only %u of %u nodes are reachable from the root", nextNumber, count);
    }
    return true;
}

} // namespace kestrel::romfs
