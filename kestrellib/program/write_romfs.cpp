#include "kestrellib/program/write_romfs.h"

#include "kestrellib/device/device_set.h"
#include "kestrellib/device/nand_info.h"
#include "kestrellib/device/nand_ops.h"
#include "kestrellib/device/vendor_transport.h"
#include "kestrellib/program/config_files.h"
#include "kestrellib/program/job_notifications.h"
#include "kestrellib/program/rebuild_nand_fs.h"
#include "kestrellib/program/resource_image_writer.h"
#include "kestrellib/program/rom_patch.h"
#include "kestrellib/program/stop_request.h"
#include "kestrellib/program/vendor_resource_nand.h"
#include "platform/clock/clock.h"
#include "platform/message_box/message_box.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>

namespace kestrel::program {
namespace {

// The loader's geometry words of the large-page chip, written for level-0 loaders.
struct LargePageWrite {
    std::uint32_t address;
    std::array<std::uint8_t, 16> bytes;
    std::uint32_t length;
};

constexpr std::array<LargePageWrite, 4> kLargePageWrites = {{
    // u16 256, 4224, 4096, 64, 64, 4096, then the bytes 0, 0, 8, 0
    {0x9D805820,
     {0x00, 0x01, 0x80, 0x10, 0x00, 0x10, 0x40, 0x00, 0x40, 0x00, 0x00, 0x10, 0, 0, 8, 0},
     16},
    {0x9D8057E4, {0x40, 0x40, 0x40, 0x40}, 4},
    {0x9D8057EC, {0x00, 0x10, 0x00, 0x10, 0x00, 0x10, 0x00, 0x00}, 8}, // 0x10001000, 0x1000
    {0x9D805804, {0x40, 0x40, 0x40, 0x40}, 4},
}};

// Sets bytes 0 and 1 of the controller register to 0x22. The register is written back only
// when it could be read, so a failed read never puts unknown bytes into it.
void FixUpControllerRegister(void* handle) {
    std::uint8_t value[8] = {};
    if (device::VendorRead(handle, value, device::kReadDeviceMemory, kControllerFixupAddress,
                           sizeof value) == 0) {
        return;
    }
    value[0] = 0x22;
    value[1] = 0x22;
    device::VendorWrite(handle, value, device::kWriteDeviceMemory, kControllerFixupAddress,
                        sizeof value);
}

void WriteLargePageParameters(void* handle) {
    for (const auto& w : kLargePageWrites) {
        device::VendorWrite(handle, w.bytes.data(), device::kWriteDeviceMemory, w.address,
                            w.length);
    }
}

} // namespace

void* WaitForDevice(const IspJob& job) {
    std::string devId = job.devId != nullptr ? job.devId : "";
    std::transform(devId.begin(), devId.end(), devId.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    for (;;) {
        platform::Sleep(kDevicePollMs);
        if (StopRequested(job.devIndex)) {
            return nullptr;
        }
        if (void* handle = device::FindRestartedDevice(devId, job.hDevice)) {
            return handle;
        }
    }
}

int PrepareNandLayout(const IspJob& job, device::NandLayout& layout, bool& largePage) {
    device::NandInfo info{};
    if (device::ReadNandInfo(job, info) != 0) {
        ShowDeviceMessage(job, kTextReadSysInfoError);
        return -1;
    }
    // Only the level-0 record of the large-page chip sets the flag; taken right after this
    // device's own read, so a procedure starting on another device cannot change what this
    // one sees.
    largePage = job.loaderLevel == 0 && device::LargePageFlag();
    if (job.loaderLevel == 0 && job.loaderClass == 0 && largePage) {
        info.rawPageSize = 4224;
        info.pageSize = 4096;
        info.eccSize = 128;
        info.pagesPerBlockShift = 8;
    }
    if (info.pageSize == 0 || info.pagesPerBlock == 0) {
        ShowDeviceMessage(job, kTextBadGeometry);
        return -1;
    }
    layout.bootDeviceId = static_cast<std::uint8_t>(device::QueryBootDeviceId(job));
    std::string error;
    if (device::ComputeNandLayout(layout, info, &error) != 0) {
        ShowDeviceMessage(job, kTextLayoutError, error);
        return -1;
    }
    return 0;
}

} // namespace kestrel::program

KESTREL_EXPORT int WriteRomfs2NandFun(IspJob* job) {
    using namespace kestrel;
    using namespace kestrel::program;
    if (job == nullptr) {
        return -1;
    }
    device::SetLargePageFlag(false);

    void* handle = WaitForDevice(*job);
    if (handle == nullptr) {
        return -1; // stopped while waiting
    }
    job->hDevice = handle;
    FixUpControllerRegister(handle);

    device::NandLayout layout{};
    bool largePage = false;
    if (PrepareNandLayout(*job, layout, largePage) != 0) {
        PostJobStatus(*job, kStatusPhaseEnded, 0);
        return -1;
    }
    if (job->loaderLevel == 0 && job->loaderClass == 0 && largePage) {
        WriteLargePageParameters(handle);
    }

    VendorResourceNand nand(layout, handle);
    if (job->rebuildNandFs != 0 && RebuildNandFs(layout, *job, nand) != 0) {
        PostJobStatus(*job, kStatusPhaseEnded, 0);
        return -1;
    }
    PostJobEvent(*job, kEventResourceBegin);

    if (job->writeRomfs != 0) {
        if ((job->loaderClass != 0 || job->loaderLevel != 0) && !largePage &&
            config::Read(config::isp::kSupportDramInit) != 0) {
            device::VendorCommand(handle, device::kDramInit, 0);
        }
        ApplyRomPatch(*job);
        if (WriteResourceImage(layout, *job, ResourceImageKind::kRomfs, nand) != 0) {
            return -1;
        }
        if (config::Read(config::isp::kRomfsDualImage) != 0 &&
            WriteResourceImage(layout, *job, ResourceImageKind::kRomfsBackup, nand) != 0) {
            return -1;
        }
    }
    if (job->writeRomfs1 != 0 &&
        WriteResourceImage(layout, *job, ResourceImageKind::kRomfs1, nand) != 0) {
        return -1;
    }
    PostJobEvent(*job, kEventResourceSucceeded);
    return 0;
}
