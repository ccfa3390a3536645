#include "kestrellib/device/device_removal.h"

#include "platform/message_box/message_box.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>

namespace kestrel::device {
namespace {

struct ReportedRemovals {
    std::mutex lock;
    std::deque<DeviceHandle> handles; // newest last; handle values are never given out twice
};

ReportedRemovals& Reported() {
    static ReportedRemovals reported;
    return reported;
}

} // namespace

bool ReportDeviceRemoved(DeviceHandle handle, int devIndex, int error) {
    {
        ReportedRemovals& r = Reported();
        std::lock_guard guard(r.lock);
        if (std::find(r.handles.begin(), r.handles.end(), handle) != r.handles.end()) {
            return false;
        }
        if (r.handles.size() >= kReportedRemovalMemory) {
            r.handles.pop_front();
        }
        r.handles.push_back(handle);
    }
    char text[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof text, kTextDeviceRemoved, devIndex, error);
#pragma GCC diagnostic pop
    platform::ShowMessageBox(text);
    return true;
}

} // namespace kestrel::device
