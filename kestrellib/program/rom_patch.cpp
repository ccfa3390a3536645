#include "kestrellib/program/rom_patch.h"

#include "kestrellib/device/nand_ops.h"
#include "kestrellib/device/vendor_transport.h"
#include "kestrellib/program/config_files.h"

#include <filesystem>
#include <fstream>
#include <limits>
#include <vector>

namespace kestrel::program {

RomPatchEntry ReadRomPatch(const IspJob& job) {
    const auto bootDeviceId = static_cast<int>(device::QueryBootDeviceId(job));
    const std::string section =
        config::rompatch::PatchSection(bootDeviceId, job.loaderLevel, job.loaderClass);
    RomPatchEntry entry;
    entry.enable = config::rompatch::PatchEnable(section);
    entry.entryAddr = static_cast<std::uint32_t>(config::rompatch::PatchEntryAddr(section));
    entry.fileName = config::rompatch::PatchFileName(section);
    entry.downloadAddr = static_cast<std::uint32_t>(config::Read(config::rompatch::kDownloadAddr));
    return entry;
}

int LoadFileToDeviceMemory(const std::string& path, std::uint32_t address, const IspJob& job) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return -1; // also an empty FileName
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return -1;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    in.seekg(0, std::ios::beg);
    if (end < 0 || !in ||
        static_cast<std::uint64_t>(end) > std::numeric_limits<std::uint32_t>::max()) {
        return -1;
    }
    const auto length = static_cast<std::uint32_t>(end);
    std::vector<std::uint8_t> buffer(std::size_t{length} + 10);
    in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(length));
    if (in.gcount() != static_cast<std::streamsize>(length)) {
        return -1;
    }
    if (device::VendorWrite(job.hDevice, buffer.data(), device::kWriteDeviceMemory, address,
                            length) == 0) {
        return -1;
    }
    return 0;
}

void ApplyRomPatch(const IspJob& job) {
    const RomPatchEntry entry = ReadRomPatch(job);
    if (entry.enable == 0) {
        return;
    }
    if (LoadFileToDeviceMemory(config::HomePath(entry.fileName), entry.downloadAddr, job) == 0) {
        device::VendorCommand(job.hDevice, device::kStartProgram, entry.entryAddr);
    }
}

} // namespace kestrel::program
