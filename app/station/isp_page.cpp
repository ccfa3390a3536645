#include "app/station/isp_page.h"

#include "app/station/event_lines.h"
#include "app/station/isp_worker.h"
#include "app/station/run_outcome.h"
#include "kestrellib/program/config_files.h"
#include "platform/clock/clock.h"
#include "platform/devices/devices.h"
#include "platform/message_box/message_box.h"
#include "platform/message_box/message_box_observer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>

namespace kestrel::station {

std::string CaptionFor(int deviceCount) {
    std::string caption = kCaptionBase;
    if (deviceCount > 0) {
        caption += "[USB:" + std::to_string(deviceCount) + "]";
    }
    return caption;
}

IspPage::IspPage(StationView& view, StationLibrary library, platform::MessageSink& window,
                 platform::MessageSink* dialog)
    : view_(view), library_(std::move(library)), window_(window), dialog_(dialog),
      tick_(platform::TickCount) {
    slotText_.fill(kNotConnectedText);
    if (library_.runRecordPath) {
        recordPath_ = library_.runRecordPath();
        readDevices_ = true;
    }
    library_.initSurplus();
}

IspPage::~IspPage() {
    StopAndJoin();
    WatchMessageBoxes(false);
    if (demoRun_) {
        demoRun_->Stop();
    }
    library_.freeSurplus();
}

bool IspPage::PrepareRun(const PathBoxes& typed, SettingsFiles files) {
    stop_.store(false, std::memory_order_release);
    library_.requestStop(false); // a stop asked of an earlier run does not hold for this one
    settings_.bootCodePath = typed.bootCode;
    settings_.resourcePath = typed.resource;
    settings_.demoDir = typed.demoDir;
    bool dramWritten = true;
    if (files == SettingsFiles::kSaveAtPress) {
        // The run takes its paths from the boxes: paths isp.ini cannot keep are only noted. The
        // Dram setting reaches the units through config.ini, so a run without it is refused.
        std::string error;
        if (!SaveRunPaths(settings_, &error)) {
            view_.AppendLog("The paths can't be kept in isp.ini: " + error +
                            " The run uses the paths shown.\n");
        }
        error.clear();
        dramWritten = ApplyDramType(settings_.dramIndex, &error);
        if (!dramWritten) {
            view_.AppendLog("The Dram type can't be written to config.ini: " + error + "\n");
        } else if (!error.empty()) {
            view_.AppendLog("The Dram type can't be kept in isp.ini: " + error + "\n");
        }
    }
    SetIspEnabled(false);
    records_.clear();
    recordError_.clear();
    // Nothing of an earlier run (or demo copy) stays on the slots: text, bar, picture and mark.
    for (int k = 0; k < kSlotCount; ++k) {
        ClearSlot(k, k < library_.deviceCount() ? SlotPicture::kIdle : SlotPicture::kNotConnected);
    }
    if (!dramWritten) {
        view_.AppendLog("The run is refused: the units would not get the Dram type chosen. No "
                        "device was touched.\n");
        refusedFailures_ = 1;
        jobCount_ = 0;
        SetIspEnabled(true);
        return false;
    }
    refusedFailures_ = CheckWorkspaceFirst();
    if (refusedFailures_ > 0) {
        jobCount_ = 0;
        SetIspEnabled(true);
        return false;
    }
    return true;
}

bool IspPage::StartIsp(const PathBoxes& typed, SettingsFiles files) {
    if (runUnderWay_ || !workers_.empty() || demoCopyUnderWay_) {
        return false;
    }
    if (!PrepareRun(typed, files)) {
        return true;
    }
    demoCopyWanted_ =
        settings_.copyDemo != 0 && CountFiles(config::HomePath(settings_.demoDir)) > 0;

    monitor_.Reset();
    runTime_ = RunTimeNow();
    WatchMessageBoxes(true);
    jobCount_ = BuildRun();
    if (jobCount_ == 0 && library_.deviceCount() == 0) {
        view_.AppendLog(kNoDeviceLogText);
    }
    const platform::WindowHandle window = Window();
    platform::PostWindowMessage(window, WM_ISP_STATUS, kStatusJobCount, jobCount_);
    library_.resetSurplus();
    platform::PostWindowMessage(window, WM_ISP_STATUS, kStatusRunStart, 0);
    platform::PostWindowMessage(window, WM_ISP_STATUS, kStatusRunBegins, 0);

    runUnderWay_ = jobCount_ > 0;
    workersOutstanding_ = jobCount_;
    workers_.reserve(static_cast<std::size_t>(jobCount_));
    for (int i = 0; i < jobCount_; ++i) {
        IspJob* job = &jobs_[static_cast<std::size_t>(i)];
        try {
            workers_.emplace_back([this, job, demo = demoCopyWanted_] {
                IspWorkerProc(*job, library_, stop_, demo);
            });
        } catch (const std::system_error&) {
            // The system refused a thread: this device is not programmed in this run, and the
            // run ends when the workers that did start have ended.
            job->hWnd = nullptr;
            --workersOutstanding_;
            char text[96];
            std::snprintf(text, sizeof text, "Device:%d ==> Can't start the device's worker.\n", i);
            platform::ShowMessageBox(text);
        }
    }
    if (workers_.empty()) {
        runUnderWay_ = false;
        WatchMessageBoxes(false);
        SetIspEnabled(true);
    }
    return true;
}

void IspPage::WatchMessageBoxes(bool watch) {
    if (watch && boxObserver_ == 0) {
        // A worker's boxes are raised under its device scope; others (the page's own) name none.
        boxObserver_ = platform::AddMessageBoxObserver([this](const std::string& text) {
            const int device = platform::MessageBoxDevice();
            monitor_.AddMessageBox(text, device >= 0 ? std::optional<int>(device) : std::nullopt);
        });
    } else if (!watch && boxObserver_ != 0) {
        platform::RemoveMessageBoxObserver(boxObserver_);
        boxObserver_ = 0;
    }
}

void IspPage::FinishRun() {
    // A demo copy under way belongs to the run: its units are recorded when it ends.
    if (demoCopyUnderWay_) {
        recordPending_ = true;
        return;
    }
    RecordFinishedRun();
}

void IspPage::CompleteRun() {
    if (recordPending_ && !runUnderWay_) {
        RecordFinishedRun();
    }
}

void IspPage::RecordFinishedRun() {
    recordPending_ = false;
    WatchMessageBoxes(false);
    const RunDescription run = DescribeRun();
    records_ = RecordRun(
        run, std::span<const IspJob>(jobs_.data(), static_cast<std::size_t>(jobCount_)), monitor_);
    if (!recordPath_.empty() && !AppendRunRecords(recordPath_, records_, recordError_)) {
        view_.AppendLog("The run record can't be written: " + recordError_ + "\n");
    }
    for (const RunRecord& r : records_) {
        if (HasSlot(r.device)) {
            view_.SetSlotResult(r.device, r.ok ? SlotResult::kPassed : SlotResult::kFailed);
        }
    }
    view_.AppendLog(RunEndedLine(records_));
    // The devices the demo copy's end asked to close have been read for the records.
    if (closeAsked_->exchange(false) && closeAllDevice_) {
        closeAllDevice_(Window());
    }
}

RunDescription IspPage::DescribeRun() const {
    RunDescription run;
    run.time = runTime_;
    run.mode = settings_.imageType;
    run.bootPackagePath = config::HomePath(settings_.bootCodePath);
    run.dualImage = config::Read(config::isp::kRomfsDualImage) != 0;
    run.readBack = settings_.verifyAfterIsp != 0;
    run.readDevices = readDevices_;
    run.demoCopy = demoCopyWanted_;
    return run;
}

int IspPage::CheckWorkspaceFirst() {
    if (!library_.checkWorkspace) {
        return 0;
    }
    std::vector<std::string> lines;
    CheckReport report([&lines](const std::string& line) { lines.push_back(line); });
    // The run's own mode and files, which a one-run front end may have given apart from isp.ini.
    WorkspaceCheckOptions options;
    options.mode = settings_.imageType;
    options.bootCode = settings_.bootCodePath;
    options.romfs = settings_.resourcePath;
    if (settings_.romfs1Shown != 0) {
        options.romfs1 = settings_.romfs1Path;
    }
    const int failures = library_.checkWorkspace(options, report);
    for (const std::string& line : lines) {
        // A run that starts logs what the operator may not expect; a refused one everything.
        if (failures > 0 || line.rfind("note", 0) == 0) {
            view_.AppendLog(line + "\n");
        }
    }
    if (failures > 0) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "The run is refused: the workspace check found %d problem%s. No device was "
                      "touched.\n",
                      failures, failures == 1 ? "" : "s");
        view_.AppendLog(text);
    }
    return failures;
}

int IspPage::BuildRun() {
    int n = library_.deviceCount();
    // The boot image is chosen once per run, from device 0 as the set returns it (also when the
    // set is empty).
    IspJob probe{};
    probe.redbootPath = "";
    probe.romfsPath = "";
    probe.romfs1Path = "";
    probe.devId = "";
    probe.hDevice = library_.deviceHandle(0);
    int result = 0;
    redbootPath_ = library_.getRedboot(probe, config::HomePath(settings_.bootCodePath), result);
    if (result == -1) {
        n = 0;
    }
    n = std::clamp(n, 0, kIspJobTableSize);

    // Paths from isp.ini or typed into the page are taken from the home directory when relative.
    romfsPath_ = config::HomePath(settings_.resourcePath);
    romfs1Path_ =
        settings_.romfs1Shown != 0 ? config::HomePath(settings_.romfs1Path) : std::string();
    const int writeRomfs = library_.isWriteRomFs(1);
    const int writeRomfs1 = library_.isWriteRomFs(2);
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        devIds_[k] = library_.deviceId(i);
        IspJob& job = jobs_[k];
        job.hWnd = Window();
        job.redbootPath = redbootPath_.c_str();
        job.romfsPath = romfsPath_.c_str();
        job.romfs1Path = romfs1Path_.c_str();
        job.hDevice = library_.deviceHandle(i);
        job.devId = devIds_[k].c_str();
        job.devIndex = i;
        job.imageType = settings_.imageType;
        job.readVerify = settings_.readVerify;
        job.rebuildNandFs = settings_.rebuildNandFs;
        job.copyDemo = settings_.copyDemo;
        job.romfs1Shown = settings_.romfs1Shown;
        job.writeRomfs = writeRomfs;
        job.writeRomfs1 = writeRomfs1;
        job.loaderLevel = probe.loaderLevel;
        job.loaderClass = probe.loaderClass;
    }
    for (int k = 0; k < std::min(n, kSlotCount); ++k) {
        ResetSlot(k);
    }
    return n;
}

void IspPage::HandleMessage(const platform::WindowMessage& message) {
    monitor_.Observe(message, tick_());
    switch (message.message) {
    case WM_ISP_STATUS: {
        // Codes 1 and 3 carry their ProgressRecord as the message's own copy; a plain number
        // (the demo copy's total) has no record to read.
        ProgressRecord record{};
        const bool hasRecord = message.payload.size() >= sizeof record;
        if (hasRecord) {
            std::memcpy(&record, message.payload.data(), sizeof record);
        }
        HandleStatus(static_cast<std::uint32_t>(message.wParam), message.lParam,
                     hasRecord ? &record : nullptr);
        break;
    }
    case WM_ISP_EVENT:
        HandleEvent(static_cast<std::uint32_t>(message.wParam), message.lParam);
        break;
    case WM_DEVICE_REFRESH:
        RefreshTitle();
        break;
    case platform::devices::kDeviceChangeMessage:
        if (library_.deviceChange) {
            library_.deviceChange(static_cast<unsigned>(message.wParam),
                                  reinterpret_cast<const void*>(message.lParam));
            RefreshTitle();
        }
        break;
    default:
        break;
    }
}

void IspPage::HandleStatus(std::uint32_t code, std::intptr_t lParam, const ProgressRecord* record) {
    switch (code) {
    case kStatusProgressRange:
        if (record != nullptr && HasSlot(record->devIndex)) {
            SlotState& slot = state_.slots[record->devIndex];
            slot.total += record->steps;
            view_.SetSlotRange(record->devIndex, slot.total);
        }
        if (!continuous_) { // the ISP action is the mode's stop
            SetIspEnabled(false);
        }
        break;
    case kStatusProgressStep:
        if (HasSlot(lParam)) {
            const int k = static_cast<int>(lParam);
            SlotState& slot = state_.slots[static_cast<std::size_t>(k)];
            slot.position += 1;
            view_.SetSlotPosition(k, slot.position);
            view_.SetSlotPicture(k, AnimationFrame(slot.position));
            if (slot.position == slot.total) {
                ResetSlot(k);
            }
        }
        break;
    case kStatusProgressAdvance:
        if (record != nullptr && HasSlot(record->devIndex)) {
            const int k = record->devIndex;
            SlotState& slot = state_.slots[static_cast<std::size_t>(k)];
            slot.position += record->steps;
            view_.SetSlotPosition(k, slot.position);
            view_.SetSlotPicture(k, AnimationFrame(slot.position));
        }
        break;
    case kStatusJobCount:
        state_.demoPending = static_cast<int>(std::max<std::intptr_t>(lParam, 0));
        break;
    case kStatusDemoReady:
        SetIspEnabled(false);
        if (state_.demoPending > 0 && --state_.demoPending == 0) {
            StartDemoCopy();
        }
        break;
    case kStatusDevicesChanged:
        if (dialog_ != nullptr) {
            platform::PostWindowMessage(dialog_, WM_DEVICE_REFRESH, 0, 0);
        }
        break;
    case kStatusWorkerEnded:
        WorkerEnded(lParam);
        break;
    case kStatusWorkerStarted:
        ++state_.runningWorkers;
        break;
    case kStatusRunBegins:
        state_.runningWorkers = 0;
        break;
    case kStatusBusy:
        if (!continuous_) {
            SetIspEnabled(false);
        }
        break;
    case kStatusPhaseEnded:
        demoCopyUnderWay_ = false;
        CompleteRun();
        if (!runUnderWay_ && state_.runningWorkers == 0) {
            SetIspEnabled(true);
        }
        break;
    case kStatusDeviceCount:
        SlotStatusRefresh(lParam);
        break;
    default:
        break;
    }
}

void IspPage::WorkerEnded(std::intptr_t device) {
    if (continuous_) {
        if (state_.runningWorkers > 0) {
            --state_.runningWorkers;
        }
        UnitEnded(static_cast<int>(device));
        return;
    }
    if (InJobTable(device)) {
        jobs_[static_cast<std::size_t>(device)].hWnd = nullptr;
    }
    if (HasSlot(device)) {
        ResetSlot(static_cast<int>(device));
    }
    bool counted = false;
    if (state_.runningWorkers > 0) {
        --state_.runningWorkers;
        counted = true;
    }
    if (workersOutstanding_ > 0) {
        --workersOutstanding_;
        counted = true;
    }
    if (!counted || state_.runningWorkers != 0 || workersOutstanding_ != 0) {
        return;
    }
    // Every worker of the run has posted its last message.
    JoinWorkers();
    FinishRun();
    runUnderWay_ = false;
    SetIspEnabled(!demoCopyUnderWay_);
    platform::PostWindowMessage(Window(), WM_ISP_STATUS, kStatusDevicesChanged, 0);
}

void IspPage::HandleEvent(std::uint32_t event, std::intptr_t device) {
    const std::optional<EventLine> line = FindEventLine(event);
    if (!line) {
        return;
    }
    const bool slot = HasSlot(device);
    if (slot) {
        ShowSlotText(static_cast<int>(device), kConnectedText);
    }
    std::uint32_t seconds = 0;
    if (InJobTable(device)) {
        std::uint32_t& tick = state_.stepTick[static_cast<std::size_t>(device)];
        if (line->timer == StepTimer::kStart) {
            tick = tick_();
        } else if (line->timer == StepTimer::kElapsed) {
            const std::uint32_t elapsed = tick_() - tick;
            tick = elapsed;
            seconds = RoundedSeconds(elapsed);
        }
    }
    char text[128];
    std::snprintf(text, sizeof text, line->format, static_cast<int>(device),
                  static_cast<int>(seconds));
    if (slot && line->statusText != nullptr) {
        ShowSlotText(static_cast<int>(device), line->statusText);
    }
    view_.AppendLog(text);
}

void IspPage::RefreshTitle() {
    const int n = library_.deviceCount();
    view_.SetTitle(CaptionFor(n));
    // At once, not through the posted count: a unit pulled and inserted again before the posted
    // message is handled must be seen gone in between.
    ScanLine();
    platform::PostWindowMessage(Window(), WM_ISP_STATUS, kStatusDeviceCount, n);
}

void IspPage::SlotStatusRefresh(std::intptr_t deviceCount) {
    if (state_.runningWorkers != 0 || runUnderWay_) {
        return;
    }
    const int n = static_cast<int>(std::clamp<std::intptr_t>(deviceCount, 0, kSlotCount));
    for (int k = 0; k < n; ++k) {
        if (jobs_[static_cast<std::size_t>(k)].hWnd == nullptr) {
            ShowSlotText(k, kConnectedText);
            view_.SetSlotPicture(k, SlotPicture::kIdle);
        }
    }
    // A slot whose device has left shows nothing of it any more: text, picture and bar (a demo
    // copy's progress, which has no end test, included).
    for (int k = n; k < kSlotCount; ++k) {
        ClearSlot(k, SlotPicture::kNotConnected);
        ShowSlotText(k, kNotConnectedText);
    }
}

void IspPage::ShowSlotText(int slot, const char* text) {
    slotText_[static_cast<std::size_t>(slot)] = text;
    if (!waiting_[static_cast<std::size_t>(slot)]) {
        view_.SetSlotText(slot, text);
    }
}

void IspPage::ClearSlot(int slot, SlotPicture picture) {
    const auto k = static_cast<std::size_t>(slot);
    state_.slots[k] = SlotState{};
    view_.SetSlotRange(slot, 0);
    view_.SetSlotPosition(slot, 0);
    view_.SetSlotPicture(slot, picture);
    view_.SetSlotResult(slot, SlotResult::kNone);
    if (waiting_[k]) {
        waiting_[k] = false;
        view_.SetSlotText(slot, slotText_[k]);
    }
}

void IspPage::OperatorWaiting(int device, bool waiting) {
    if (!HasSlot(device)) {
        return;
    }
    const auto k = static_cast<std::size_t>(device);
    waiting_[k] = waiting;
    view_.SetSlotText(device, waiting ? kWaitingForOperatorText : slotText_[k]);
}

void IspPage::ResetSlot(int slot) {
    if (!HasSlot(slot)) {
        return;
    }
    state_.slots[static_cast<std::size_t>(slot)] = SlotState{};
    view_.SetSlotPosition(slot, 0);
    view_.SetSlotPicture(slot, SlotPicture::kIdle);
}

void IspPage::SetIspEnabled(bool enabled) {
    state_.ispEnabled = enabled;
    view_.SetIspEnabled(enabled);
}

void IspPage::SetDemoCopyLibrary(DemoCopyLibrary library) {
    if (demoRun_) {
        demoRun_->Stop();
    }
    // The demo copy's last drive closes every device as it ends, on its own thread; the page
    // closes them once the run's units have been read for their records.
    closeAllDevice_ = std::move(library.closeAllDevice);
    library.closeAllDevice = [asked = closeAsked_](void*) { asked->store(true); };
    demoRun_ = std::make_unique<DemoCopyRun>(std::move(library));
}

void IspPage::StartDemoCopy() {
    if (demoCopyStarter_) {
        demoCopyStarter_(config::HomePath(settings_.demoDir));
        demoCopyUnderWay_ = true;
        return;
    }
    if (!demoRun_) {
        SetDemoCopyLibrary(RealDemoCopyLibrary());
    }
    demoCopyUnderWay_ = demoRun_->Start({Window(), config::HomePath(settings_.demoDir), jobCount_});
}

void IspPage::StopAndJoin() {
    const bool unitWorkers = std::any_of(unitWorkers_.begin(), unitWorkers_.end(),
                                         [](const std::thread& t) { return t.joinable(); });
    if (workers_.empty() && !unitWorkers) {
        return;
    }
    stop_.store(true, std::memory_order_release);
    library_.requestStop(true);
    JoinWorkers();
    library_.requestStop(false);
}

void IspPage::RequestStop() {
    if (continuous_) {
        StopContinuous();
        return;
    }
    monitor_.StopRequested(jobCount_);
    stop_.store(true, std::memory_order_release);
    library_.requestStop(true);
    if (demoRun_) {
        demoRun_->RequestStop();
    }
}

void IspPage::JoinWorkers() {
    for (std::thread& worker : workers_) {
        if (worker.joinable()) {
            worker.join();
        }
    }
    workers_.clear();
    for (std::thread& worker : unitWorkers_) {
        if (worker.joinable()) {
            worker.join();
        }
    }
}

} // namespace kestrel::station
