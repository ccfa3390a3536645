#include "app/station/boot_code_check.h"

#include "kestrellib/program/boot_image_format.h"
#include "kestrellib/program/boot_package.h"
#include "kestrellib/program/redboot_select.h"
#include "platform/files/files.h"

#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <vector>

namespace kestrel::station {
namespace {

using program::ImageError;
using program::PackageRecordInfo;

// Records listed one by one at most; a longer walk is summed up (a damaged file can make
// millions of 16-byte "records").
constexpr std::size_t kListedRecords = 64;

// Loader classes and levels that the hardware tag rules tell apart: the last of each stands for
// itself and every higher one (class 2 and above use the file unchanged).
constexpr int kLoaderClasses[] = {0, 1, 2};
constexpr int kLoaderLevels[] = {0, 1, 2, 3};

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

void ListImage(const program::ImageFileHeader& header,
               const std::vector<program::SubHeader>& blocks, CheckReport& report) {
    const std::uint32_t headerBytes = program::HeaderLength(header);
    std::string line = std::to_string(headerBytes) + "-byte header, " +
                       std::to_string(header.blockCount) + " blocks, checksum " +
                       Hex32(header.checkSum);
    if (headerBytes == program::kLongHeaderBytes) {
        line += ", boot header value " + Hex32(header.bootHeaderValue) +
                (header.bootHeaderValue >= program::kDirectoryFormThreshold ? " (directory form)"
                                                                            : " (short form)");
    }
    report.Detail(line);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        report.Detail("block " + std::to_string(i + 1) + ": type " + Hex32(blocks[i].blockType) +
                      ", " + std::to_string(blocks[i].blockLength) + " bytes");
    }
}

std::string SignatureText(int loaderClass, int loaderLevel) {
    if (loaderClass == kLoaderClasses[std::size(kLoaderClasses) - 1]) {
        return "loader class " + std::to_string(loaderClass) + " and above";
    }
    return "loader class " + std::to_string(loaderClass) + " level " + std::to_string(loaderLevel) +
           (loaderLevel == kLoaderLevels[std::size(kLoaderLevels) - 1] ? " and above" : "");
}

// The first "PRAW" record of each hardware tag: the one the boot image selection takes.
using RecordsByTag = std::map<std::uint32_t, PackageRecordInfo>;

// What a device of each loader signature would be programmed with, as the boot image selection
// decides it. A chosen record that was not listed is checked here.
void ReportSelection(const std::string& path, const RecordsByTag& chosen,
                     const std::set<std::uint64_t>& checked, bool isPackage, CheckReport& report) {
    for (int loaderClass : kLoaderClasses) {
        for (int loaderLevel : kLoaderLevels) {
            const std::string who = SignatureText(loaderClass, loaderLevel);
            const auto tag = program::WantedHardwareTag(loaderClass, loaderLevel);
            if (!tag) {
                if (isPackage) {
                    report.Note(who + ": the package itself is written, and it is not a boot "
                                      "image");
                } else {
                    report.Ok(who + ": " + path + " is written as it is");
                }
                break; // every level of the class alike
            }
            const auto found = chosen.find(*tag);
            if (found != chosen.end()) {
                const PackageRecordInfo& record = found->second;
                const std::string label =
                    "record " + Hex32(*tag) + " at offset " + std::to_string(record.offset);
                if (!record.complete) {
                    report.Note(who + ": refused, its " + label + " is truncated");
                } else if (checked.count(record.offset) == 0 &&
                           !CheckBootImageAt(path, record.DataOffset(), record.recordLength, label,
                                             false, report)) {
                    report.Note(who + ": its " + label + " is refused");
                } else {
                    report.Ok(who + ": " + label);
                }
            } else if (*tag == program::kDefaultHardwareTag) {
                if (isPackage) {
                    report.Note(who + ": no record " + Hex32(*tag) +
                                "; the package itself is written, and it is not a boot image");
                } else {
                    report.Ok(who + ": " + path + " is written as it is");
                }
            } else {
                report.Note(who + ": refused, no record for hardware tag " + Hex32(*tag) +
                            " (\"Image is error, can't support this H/W!\")");
            }
        }
    }
}

} // namespace

bool CheckBootImageAt(const std::string& path, std::uint64_t offset, std::uint64_t length,
                      const std::string& label, bool listBlocks, CheckReport& report,
                      std::vector<CheckedBootImage>* images) {
    program::BootImageReader reader;
    if (!reader.Open(path, offset, length)) {
        report.Failed(label + ": can't be opened");
        return false;
    }
    std::vector<program::SubHeader> blocks;
    std::uint32_t errorBlock = 0;
    const ImageError error = program::CheckBootImage(reader, &blocks, &errorBlock);
    if (error != ImageError::kNone) {
        report.Failed(label +
                      ": refused: " + Trimmed(program::ImageErrorMessage(error, errorBlock)));
        return false;
    }
    report.Ok(label + ": boot image, " + std::to_string(blocks.size()) +
              " blocks, checksum correct");
    if (listBlocks) {
        ListImage(reader.Header(), blocks, report);
    }
    if (images != nullptr) {
        images->push_back({label, blocks});
    }
    return true;
}

void CheckBootCodeFile(const std::string& path, bool listBlocks, CheckReport& report,
                       std::vector<CheckedBootImage>* images) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        platform::File probe;
        const int e = probe.OpenForReading(path);
        report.Failed(path + ": can't be opened" + (e != 0 ? ": " + platform::ErrorText(e) : ""));
        return;
    }
    if (!program::LooksLikeBootPackage(path)) {
        // A file refused as a boot image is refused for every device: no selection to show.
        if (CheckBootImageAt(path, 0, UINT64_MAX, path, listBlocks, report, images)) {
            ReportSelection(path, {}, {}, false, report);
        }
        return;
    }

    std::vector<PackageRecordInfo> listed;
    RecordsByTag chosen;
    std::size_t walked = 0;
    program::WalkPackageRecords(file, [&](const PackageRecordInfo& record) {
        ++walked;
        if (listed.size() < kListedRecords) {
            listed.push_back(record);
        }
        if (record.IsPackageRecord()) {
            chosen.emplace(record.hardwareTag, record);
        }
        return true;
    });
    report.Ok(path + ": boot code package, " + std::to_string(walked) + " records");
    std::set<std::uint64_t> checked;
    for (const auto& record : listed) {
        const std::string label =
            "record " + Hex32(record.hardwareTag) + " at offset " + std::to_string(record.offset);
        if (!record.IsPackageRecord()) {
            report.Note(label + ": not a \"PRAW\" record, never selected");
        } else if (!record.complete) {
            report.Failed(label + ": truncated, " + std::to_string(record.recordLength) +
                          " bytes announced (\"Image is truncated, can't support this H/W!\")");
        } else {
            CheckBootImageAt(path, record.DataOffset(), record.recordLength, label, listBlocks,
                             report, images);
        }
        checked.insert(record.offset);
    }
    if (walked > listed.size()) {
        report.Note(std::to_string(walked - listed.size()) + " more records not listed");
    }
    ReportSelection(path, chosen, checked, true, report);
}

} // namespace kestrel::station
