#pragma once
// The ISP side of the Basic page, free of any widget: the job table, the run state, the ISP
// action that builds a run and starts one worker per job, and the page's reactions to every
// WM_ISP_STATUS code and WM_ISP_EVENT event, shown through a StationView. The main dialog's
// title refresh (WM_DEVICE_REFRESH) is handled here too, so a front end without a separate
// dialog window routes all three messages to one page.
//
// Threads: everything here runs on the thread that owns the page (the UI thread of the window,
// the loop thread of the command line), except the workers. Messages reach the page through the
// window sink given at construction; the front end takes them from that sink on the owning
// thread and hands each to HandleMessage in posting order.
//
// Devices and slots: the display has eight slots while the job table holds 64 jobs. Every
// device of the device set gets a worker; notifications about device index 8 and above never
// touch slot state, but their log lines are written and their workers count in the run.
//
// Pre-flight: the ISP action first performs the workspace check (library.checkWorkspace, the
// same check as kestrel-cli check) for the run's mode, before the first command to any device.
// When it finds a failure, its findings go to the log and no run is built: no device is probed,
// erased or written, and the ISP action is enabled again. Its notes are logged before a run that
// starts, so what the check says about the images (a sub-block the device can't reach, say)
// stands in the run's log.
//
// The outcome: the page watches every notification and every message box raised from the ISP
// action until the run ends (RunMonitor). When the last worker has ended, it records one line
// per device in the run record (isp-runs.jsonl beside the INI files, unless another path or
// none is set), reading each unit back first when [General] VerifyAfterIsp asks for it, marks
// each slot passed or failed, and logs "Run ended: N passed, M failed (Dev...)". The marks are
// cleared by the next ISP action and when a slot's device leaves.
//
// A run under way: from the ISP action until every worker of the run has ended. While a run is
// under way the ISP action stays off (code 513 does not bring it back early), a second ISP
// action is refused and the slot status refresh waits, so the job table is never rebuilt under
// running workers.
//
// Continuous mode (StartContinuous): instead of one run over the devices present at the press,
// every device of the model that arrives is a unit programmed at once by its own worker, with
// the settings taken at the start (logged then). A unit takes a slot (job index) for as long as
// it is plugged in (line_units.h): its worker posts under that number, its result is recorded
// (one record line per unit, with the shift's counters) and logged when its worker ends, and its
// slot shows the result until the unit is pulled, then kWaitingForUnitText. A unit left plugged
// in after it finished is never programmed again; pulled and inserted again, it is a new unit.
// The boot image is chosen once, from the first unit whose loader answers. StopContinuous (the
// ISP action while the mode is on, or RequestStop) lets the units under way finish and starts
// no new one; the mode then ends with the shift's line in the log. While the mode is on, the run
// counts as under way (no ISP press, no slot refresh by device index) and the ISP action stays
// enabled as the stop. There is no demo copy in continuous mode (it closes every device). The
// device set is compared with the slots whenever the title is refreshed, which every front end
// does right after a device change.
//
// Demo copy: when the run has "Download Demo file" checked and the demo directory holds files,
// every worker whose device succeeded posts code 7, and the code 7 that brings the devices
// awaited (code 5) to zero starts the demo-copy run (demo_copy.h). From then until its
// code 513 the ISP action stays off and a new ISP action is refused, so that the demo copy's
// closing of the devices never meets a run. Destroying the page stops a demo copy still waiting
// for its drives and waits for copies under way.

#include "app/station/demo_copy.h"
#include "app/station/line_units.h"
#include "app/station/page_settings.h"
#include "app/station/run_monitor.h"
#include "app/station/run_outcome.h"
#include "app/station/run_record.h"
#include "app/station/run_state.h"
#include "app/station/shift_counters.h"
#include "app/station/station_library.h"
#include "app/station/station_view.h"
#include "kestrel/isp_job.h"
#include "platform/messages/message_sink.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace kestrel::station {

// The caption of the main dialog for n connected devices.
std::string CaptionFor(int deviceCount);

inline constexpr const char* kCaptionBase = "Tarn4410 Kestrel Pro v1.3.0.10";
inline constexpr const char* kConnectedText = "Connected";
inline constexpr const char* kNotConnectedText = "Not Connected";
// Shown on a slot while a message box of its device waits for the operator.
inline constexpr const char* kWaitingForOperatorText = "waiting for operator";
// Logged when the ISP action finds no device to program.
inline constexpr const char* kWaitingForUnitText = "waiting for a unit";
// The ISP action's text while continuous mode is on.
inline constexpr const char* kStopText = "Stop";
inline constexpr const char* kNoDeviceLogText =
    "ISP: no device is connected; nothing was programmed.\n";

// The texts typed into the page's path boxes at the moment of the ISP action. The Romfs 1 box
// is not among them: a run uses the Romfs 1 path the page holds.
struct PathBoxes {
    std::string bootCode;
    std::string resource;
    std::string demoDir;
};

class IspPage {
public:
    // window: the page's own window; every job's notifications are posted there.
    // dialog: the main dialog's window for WM_DEVICE_REFRESH, or null (then code 8 posts
    // nothing). Both must outlive the page. Calls library.initSurplus.
    IspPage(StationView& view, StationLibrary library, platform::MessageSink& window,
            platform::MessageSink* dialog);
    // Stops and joins the workers of a run under way, then calls library.freeSurplus.
    ~IspPage();
    IspPage(const IspPage&) = delete;
    IspPage& operator=(const IspPage&) = delete;

    PageSettings& Settings() { return settings_; }

    // What the ISP action does with the settings files: the window saves the paths and applies
    // the Dram type at every press; a one-run front end (kestrel-cli isp) writes neither isp.ini
    // nor config.ini and brings the run's Dram setting in as a config override.
    enum class SettingsFiles { kSaveAtPress, kLeaveUnchanged };

    // The ISP action. Takes the typed paths over, saves them and applies the Dram type (unless
    // told to leave the files), checks the workspace, builds the run and starts its workers.
    // Returns false, doing nothing, while a run is under way.
    bool StartIsp(const PathBoxes& typed, SettingsFiles files = SettingsFiles::kSaveAtPress);
    // Continuous mode, with the same pre-flight as the ISP action. Returns false, doing nothing,
    // while a run is under way; true also when the workspace check refused it.
    bool StartContinuous(const PathBoxes& typed, SettingsFiles files = SettingsFiles::kSaveAtPress);
    // No new unit starts; the mode ends once the units under way have ended.
    void StopContinuous();
    // The mode stops by itself once this many units have started (0: no limit).
    void SetUnitLimit(int units) { unitLimit_ = units; }
    bool ContinuousOn() const { return continuous_; }
    bool ContinuousStopping() const { return continuous_ && draining_; }
    int UnitsStarted() const { return unitsStarted_; }
    // The shift's counters now, or as they stood when the mode ended.
    ShiftFigures Shift() const { return continuous_ ? shift_.Figures(tick_()) : lastShift_; }
    const LineUnits& Units() const { return units_; }
    // Failures the workspace check of the last ISP action found (0: the run was built).
    int RefusedFailures() const { return refusedFailures_; }

    // The run record file; "" writes none.
    void SetRunRecordPath(std::string path) { recordPath_ = std::move(path); }
    // What the current (or last) run's notifications and message boxes said.
    RunMonitor& Monitor() { return monitor_; }
    const RunMonitor& Monitor() const { return monitor_; }
    // The last run's records, one per job, once it has ended (in continuous mode: every unit of
    // the shift so far, in the order they ended); and why they could not be
    // appended to the run record file ("" when they were).
    const std::vector<RunRecord>& Records() const { return records_; }
    const std::string& RecordError() const { return recordError_; }

    // Reactions, on the owning thread.
    void HandleMessage(const platform::WindowMessage& message);
    // record: the ProgressRecord carried by codes 1 and 3, or null when lParam is a plain number.
    void HandleStatus(std::uint32_t code, std::intptr_t lParam, const ProgressRecord* record);
    void HandleEvent(std::uint32_t event, std::intptr_t device);
    // Title with the device count, then code 1280 to the page.
    void RefreshTitle();
    void ResetSlot(int slot);
    // A message box of the device waits for the operator (true) or was confirmed (false): the
    // slot shows kWaitingForOperatorText meanwhile, then its status text again.
    void OperatorWaiting(int device, bool waiting);

    // Asks the workers of a run under way to stop at their next safe point and joins them.
    // Messages they post meanwhile stay in the window sink. Call it before anything the
    // workers use goes away, and only when a worker's message box no longer waits for this
    // thread.
    void StopAndJoin();
    // In continuous mode: StopContinuous. Otherwise asks the workers of a run under way to stop
    // at their next safe point without waiting for them, and a demo copy still looking for its
    // drives to give up; the run then ends as any run does, each worker posting its end. The
    // request holds until the next ISP action.
    void RequestStop();
    // Records a run whose demo copy ended without its end message (stopped while it looked for
    // its drives); does nothing when the run was recorded already.
    void CompleteRun();

    // Called when code 7 brings the devices awaited for the demo copy to zero, in place of the
    // page's own demo-copy run; the demo copy then counts as under way until code 513.
    void SetDemoCopyStarter(std::function<void(const std::string& demoDir)> starter) {
        demoCopyStarter_ = std::move(starter);
    }
    // The outside calls of the page's own demo-copy run (the real exports by default).
    void SetDemoCopyLibrary(DemoCopyLibrary library);

    // The millisecond tick the step timers read (the platform's tick count by default).
    void SetTickSource(std::function<std::uint32_t()> tick) { tick_ = std::move(tick); }

    bool RunUnderWay() const { return runUnderWay_; }
    bool DemoCopyUnderWay() const { return demoCopyUnderWay_; }
    // Whether a thread of the page's own demo-copy run is still working.
    bool DemoCopyActive() const { return demoRun_ && demoRun_->UnderWay(); }
    const RunState& State() const { return state_; }
    int JobCount() const { return jobCount_; }
    const IspJob& Job(int index) const { return jobs_[static_cast<std::size_t>(index)]; }
    platform::WindowHandle Window() const { return platform::ToWindowHandle(&window_); }

private:
    // The ISP action's first part in both modes; false when the workspace check refused the run.
    bool PrepareRun(const PathBoxes& typed, SettingsFiles files);
    RunDescription DescribeRun() const;
    int BuildRun();
    // Continuous mode (isp_page_continuous.cpp).
    void ScanLine();
    void StartUnit(int slot, int deviceIndex);
    void UnitEnded(int slot);
    void ShowWaitingForUnit(int slot);
    void EndContinuous();
    // The workspace check into the log; the number of failures.
    int CheckWorkspaceFirst();
    void SetIspEnabled(bool enabled);
    void SlotStatusRefresh(std::intptr_t deviceCount);
    void ShowSlotText(int slot, const char* text);
    // Everything a slot shows of a run (bar, counters, waiting note) back to its start; the
    // picture becomes `picture`, the status text stays.
    void ClearSlot(int slot, SlotPicture picture);
    void WorkerEnded(std::intptr_t device);
    void JoinWorkers();
    void WatchMessageBoxes(bool watch);
    void FinishRun();
    void RecordFinishedRun();
    void StartDemoCopy();

    StationView& view_;
    StationLibrary library_;
    platform::MessageSink& window_;
    platform::MessageSink* dialog_;
    PageSettings settings_;
    RunState state_;

    std::array<IspJob, kIspJobTableSize> jobs_{};
    int jobCount_ = 0;
    int refusedFailures_ = 0;
    RunMonitor monitor_;
    std::string runTime_;
    std::string recordPath_;
    std::vector<RunRecord> records_;
    std::string recordError_;
    int boxObserver_ = 0;
    bool readDevices_ = false; // the outcome may ask the devices (facts, read-back)
    // Texts the jobs point at; they stay valid until the next run rebuilds the table.
    std::string redbootPath_;
    std::string romfsPath_;
    std::string romfs1Path_;
    std::array<std::string, kIspJobTableSize> devIds_;
    std::array<std::string, kSlotCount> slotText_; // status text, also while a box waits
    std::array<bool, kSlotCount> waiting_{};       // a box of the slot's device waits

    bool runUnderWay_ = false;
    int workersOutstanding_ = 0; // workers of the run whose end (256) has not been handled
    std::vector<std::thread> workers_;
    std::atomic<bool> stop_{false};
    std::function<void(const std::string&)> demoCopyStarter_;
    bool demoCopyWanted_ = false;   // the run's workers post code 7
    bool demoCopyUnderWay_ = false; // from the start of a demo copy until its code 513
    std::unique_ptr<DemoCopyRun> demoRun_;
    bool recordPending_ = false; // the run's workers ended; its demo copy has not
    std::function<void(void*)> closeAllDevice_;
    std::shared_ptr<std::atomic<bool>> closeAsked_ = std::make_shared<std::atomic<bool>>(false);
    std::function<std::uint32_t()> tick_;

    // Continuous mode.
    bool continuous_ = false;
    bool draining_ = false; // stopping: no new unit starts
    bool inScan_ = false;
    bool rescan_ = false;
    int unitLimit_ = 0;
    int unitsStarted_ = 0;
    bool bootChosen_ = false;
    int lineLoaderLevel_ = 0;
    int lineLoaderClass_ = 0;
    int writeRomfs_ = 0;
    int writeRomfs1_ = 0;
    RunDescription lineRun_;
    std::vector<ImageDigest> lineImages_;
    LineUnits units_{kIspJobTableSize};
    ShiftCounters shift_;
    ShiftFigures lastShift_;
    std::string shiftStart_;
    std::array<std::uint32_t, kIspJobTableSize> unitStart_{};
    std::array<std::string, kIspJobTableSize> unitTime_;
    std::array<std::thread, kIspJobTableSize> unitWorkers_;
};

} // namespace kestrel::station
