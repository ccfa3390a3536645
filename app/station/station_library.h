#pragma once
// The Kestrellib exports the station calls, as one table of functions. The front ends bind every
// entry to the real export; tests of the run substitute their own entries to drive the reactions
// precisely. Every entry must be set before the page is constructed, except checkWorkspace.

#include "app/station/check_report.h"
#include "app/station/workspace_check.h"
#include "kestrel/isp_job.h"

#include <functional>
#include <string>

namespace kestrel::station {

struct StationLibrary {
    // Device set (called on the thread that owns the run).
    std::function<void()> initDeviceSet;            // Device_handle_set_init
    std::function<int()> enumerateDevices;          // EnumUsbStorDevice
    std::function<int()> deviceCount;               // Device_handle_set_get_count
    std::function<void*(int index)> deviceHandle;   // Device_handle_set_get_heald
    std::function<std::string(int index)> deviceId; // Device_handle_set_get_DevId
    // The entry's interface path (DevId and instance): what tells units of one batch apart.
    // Needed by continuous mode only.
    std::function<std::string(int index)> devicePath;
    // A device-change notification (ParseDeviceChange) for a front end whose page handles the
    // platform's device-change messages itself (kestrel-cli); may be left empty.
    std::function<int(unsigned event, const void* record)> deviceChange;

    // Boot image selection: probes the loader of probe.hDevice (filling loaderLevel and
    // loaderClass), returns the boot image path to write and sets result to -1 when the run is
    // refused (GetRedboot).
    std::function<std::string(IspJob& probe, const std::string& bootCodePath, int& result)>
        getRedboot;

    // Configuration (any thread).
    std::function<int(int which)> isWriteRomFs;              // GetIsWriteRomFs
    std::function<int(const char* fileName)> isIniFileExist; // IsIniFileExist

    // Programming procedures (worker threads): 0 on success, -1 on failure.
    std::function<int(IspJob* job)> writeFw;    // WriteFW2NandFun
    std::function<int(IspJob* job)> writeRomfs; // WriteRomfs2NandFun

    // Surplus counter (any thread). The page marks the span it uses the counter lock with
    // initSurplus and freeSurplus.
    std::function<int()> initSurplus;      // Init_Surplus_redboot_count
    std::function<void()> freeSurplus;     // Free_Surplus_redboot_count
    std::function<void()> resetSurplus;    // Reset_Surplus_redboot_count
    std::function<void()> increaseSurplus; // Increase_Surplus_redboot_count
    std::function<void()> decreaseSurplus; // Decrease_Surplus_redboot_count

    // The workspace check for a run of the mode (1-3), reporting into the report; returns the
    // number of failures. Performed at the ISP action before any device is asked anything; a
    // run with a failure does not start. Left empty, no check is made (tests of the reactions).
    std::function<int(const WorkspaceCheckOptions& options, CheckReport& report)> checkWorkspace;

    // The run record file. Left empty, runs are recorded nowhere and a unit's outcome is taken
    // from the run's notifications alone, without asking the devices again (tests of the
    // reactions).
    std::function<std::string()> runRecordPath;

    // Asks the programming procedures under way to stop at their next safe point (between pages
    // or polls) when stop is true; false lets the next run proceed.
    std::function<void(bool stop)> requestStop;
};

} // namespace kestrel::station
