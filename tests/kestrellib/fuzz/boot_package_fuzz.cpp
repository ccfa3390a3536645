// libFuzzer target: any bytes as a boot code package: the record walk the boot image selection
// makes, and every complete record's image read as the run reads an image inside a package.
// The walk must move forward only, visit only whole headers inside the bytes and end.
#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/boot_package.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrel::program;
    std::istringstream file(std::string(reinterpret_cast<const char*>(data), size),
                            std::ios::binary);
    std::uint64_t next = 0;
    WalkPackageRecords(file, [&](const PackageRecordInfo& record) {
        if (record.offset != next || record.offset + 16 > size ||
            record.complete != (record.DataOffset() + record.recordLength <= size)) {
            std::abort(); // a walk that skips, turns back or leaves the bytes
        }
        next = record.DataOffset() + record.recordLength;
        if (record.complete && record.IsPackageRecord()) {
            BootImageReader reader;
            if (!reader.OpenBytes(std::span<const std::uint8_t>(data + record.DataOffset(),
                                                                record.recordLength))) {
                std::abort();
            }
            std::vector<SubHeader> blocks;
            CheckBootImage(reader, &blocks);
        }
        return true;
    });
    return 0;
}
