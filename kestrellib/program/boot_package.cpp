#include "kestrellib/program/boot_package.h"

#include "kestrellib/program/redboot_select.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

namespace kestrel::program {
namespace {

std::uint32_t GetWord(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void PutWord(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

bool Fail(std::string* error, const std::string& text) {
    if (error != nullptr) {
        *error = text;
    }
    return false;
}

} // namespace

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
        unsigned char header[kPackageRecordHeaderBytes];
        file.clear();
        file.seekg(static_cast<std::streamoff>(offset));
        file.read(reinterpret_cast<char*>(header), sizeof header);
        if (file.gcount() != static_cast<std::streamsize>(sizeof header)) {
            return;
        }
        PackageRecordInfo record;
        record.offset = offset;
        record.recordMagic = GetWord(header);
        record.recordLength = GetWord(header + 4);
        record.hardwareTag = GetWord(header + 8);
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
    unsigned char magic[4] = {};
    file.read(reinterpret_cast<char*>(magic), sizeof magic);
    return file.gcount() == sizeof magic && GetWord(magic) == kPackageRecordMagic;
}

bool EncodeBootPackage(const std::vector<PackageEntry>& entries, std::vector<std::uint8_t>& out,
                       std::string* error) {
    out.clear();
    for (const PackageEntry& entry : entries) {
        if (entry.image.size() > std::numeric_limits<std::uint32_t>::max()) {
            out.clear();
            return Fail(error, "an image is longer than a record's length field can count");
        }
        PutWord(out, kPackageRecordMagic);
        PutWord(out, static_cast<std::uint32_t>(entry.image.size()));
        PutWord(out, entry.hardwareTag);
        PutWord(out, 0);
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
    // Written beside the target and renamed when complete: a failed write never leaves a
    // partial package under the name the station reads.
    const std::string part = path + ".part";
    std::error_code ec;
    {
        std::ofstream file(part, std::ios::binary | std::ios::trunc);
        if (!file.is_open()) {
            return Fail(error, "the file cannot be created");
        }
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) {
            std::filesystem::remove(part, ec);
            return Fail(error, "the file cannot be written");
        }
    }
    std::filesystem::rename(part, path, ec);
    if (ec) {
        std::filesystem::remove(part, ec);
        return Fail(error, "the file cannot be replaced");
    }
    return true;
}

} // namespace kestrel::program
