#include "kestrellib/program/job_notifications.h"

#include "kestrellib/program/stop_request.h"
#include "platform/message_box/message_box.h"
#include "platform/messages/message_sink.h"

#include <cstdio>

namespace kestrel::program {

void PostJobEvent(const IspJob& job, std::uint32_t event) {
    platform::PostWindowMessage(job.hWnd, WM_ISP_EVENT, event, job.devIndex);
}

void PostJobStatus(const IspJob& job, std::uint32_t code, std::intptr_t lParam) {
    platform::PostWindowMessage(job.hWnd, WM_ISP_STATUS, code, lParam);
}

void PostProgressRange(const IspJob& job, std::uint32_t steps) {
    const ProgressRecord record{static_cast<std::uint16_t>(job.devIndex), steps};
    platform::PostWindowMessageCopy(job.hWnd, WM_ISP_STATUS, kStatusProgressRange, &record,
                                    sizeof record);
}

void PostProgressSteps(const IspJob& job, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        platform::PostWindowMessage(job.hWnd, WM_ISP_STATUS, kStatusProgressStep, job.devIndex);
    }
}

void ShowDeviceMessage(const IspJob& job, const char* format) {
    if (JobShouldEnd(job) && JobDeviceGone(job)) {
        return; // the device is gone: its one removal message says what happened
    }
    char text[256];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof text, format, job.devIndex);
#pragma GCC diagnostic pop
    platform::ShowMessageBox(text);
}

void ShowDeviceMessage(const IspJob& job, const char* format, const std::string& detail) {
    if (JobShouldEnd(job) && JobDeviceGone(job)) {
        return;
    }
    char text[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof text, format, job.devIndex, detail.c_str());
#pragma GCC diagnostic pop
    platform::ShowMessageBox(text);
}

} // namespace kestrel::program
