#pragma once
// The window on simulated devices: a fresh module directory, the simulated device backend with
// an empty farm and device set, recorded message boxes, and a library table bound to the real
// Kestrellib exports except the boot image choice and the two programming procedures, which the
// tests script (posting the notifications the library posts).

#include "app/basic_page.h"
#include "app/control_id.h"
#include "app/kestrel_dlg.h"
#include "app/station/kestrellib_binding.h"
#include "kestrel/isp_job.h"
#include "kestrellib/device/sim_fixture.h"
#include "support/temp_home.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace kestrel::test {

// Processes events until pred holds; false after timeoutMs.
template <typename Pred>
bool WaitFor(Pred pred, int timeoutMs = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// A gate the scripted procedures wait at until the test opens it (or a stop is requested).
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool open = true;
    bool stopped = false;
    std::atomic<int> waiting{0};

    void Close() {
        std::lock_guard guard(lock);
        open = false;
    }
    void Open() {
        {
            std::lock_guard guard(lock);
            open = true;
        }
        changed.notify_all();
    }
    void Stop(bool stop) {
        {
            std::lock_guard guard(lock);
            stopped = stop;
        }
        changed.notify_all();
    }
    // False when stopped.
    bool Pass() {
        std::unique_lock guard(lock);
        ++waiting;
        changed.wait(guard, [this] { return open || stopped; });
        --waiting;
        return !stopped;
    }
};

// One programming step as the library posts it: begin event, range, steps, success event.
inline int ScriptedStep(IspJob* job, std::uint32_t begin, std::uint32_t success,
                        std::uint32_t steps, Gate& gate) {
    platform::PostWindowMessage(job->hWnd, WM_ISP_EVENT, begin, job->devIndex);
    ProgressRecord record{static_cast<std::uint16_t>(job->devIndex), steps};
    platform::PostWindowMessageCopy(job->hWnd, WM_ISP_STATUS, kStatusProgressRange, &record,
                                    sizeof record);
    if (!gate.Pass()) {
        return -1;
    }
    for (std::uint32_t i = 0; i < steps; ++i) {
        platform::PostWindowMessage(job->hWnd, WM_ISP_STATUS, kStatusProgressStep, job->devIndex);
    }
    platform::PostWindowMessage(job->hWnd, WM_ISP_EVENT, success, job->devIndex);
    return 0;
}

class GuiTest : public SimDevicesTest {
protected:
    void SetUp() override {
        SimDevicesTest::SetUp();
        home_ = std::make_unique<TempHome>();
    }
    void TearDown() override {
        dialog_.reset();
        home_.reset();
        SimDevicesTest::TearDown();
    }

    station::StationLibrary Library() {
        station::StationLibrary lib = station::KestrellibBinding();
        lib.getRedboot = [](IspJob& probe, const std::string& path, int& result) {
            probe.loaderLevel = 1;
            result = 0;
            return path;
        };
        lib.writeFw = [this](IspJob* job) {
            return ScriptedStep(job, kEventBootBegin, kEventBootSucceeded, 4, gate_);
        };
        lib.writeRomfs = [this](IspJob* job) {
            return ScriptedStep(job, kEventResourceBegin, kEventResourceSucceeded, 3, gate_);
        };
        lib.requestStop = [this](bool stop) { gate_.Stop(stop); };
        // Scripted procedures: no workspace to check first, no device outcome to record.
        lib.checkWorkspace = {};
        lib.runRecordPath = {};
        return lib;
    }

    void WriteIni(const std::string& name, const std::string& text) {
        home_->WriteFile(name, text);
    }

    app::CKestrelDlg& OpenDialog() {
        dialog_ = std::make_unique<app::CKestrelDlg>(Library());
        return *dialog_;
    }
    app::CBasicPg& Basic() { return *dialog_->Basic(); }
    // A control of the Basic page: identifiers are those of the page's template, and the
    // Advanced page uses some of the same numbers for its own controls.
    template <typename W = QWidget>
    W* Control(int id) {
        return app::FindControl<W>(dialog_ ? static_cast<QWidget*>(dialog_->Basic()) : nullptr, id);
    }
    // Handles what the window's sinks hold until pred holds.
    template <typename Pred>
    bool Settle(Pred pred, int timeoutMs = 5000) {
        return WaitFor(pred, timeoutMs);
    }

    Gate gate_;
    std::unique_ptr<TempHome> home_;
    std::unique_ptr<app::CKestrelDlg> dialog_;
};

} // namespace kestrel::test
