#include "kestrellib/program/boot_package.h"

#include "kestrellib/program/file_replace.h"
#include "kestrellib/program/le_words.h"
#include "kestrellib/program/redboot_select.h"

#include <fstream>
#include <limits>

namespace kestrel::program {

std::uint64_t PackageRecordInfo::DataOffset() const {
    return offset + kPackageRecordHeaderBytes;
}

bool PackageRecordInfo::IsPackageRecord() const {
    return recordMagic == kPackageRecordMagic;
}

void WalkPackageRecords(std::istream& file,
                        const std::function<bool(const PackageRecordInfo&)>& visit) {
    file.clear();
    file.seekg(0, std::ios::end);
    const std::streamoff end = file.tellg();
    const std::uint64_t size = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    std::uint64_t offset = 0;
    while (offset <= size && size - offset >= kPackageRecordHeaderBytes) {
        std::uint8_t header[kPackageRecordHeaderBytes];
        file.clear();
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(reinterpret_cast<char*>(header), sizeof header);
        if (file.gcount() != static_cast<std::streamsize>(sizeof header)) {
            return;
        }
        PackageRecordInfo record;
        record.offset = offset;
        record.recordMagic = LoadLe32(header);
        record.recordLength = LoadLe32(header + 4);
        record.hardwareTag = LoadLe32(header + 8);
        const std::uint64_t dataOffset = record.DataOffset();
        record.complete = record.recordLength <= size - dataOffset;
        if (!visit(record)) {
            return;
        }
        offset = dataOffset + record.recordLength;
    }
}

bool LooksLikeBootPackage(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::uint8_t magic[4] = {};
    file.read(reinterpret_cast<char*>(magic), sizeof magic);
    return file.gcount() == sizeof magic && LoadLe32(magic) == kPackageRecordMagic;
}

bool EncodeBootPackage(const std::vector<PackageEntry>& entries, std::vector<std::uint8_t>& out,
                       std::string* error) {
    out.clear();
    for (const PackageEntry& entry : entries) {
        if (entry.image.size() > std::numeric_limits<std::uint32_t>::max()) {
            out.clear();
            if (error != nullptr) {
                *error = "an image is longer than a record's length field can count";
            }
            return false;
        }
        AppendLe32(out, kPackageRecordMagic);
        AppendLe32(out, static_cast<std::uint32_t>(entry.image.size()));
        AppendLe32(out, entry.hardwareTag);
        AppendLe32(out, 0);
        out.insert(out.end(), entry.image.begin(), entry.image.end());
    }
    return true;
}

bool WriteBootPackageFile(const std::string& path, const std::vector<PackageEntry>& entries,
                          std::string* error) {
    std::vector<std::uint8_t> bytes;
    if (!EncodeBootPackage(entries, bytes, error)) {
        return false;
    }
    return WriteFileReplacing(path, bytes, error);
}

} // namespace kestrel::program
