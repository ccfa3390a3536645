#include "kestrellib/romfs/romfs_format.h"

#include <cstdio>
#include <cstring>

namespace kestrel::romfs {

namespace {

void StoreLe16(unsigned char* out, std::uint16_t value) {
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
}

std::uint16_t LoadLe16(const unsigned char* in) {
    return static_cast<std::uint16_t>(in[0] | (in[1] << 8));
}

} // namespace

std::string StoredName(std::string_view name) {
    std::string stored(name);
    for (char& c : stored) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return stored;
}

void FormatNodeLabel(std::uint32_t number, char (&label)[kNodeLabelSize]) {
    char text[24];
    std::snprintf(text, sizeof text, "<%6u>", number);
    std::memcpy(label, text, kNodeLabelSize);
}

void StoreHeader(const RomfsHeader& header, unsigned char* out) {
    StoreLe32(out + 0, header.magic);
    StoreLe32(out + 4, header.nodeCount);
    StoreLe32(out + 8, header.imageSize);
    StoreLe32(out + 12, header.versionWord);
    std::memcpy(out + 16, header.volumeName, kVolumeNameSize);
}

RomfsHeader LoadHeader(const unsigned char* in) {
    RomfsHeader header;
    header.magic = LoadLe32(in + 0);
    header.nodeCount = LoadLe32(in + 4);
    header.imageSize = LoadLe32(in + 8);
    header.versionWord = LoadLe32(in + 12);
    std::memcpy(header.volumeName, in + 16, kVolumeNameSize);
    return header;
}

void StoreNodeRecord(const RomfsNodeRecord& record, unsigned char* out) {
    StoreLe32(out + 0, record.mode);
    StoreLe32(out + 4, record.linkCount);
    StoreLe16(out + 8, record.ownerId);
    StoreLe16(out + 10, record.groupId);
    StoreLe32(out + 12, record.size);
    StoreLe32(out + 16, record.timeStamp);
    StoreLe32(out + 20, record.dataOffset);
    std::memcpy(out + 24, record.label, kNodeLabelSize);
}

RomfsNodeRecord LoadNodeRecord(const unsigned char* in) {
    RomfsNodeRecord record;
    record.mode = LoadLe32(in + 0);
    record.linkCount = LoadLe32(in + 4);
    record.ownerId = LoadLe16(in + 8);
    record.groupId = LoadLe16(in + 10);
    record.size = LoadLe32(in + 12);
    record.timeStamp = LoadLe32(in + 16);
    record.dataOffset = LoadLe32(in + 20);
    std::memcpy(record.label, in + 24, kNodeLabelSize);
    return record;
}

std::uint32_t AppendDirEntry(std::vector<unsigned char>& table, std::uint32_t node,
                             std::string_view name) {
    const std::size_t start = table.size();
    const std::size_t end = start + EntrySize(name.size());
    table.resize(end, 0);
    unsigned char* entry = table.data() + start;
    StoreLe32(entry, node);
    StoreLe32(entry + 4, static_cast<std::uint32_t>(end));
    const std::string stored = StoredName(name);
    std::memcpy(entry + kEntryHeadSize, stored.data(), stored.size());
    return static_cast<std::uint32_t>(end);
}

} // namespace kestrel::romfs
