#include "app/station/isp_worker.h"

#include "platform/message_box/message_box.h"
#include "platform/messages/message_sink.h"

namespace kestrel::station {
namespace {

bool IniPresent(const StationLibrary& library, const char* fileName, const char* missingText) {
    if (library.isIniFileExist(fileName) == -1) {
        platform::ShowMessageBox(missingText);
        return false;
    }
    return true;
}

bool Stopped(const std::atomic<bool>& stop) {
    return stop.load(std::memory_order_acquire);
}

} // namespace

int IspWorkerProc(IspJob& job, const StationLibrary& library, const std::atomic<bool>& stop,
                  bool demoCopy) {
    void* const window = job.hWnd;
    const std::intptr_t device = job.devIndex;
    const platform::MessageBoxDeviceScope boxesName(static_cast<int>(device));
    platform::PostWindowMessage(window, WM_ISP_STATUS, kStatusWorkerStarted, device);
    bool succeeded = false;

    switch (job.imageType) {
    case 1:
        if (!Stopped(stop) && IniPresent(library, "config.ini", kNoConfigIniText)) {
            succeeded = library.writeFw(&job) != -1;
        }
        break;
    case 2:
        if (!Stopped(stop) && IniPresent(library, "isp.ini", kNoIspIniText)) {
            succeeded = library.writeRomfs(&job) != -1;
        }
        break;
    case 3:
        if (Stopped(stop) || !IniPresent(library, "config.ini", kNoConfigIniText) ||
            !IniPresent(library, "isp.ini", kNoIspIniText)) {
            break;
        }
        library.increaseSurplus();
        if (library.writeFw(&job) == -1) {
            break; // the library has reported the failure; the resources are skipped
        }
        library.decreaseSurplus();
        if (Stopped(stop)) {
            break;
        }
        platform::PostWindowMessage(window, WM_ISP_STATUS, kStatusBusy, 0);
        succeeded = library.writeRomfs(&job) != -1;
        break;
    default:
        break;
    }

    if (demoCopy && succeeded) {
        platform::PostWindowMessage(window, WM_ISP_STATUS, kStatusDemoReady, 0);
    }
    platform::PostWindowMessage(window, WM_ISP_STATUS, kStatusWorkerEnded, device);
    return 0;
}

} // namespace kestrel::station
