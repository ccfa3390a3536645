#include "app/station/kestrellib_binding.h"

#include "app/station/run_record.h"
#include "app/station/workspace_check.h"
#include "kestrellib/device/device_exports.h"
#include "kestrellib/device/device_set.h"
#include "kestrellib/program/boot_exports.h"
#include "kestrellib/program/config_exports.h"
#include "kestrellib/program/config_files.h"
#include "kestrellib/program/shared_counters.h"
#include "kestrellib/program/stop_request.h"
#include "kestrellib/program/write_romfs.h"

#include <string>

namespace kestrel::station {

StationLibrary KestrellibBinding() {
    StationLibrary lib;
    lib.initDeviceSet = [] { Device_handle_set_init(); };
    lib.enumerateDevices = [] { return EnumUsbStorDevice(); };
    lib.deviceCount = [] { return Device_handle_set_get_count(); };
    lib.deviceHandle = [](int index) { return Device_handle_set_get_heald(index); };
    lib.deviceId = [](int index) { return device::DeviceSetDevId(index); };
    lib.devicePath = [](int index) { return device::DevicePathAt(index); };
    lib.deviceChange = [](unsigned event, const void* record) {
        return ParseDeviceChange(event, record);
    };
    lib.getRedboot = [](IspJob& probe, const std::string& path, int& result) {
        return program::GetRedbootPath(probe, path, result);
    };
    lib.writeFw = [](IspJob* job) { return WriteFW2NandFun(job); };
    lib.writeRomfs = [](IspJob* job) { return WriteRomfs2NandFun(job); };
    lib.isWriteRomFs = [](int which) { return GetIsWriteRomFs(which); };
    lib.isIniFileExist = [](const char* fileName) { return IsIniFileExist(fileName); };
    lib.initSurplus = [] { return Init_Surplus_redboot_count(); };
    lib.freeSurplus = [] { Free_Surplus_redboot_count(); };
    lib.resetSurplus = [] { Reset_Surplus_redboot_count(); };
    lib.increaseSurplus = [] { Increase_Surplus_redboot_count(); };
    lib.decreaseSurplus = [] { Decrease_Surplus_redboot_count(); };
    lib.checkWorkspace = [](const WorkspaceCheckOptions& options, CheckReport& report) {
        return CheckWorkspace(options, report);
    };
    lib.runRecordPath = [] { return config::FilePath(kRunRecordFile); };
    lib.requestStop = [](bool stop) {
        if (stop) {
            Kestrel_RequestStop(program::kStopAllDevices);
        } else {
            Kestrel_ClearStopRequests();
        }
    };
    return lib;
}

} // namespace kestrel::station
