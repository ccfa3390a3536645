// The Basic page's continuous mode: units programmed as they arrive, each recorded once, with
// the shift's counters (isp_page.h).
#include "app/station/isp_page.h"

#include "app/station/isp_worker.h"
#include "kestrellib/program/config_files.h"
#include "platform/message_box/message_box.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace kestrel::station {
namespace {

std::string UnitEndedLine(const RunRecord& r, std::uint32_t unitMs, const ShiftFigures& shift) {
    char text[96];
    std::snprintf(text, sizeof text, "Unit ended: Dev%d %s in %.1f s", r.device,
                  r.ok ? "passed" : "failed", unitMs / 1000.0);
    std::string line = text;
    if (!r.ok && !r.message.empty()) {
        line += " (" + r.message + ")";
    }
    return line + ". " + ShiftLine(shift) + "\n";
}

} // namespace

bool IspPage::StartContinuous(const PathBoxes& typed, SettingsFiles files) {
    if (runUnderWay_ || !workers_.empty() || demoCopyUnderWay_) {
        return false;
    }
    if (!PrepareRun(typed, files)) {
        return true;
    }
    demoCopyWanted_ = false;
    monitor_.Reset();
    runTime_ = RunTimeNow();
    shiftStart_ = runTime_;
    WatchMessageBoxes(true);
    // The run's settings, taken once for the whole shift.
    romfsPath_ = config::HomePath(settings_.resourcePath);
    romfs1Path_ =
        settings_.romfs1Shown != 0 ? config::HomePath(settings_.romfs1Path) : std::string();
    writeRomfs_ = library_.isWriteRomFs(1);
    writeRomfs1_ = library_.isWriteRomFs(2);
    redbootPath_.clear();
    bootChosen_ = false;
    lineRun_ = DescribeRun();
    lineImages_.clear();
    library_.resetSurplus();

    units_.Clear();
    shift_.Begin(tick_());
    lastShift_ = ShiftFigures{};
    unitsStarted_ = 0;
    jobCount_ = 0;
    workersOutstanding_ = 0;
    state_.runningWorkers = 0;
    draining_ = false;
    continuous_ = true;
    runUnderWay_ = true;

    char text[96];
    std::snprintf(text, sizeof text,
                  "Continuous mode: mode %d, read verify %d, rebuild %d, verify after ISP %d\n",
                  settings_.imageType, settings_.readVerify, settings_.rebuildNandFs,
                  settings_.verifyAfterIsp);
    std::string line = text;
    line += "  boot code: " + config::HomePath(settings_.bootCodePath) + "\n";
    line += "  resource: " + (writeRomfs_ ? romfsPath_ : std::string("(not written)")) + "\n";
    if (writeRomfs1_ != 0 && !romfs1Path_.empty()) {
        line += "  resource 1: " + romfs1Path_ + "\n";
    }
    line += "Every unit plugged in is programmed at once; Stop ends the shift.\n";
    view_.AppendLog(line);
    view_.SetContinuous(true);
    view_.SetShift(shift_.Figures(tick_()));
    SetIspEnabled(true);
    for (int k = 0; k < kSlotCount; ++k) {
        ShowWaitingForUnit(k);
    }
    ScanLine();
    return true;
}

void IspPage::StopContinuous() {
    if (!continuous_ || draining_) {
        return;
    }
    draining_ = true;
    SetIspEnabled(false);
    view_.AppendLog("Continuous mode stops: the units under way finish, no new unit starts.\n");
    if (!inScan_ && units_.Running() == 0) {
        EndContinuous();
    }
}

void IspPage::ScanLine() {
    if (!continuous_) {
        return;
    }
    if (inScan_) {
        rescan_ = true; // the scan under way looks again
        return;
    }
    inScan_ = true;
    do {
        rescan_ = false;
        const int n = library_.deviceCount();
        std::vector<PresentUnit> present;
        present.reserve(static_cast<std::size_t>(std::max(n, 0)));
        for (int i = 0; i < n; ++i) {
            present.push_back({library_.devicePath ? library_.devicePath(i) : std::string(),
                               library_.deviceHandle(i)});
        }
        int admit = draining_ ? 0 : kIspJobTableSize;
        if (unitLimit_ > 0) {
            admit = std::min(admit, std::max(unitLimit_ - unitsStarted_, 0));
        }
        const LineUnits::Changes changes = units_.Scan(present, admit);
        for (int slot : changes.freed) {
            ShowWaitingForUnit(slot);
        }
        for (const LineUnits::Start& start : changes.starts) {
            StartUnit(start.slot, start.device);
        }
        if (unitLimit_ > 0 && unitsStarted_ >= unitLimit_ && !draining_) {
            draining_ = true;
            SetIspEnabled(false);
            view_.AppendLog("Continuous mode stops: the unit limit is reached.\n");
        }
    } while (rescan_);
    inScan_ = false;
    if (draining_ && units_.Running() == 0) {
        EndContinuous();
    }
}

void IspPage::StartUnit(int slot, int deviceIndex) {
    const auto k = static_cast<std::size_t>(slot);
    ++unitsStarted_;
    monitor_.ForgetDevice(slot);
    unitStart_[k] = tick_();
    unitTime_[k] = RunTimeNow();
    devIds_[k] = library_.deviceId(deviceIndex);
    IspJob& job = jobs_[k];
    job = IspJob{};
    job.hWnd = Window();
    job.redbootPath = "";
    job.romfsPath = romfsPath_.c_str();
    job.romfs1Path = romfs1Path_.c_str();
    job.hDevice = library_.deviceHandle(deviceIndex);
    job.devId = devIds_[k].c_str();
    job.devIndex = slot;
    job.imageType = settings_.imageType;
    job.readVerify = settings_.readVerify;
    job.rebuildNandFs = settings_.rebuildNandFs;
    job.copyDemo = 0;
    job.romfs1Shown = settings_.romfs1Shown;
    job.writeRomfs = writeRomfs_;
    job.writeRomfs1 = writeRomfs1_;
    jobCount_ = std::max(jobCount_, slot + 1);
    if (HasSlot(slot)) {
        ClearSlot(slot, SlotPicture::kIdle);
        ShowSlotText(slot, kConnectedText);
    }
    if (!bootChosen_) {
        // As a run chooses it from its first device: once, from the first unit that answers.
        IspJob probe = job;
        int result = 0;
        redbootPath_ = library_.getRedboot(probe, config::HomePath(settings_.bootCodePath), result);
        job.loaderLevel = probe.loaderLevel;
        job.loaderClass = probe.loaderClass;
        if (result == -1) {
            if (monitor_.Device(slot).messages.empty()) {
                monitor_.AddMessageBox("the boot image for this unit could not be chosen", slot);
            }
            UnitEnded(slot);
            return;
        }
        bootChosen_ = true;
        lineLoaderLevel_ = probe.loaderLevel;
        lineLoaderClass_ = probe.loaderClass;
        job.redbootPath = redbootPath_.c_str();
        lineImages_ = RunImages(lineRun_, job);
    }
    job.redbootPath = redbootPath_.c_str();
    job.loaderLevel = lineLoaderLevel_;
    job.loaderClass = lineLoaderClass_;
    ++workersOutstanding_;
    try {
        unitWorkers_[k] = std::thread([this, &job] { IspWorkerProc(job, library_, stop_); });
    } catch (const std::system_error&) {
        --workersOutstanding_;
        char text[96];
        std::snprintf(text, sizeof text, "Device:%d ==> Can't start the device's worker.\n", slot);
        platform::ShowMessageBox(text);
        UnitEnded(slot);
    }
}

void IspPage::UnitEnded(int slot) {
    if (!InJobTable(slot) || units_.State(slot) != LineSlotState::kRunning) {
        return;
    }
    const auto k = static_cast<std::size_t>(slot);
    if (unitWorkers_[k].joinable()) {
        unitWorkers_[k].join(); // it has posted its last message
        if (workersOutstanding_ > 0) {
            --workersOutstanding_;
        }
    }
    IspJob& job = jobs_[k];
    job.hWnd = nullptr;
    if (HasSlot(slot)) {
        ResetSlot(slot);
    }
    RunDescription run = lineRun_;
    run.time = unitTime_[k]; // each unit's record starts when its unit started
    RunRecord record = RecordUnit(run, lineImages_, job, slot, monitor_);
    const std::uint32_t now = tick_();
    const std::uint32_t unitMs = now - unitStart_[k];
    shift_.Add(record.ok, unitMs);
    const ShiftFigures figures = shift_.Figures(now);
    record.unitMs = unitMs;
    record.shiftStart = shiftStart_;
    record.shift = figures;
    if (!recordPath_.empty() && !AppendRunRecords(recordPath_, {record}, recordError_)) {
        view_.AppendLog("The run record can't be written: " + recordError_ + "\n");
    }
    view_.AppendLog(UnitEndedLine(record, unitMs, figures));
    view_.SetShift(figures);
    const bool ok = record.ok;
    records_.push_back(std::move(record));
    if (units_.Ended(slot, ok)) {
        ShowWaitingForUnit(slot); // it left while it ran
    } else if (HasSlot(slot)) {
        view_.SetSlotResult(slot, ok ? SlotResult::kPassed : SlotResult::kFailed);
    }
    if (units_.Running() == 0) {
        // A box that named no unit counted against the units under way; the next do not
        // inherit it.
        monitor_.ForgetRunMessages();
    }
    rescan_ = true; // a unit inserted again while its worker ran is new now
    ScanLine();
}

void IspPage::ShowWaitingForUnit(int slot) {
    if (!HasSlot(slot)) {
        return;
    }
    ClearSlot(slot, SlotPicture::kNotConnected);
    ShowSlotText(slot, kWaitingForUnitText);
}

void IspPage::EndContinuous() {
    continuous_ = false;
    draining_ = false;
    runUnderWay_ = false;
    workersOutstanding_ = 0;
    WatchMessageBoxes(false);
    view_.SetContinuous(false);
    lastShift_ = shift_.Figures(tick_());
    view_.AppendLog("Continuous mode ended. " + ShiftLine(lastShift_) + "\n");
    SetIspEnabled(true);
    platform::PostWindowMessage(Window(), WM_ISP_STATUS, kStatusDevicesChanged, 0);
}

} // namespace kestrel::station
