#include "kestrellib/device/nand_ops.h"

#include "kestrellib/device/nand_geometry.h"
#include "kestrellib/device/partition_table.h"
#include "kestrellib/device/vendor_transport.h"
#include "kestrellib/program/config_files.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <vector>

namespace kestrel::device {
namespace {

constexpr std::uint32_t kBootTableRecord[4] = {0x53444853u /* "SHDS" */, 0, 1,
                                               0x53444845u /* "EHDS" */};

std::uint32_t Le32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// One bit change of the NAND controller's control register: read, modify, write.
void SetControl(void* handle, std::uint32_t mask) {
    WriteDeviceWord(handle, kNandCtrlControl, ReadDeviceWord(handle, kNandCtrlControl) | mask);
}
void ClearControl(void* handle, std::uint32_t mask) {
    WriteDeviceWord(handle, kNandCtrlControl, ReadDeviceWord(handle, kNandCtrlControl) & ~mask);
}

void ControllerIdle(void* handle) {
    SetControl(handle, 0x01);
    ClearControl(handle, 0x10);
    ClearControl(handle, 0x20);
    SetControl(handle, 0x40);
    SetControl(handle, 0x80);
}

void ControllerCommand(void* handle, std::uint8_t command) {
    ClearControl(handle, 0x01);
    ClearControl(handle, 0x40);
    SetControl(handle, 0x10);
    WriteDeviceWord(handle, kNandCtrlDataOut, command);
    ClearControl(handle, 0x100);
    SetControl(handle, 0x40);
    SetControl(handle, 0x100);
    ClearControl(handle, 0x10);
}

void ControllerAddress(void* handle, std::uint8_t address) {
    ClearControl(handle, 0x40);
    SetControl(handle, 0x20);
    WriteDeviceWord(handle, kNandCtrlDataOut, address);
    ClearControl(handle, 0x100);
    SetControl(handle, 0x40);
    SetControl(handle, 0x100);
    ClearControl(handle, 0x20);
}

std::uint32_t FirstPageOf(const NandLayout& layout, std::uint32_t block) {
    unsigned shift = layout.pagesPerBlockShift;
    if (layout.pairedPage != 0 && block >= layout.bootBlocks) {
        ++shift;
    }
    return block << shift;
}

// Writes a page and reads it back; true when both succeed and the data are equal.
bool WriteAndVerify(void* handle, const std::uint8_t* data, std::uint32_t page,
                    std::uint32_t pageSize) {
    if (pageSize == 0 || pageSize > kMaxPageSize) {
        return false;
    }
    if (WriteVendorSector(data, handle, kWriteNandPage, page, pageSize) == 0) {
        return false;
    }
    std::vector<std::uint8_t> back(pageSize);
    if (ReadVendorSector(back.data(), handle, kReadNandPage, page, pageSize) == 0) {
        return false;
    }
    return std::memcmp(back.data(), data, pageSize) == 0;
}

struct LayoutTable {
    std::mutex lock;
    std::array<NandLayout, 64> layouts{};
};

LayoutTable& Layouts() {
    static LayoutTable table;
    return table;
}

} // namespace

std::optional<std::uint32_t> TryReadDeviceWord(void* handle, std::uint32_t address) {
    std::uint8_t bytes[4] = {};
    if (VendorRead(handle, bytes, kReadDeviceMemory, address, 4) == 0) {
        return std::nullopt;
    }
    return Le32(bytes);
}

std::uint32_t ReadDeviceWord(void* handle, std::uint32_t address) {
    return TryReadDeviceWord(handle, address).value_or(0);
}

bool WriteDeviceWord(void* handle, std::uint32_t address, std::uint32_t value) {
    std::uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    return VendorWrite(handle, bytes, kWriteDeviceMemory, address, 4) != 0;
}

bool ProbeLoader(IspJob& job) {
    std::uint8_t signature[8] = {};
    job.loaderLevel = 0;
    job.loaderClass = 0;
    if (VendorRead(job.hDevice, signature, kReadDeviceMemory, kLoaderSignatureAddress, 8) == 0) {
        return false;
    }
    if (signature[0] == 0xA5 && signature[3] == 0x5A) {
        job.loaderLevel = signature[2] & 0x0F;
        job.loaderClass = signature[2] >> 4;
    }
    return true;
}

int ReadNandInfo(const IspJob& job, NandInfo& info) {
    if (job.loaderLevel >= 1) {
        return ReadVendorSector(&info, job.hDevice, kReadNandId, 0, sizeof info) != 0 ? 0 : -1;
    }
    OldNandInfo old{};
    if (ReadVendorSector(&old, job.hDevice, kReadNandId, 0, sizeof old) == 0) {
        return -1;
    }
    if (ConvertOldNandInfo(old, info)) {
        SetLargePageFlag(true);
    }
    return 0;
}

std::uint32_t QueryBootDeviceId(const IspJob& job) {
    if (job.loaderLevel < 2) {
        return 0;
    }
    std::uint8_t bytes[4] = {};
    if (ReadVendorSector(bytes, job.hDevice, kReadBootDeviceId, 0, 4) == 0) {
        return 0;
    }
    return Le32(bytes);
}

int PrepareNandInfo(IspJob& job, const NandInfo& info) {
    SysInfoRecord& record = SysInfoOf(job.devIndex);
    NandInfo adjusted = info;
    {
        std::lock_guard guard(ProfileIniLock());
        if (DecodeNandGeometry(info, job.devIndex) != 0) {
            return -1;
        }
        SetNandInfoMarker(record.marker1);
        record.info = info;
        if (LoadNandProfile(adjusted) != 0) {
            return -1;
        }
    }
    record.info = adjusted;
    SetNandInfoMarker(record.marker2);
    record.infoCopy = adjusted;
    return 0;
}

int ReadSysInfoRecord(IspJob& job) {
    SysInfoRecord& record = SysInfoOf(job.devIndex);
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::array<std::uint8_t, kSysInfoTransferSize> buffer{};
        if (ReadVendorSector(buffer.data(), job.hDevice, kReadSysInfo, 0, buffer.size()) == 0) {
            continue;
        }
        if (DecodeSysInfoReply(buffer, record)) {
            return record.sysInfoBlock;
        }
    }
    return -1;
}

bool WriteSysInfoBlock(const NandLayout& layout, IspJob& job, const NandInfo& info) {
    const SysInfoRecord& record = SysInfoOf(job.devIndex);
    const bool blockGood = TestNandBlock(layout, job.hDevice, record.sysInfoBlock) == 0;
    std::array<std::uint8_t, kSysInfoTransferSize> out{};
    std::memcpy(out.data(), &record, sizeof record);
    const std::uint32_t page = static_cast<std::uint32_t>(record.sysInfoBlock) * info.pagesPerBlock;
    if (WriteVendorSector(out.data(), job.hDevice, kWriteSysInfo, page, out.size()) == 0) {
        return false;
    }
    std::array<std::uint8_t, kSysInfoTransferSize> back{};
    if (ReadVendorSector(back.data(), job.hDevice, kReadSysInfo, 0, back.size()) == 0 ||
        out != back) {
        return false;
    }
    // The device answers 0x31 from the record it keeps; the page itself tells whether the NAND
    // holds it (a bad block or a failing page loses it there).
    if (!blockGood || info.pageSize < kSysInfoTransferSize || info.pageSize > kMaxPageSize) {
        return false;
    }
    std::vector<std::uint8_t> stored(info.pageSize);
    if (ReadVendorSector(stored.data(), job.hDevice, kReadNandPage, page, info.pageSize) == 0) {
        return false;
    }
    return std::equal(out.begin(), out.end(), stored.begin());
}

int TestNandBlock(const NandLayout& layout, void* handle, std::uint32_t block) {
    const std::uint32_t pageSize = layout.pageSize;
    if (pageSize == 0 || pageSize > kMaxPageSize) {
        return -1;
    }
    const std::uint32_t page = FirstPageOf(layout, block);
    if (VendorCommand(handle, kEraseNandBlock, page) == 0) {
        return -1;
    }
    std::vector<std::uint8_t> pattern(pageSize);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = (i % 2 == 0) ? 0x5A : 0xA5;
    }
    const bool good = WriteAndVerify(handle, pattern.data(), page, pageSize);
    VendorCommand(handle, kEraseNandBlock, page);
    return good ? 0 : -1;
}

int FindGoodBlock(std::uint32_t start, IspJob& job, const NandLayout& layout) {
    for (std::uint32_t block = start; block < start + 5; ++block) {
        if (TestNandBlock(layout, job.hDevice, block) == 0) {
            return static_cast<int>(block);
        }
    }
    return kNoGoodBlock;
}

int WritePageVerified(std::span<std::uint8_t> eraseMap, IspJob& job, const NandInfo& info,
                      const std::uint8_t* data, std::uint32_t page) {
    if (data == nullptr || eraseMap.empty() || info.pagesPerBlock == 0) {
        return 0;
    }
    if (CurrentLayoutOf(job.devIndex).pairedPage != 0 &&
        !PairedPageAllowed(page % info.pagesPerBlock)) {
        return 0;
    }
    const std::uint32_t block = page >> info.pagesPerBlockShift;
    if (block >= eraseMap.size()) {
        return 0;
    }
    if (eraseMap[block] == 0) {
        if (VendorCommand(job.hDevice, kEraseNandBlock, page) == 0) {
            return 0;
        }
        eraseMap[block] = 1;
    }
    return WriteAndVerify(job.hDevice, data, page, info.pageSize) ? 1 : 0;
}

int WritePageChecked(IspJob& job, const NandInfo& info, const std::uint8_t* data,
                     std::uint32_t page) {
    if (data == nullptr || info.pagesPerBlock == 0) {
        return 0;
    }
    if (CurrentLayoutOf(job.devIndex).pairedPage != 0 &&
        !PairedPageAllowed(page % info.pagesPerBlock)) {
        return 0;
    }
    return WriteAndVerify(job.hDevice, data, page, info.pageSize) ? 1 : 0;
}

void BuildBootTable(std::span<std::uint8_t, kBootTableSize> block, const NandInfo& info) {
    std::memset(block.data(), 0, block.size());
    const std::uint64_t totalMb = static_cast<std::uint64_t>(info.blockCount) *
                                  (info.pageSize / 512u) * info.pagesPerBlock / 2048u;
    std::uint32_t romfsMb = static_cast<std::uint32_t>(config::isp::RomfsMaxSizeMb());
    if (config::Read(config::isp::kRomfsDualImage) != 0) {
        romfsMb *= 2;
    }
    const std::uint32_t startMb =
        romfsMb + static_cast<std::uint32_t>(config::isp::Romfs1MaxSizeMb()) + 25;
    const PartitionEntry data[] = {{0x0B, kRestOfDisk}};
    BuildPartitionTable(block.first<512>(), static_cast<std::uint32_t>(totalMb), startMb, data);
    std::memcpy(block.data() + 512, kBootTableRecord, sizeof kBootTableRecord);
}

int UpdateBootTable(IspJob& job, const NandInfo& info) {
    if (job.loaderLevel < 2) {
        return 0;
    }
    std::array<std::uint8_t, kBootTableSize> table;
    BuildBootTable(table, info);
    void* handle = job.hDevice;

    if (job.rebuildNandFs == 0) {
        const auto saved = TryReadDeviceWord(handle, kBootTableGuardWord);
        if (!saved || !WriteDeviceWord(handle, kBootTableGuardWord, 0)) {
            return 0;
        }
        std::array<std::uint8_t, 2048> page0{};
        const bool read = ReadVendorSector(page0.data(), handle, kReadNandPage, 0, 2048) != 0;
        if (!WriteDeviceWord(handle, kBootTableGuardWord, *saved) || !read) {
            return 0;
        }
        if (std::memcmp(page0.data(), table.data(), page0.size()) == 0) {
            return 0;
        }
    }
    if (WriteVendorSector(table.data(), handle, kWriteBootTable, 0, table.size()) == 0) {
        return -1;
    }
    const auto saved = TryReadDeviceWord(handle, kBootTableGuardWord);
    if (!saved || !WriteDeviceWord(handle, kBootTableGuardWord, 0)) {
        return 0;
    }
    std::array<std::uint8_t, 2048> test{'T', 'E', 'S', 'T'};
    if (WriteVendorSector(test.data(), handle, kWriteNandPage, 4, test.size()) != 0) {
        WriteDeviceWord(handle, kBootTableGuardWord, *saved);
    }
    return 0;
}

int SyncBootDeviceId(IspJob& job) {
    if (job.loaderLevel <= 1) {
        return 0;
    }
    std::uint8_t bytes[4] = {};
    if (ReadVendorSector(bytes, job.hDevice, kReadBootDeviceId, 0, 4) == 0) {
        return -1;
    }
    const std::uint32_t current = Le32(bytes);
    const std::uint32_t wanted = static_cast<std::uint32_t>(config::isp::BootDeviceId());
    if (wanted == 7 || wanted == current) {
        return 0;
    }
    std::memcpy(bytes, &wanted, 4);
    return WriteVendorSector(bytes, job.hDevice, kWriteBootDeviceId, 0, 4) != 0 ? 0 : -1;
}

std::uint32_t ReadNandParameter(void* handle, std::uint8_t reg) {
    ControllerIdle(handle);
    ControllerCommand(handle, 0x37);
    ControllerAddress(handle, reg);
    ClearControl(handle, 0x80);
    SetControl(handle, 0x80);
    const std::uint32_t value = ReadDeviceWord(handle, kNandCtrlDataIn);
    ControllerIdle(handle);
    return value;
}

void WriteNandParameter(void* handle, std::uint8_t reg, std::uint32_t value) {
    ControllerIdle(handle);
    ControllerCommand(handle, 0x36);
    ControllerAddress(handle, reg);
    WriteDeviceWord(handle, kNandCtrlDataOut, value & 0xFF);
    ClearControl(handle, 0x40);
    ClearControl(handle, 0x100);
    SetControl(handle, 0x40);
    SetControl(handle, 0x100);
    ControllerCommand(handle, 0x16);
    ControllerIdle(handle);
}

void AdjustNandParameters(IspJob& job) {
    void* handle = job.hDevice;
    SysInfoRecord& record = SysInfoOf(job.devIndex);
    std::optional<NandParamRecord> earlier;
    if (ReadDeviceWord(handle, kNandParamFlagWord) == kNandParamMagic) {
        std::array<std::uint8_t, kSysInfoTransferSize> buffer{};
        if (ReadVendorSector(buffer.data(), handle, kReadSysInfo, 0, buffer.size()) != 0) {
            earlier = StoredNandParams(buffer);
        }
    }
    WriteDeviceWord(handle, kNandParamFlagWord, kNandParamMagic);

    constexpr std::uint8_t kTiming[4] = {0xA0, 0xA1, 0xB0, 0xB1};
    if (earlier) {
        record.params = *earlier;
        const std::uint32_t v = earlier->timing;
        for (int i = 0; i < 4; ++i) {
            WriteNandParameter(handle, kTiming[i], ((v >> (24 - 8 * i)) + 38) & 0xFF);
        }
        WriteNandParameter(handle, 0xC9, ((earlier->regC9 & 0xFF) + 1) & 0xFF);
        return;
    }

    // Register values are bytes; the data-in word carries one in its low bits.
    WriteDeviceWord(handle, kNandCtrlMode, 11);
    std::uint32_t timing = 0;
    for (std::uint8_t reg : kTiming) {
        const std::uint32_t value = ReadNandParameter(handle, reg) & 0xFF;
        WriteNandParameter(handle, reg, value + 38);
        timing = (timing << 8) | value;
    }
    const std::uint32_t c9 = ReadNandParameter(handle, 0xC9) & 0xFF;
    WriteNandParameter(handle, 0xC9, c9 + 1);
    std::uint32_t extra = 0;
    for (std::uint8_t reg :
         {std::uint8_t{0xA7}, std::uint8_t{0xAD}, std::uint8_t{0xAE}, std::uint8_t{0xAF}}) {
        extra = (extra << 8) | (ReadNandParameter(handle, reg) & 0xFF);
    }
    WriteDeviceWord(handle, kNandCtrlMode, 9);
    record.params = NandParamRecord{kNandParamMagic, timing, c9, extra, timing + c9 + extra};
}

void SetCurrentLayout(int devIndex, const NandLayout& layout) {
    if (devIndex < 0 || devIndex >= 64) {
        return;
    }
    std::lock_guard guard(Layouts().lock);
    Layouts().layouts[static_cast<std::size_t>(devIndex)] = layout;
}

NandLayout CurrentLayoutOf(int devIndex) {
    if (devIndex < 0 || devIndex >= 64) {
        return NandLayout{};
    }
    std::lock_guard guard(Layouts().lock);
    return Layouts().layouts[static_cast<std::size_t>(devIndex)];
}

} // namespace kestrel::device
