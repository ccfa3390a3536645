#pragma once
// CKestrelDlg, the main dialog: the property sheet with the "Basic" and "Advanced" pages, the
// caption with the number of connected devices, the About box, and the device-change
// notifications of the platform layer, delivered on the UI thread to ParseDeviceChange and
// followed by the title refresh (and, through code 1280, the slot status refresh).
//
// The About box: the window system offers no system menu to extend, so "About Kestrel..." is
// the "?" button in the corner of the sheet's tab bar (and F1).
//
// Closing while a run is under way asks the operator first; when confirmed, the workers' message
// boxes are released, the workers are stopped and joined, and only then do the pages go away.
// The workers' boxes never block the window (worker_message_boxes.h), so it can be closed while
// they wait; however it closes, every box still shown or queued is released first.

#include "app/qt_message_sink.h"
#include "app/station/station_library.h"
#include "platform/devices/devices.h"

#include <QDialog>

#include <functional>

class QTabWidget;

namespace kestrel::app {

class CBasicPg;
class CAdevancedPg;
class WorkerMessageBoxes;

inline constexpr const char* kAboutCaption = "About Kestrel";
inline constexpr const char* kAboutText = "Kestrel Version 1.0";
inline constexpr const char* kAboutMenuText = "&About Kestrel...";
inline constexpr const char* kCloseDuringRunText =
    "An ISP run is under way.\nStop the run and close Kestrel?";

class CKestrelDlg : public QDialog {
    Q_OBJECT

public:
    // Asks whether to close during a run; true closes.
    using CloseConfirm = std::function<bool(QWidget* parent)>;

    // boxes: the message-box handler to release when closing during a run (may be null).
    explicit CKestrelDlg(station::StationLibrary library, WorkerMessageBoxes* boxes = nullptr,
                         QWidget* parent = nullptr);
    ~CKestrelDlg() override;

    CBasicPg* Basic() const { return basic_; }
    CAdevancedPg* Advanced() const { return advanced_; }
    QTabWidget* Sheet() const { return sheet_; }
    QtMessageSink& Sink() { return sink_; }
    bool DeviceNotificationsActive() const { return notifications_.Active(); }

    // Caption with the device count, then the slot status refresh (code 1280 to the page).
    void RefreshTitle();
    void ShowAbout();
    void SetCloseConfirm(CloseConfirm confirm) { confirmClose_ = std::move(confirm); }

public Q_SLOTS:
    void reject() override;

private:
    void HandleMessage(const platform::WindowMessage& message);
    bool MayClose();

    QtMessageSink sink_;
    station::StationLibrary library_;
    WorkerMessageBoxes* boxes_;
    QTabWidget* sheet_ = nullptr;
    CBasicPg* basic_ = nullptr;
    CAdevancedPg* advanced_ = nullptr;
    platform::devices::Subscription notifications_;
    CloseConfirm confirmClose_;
};

} // namespace kestrel::app
