#pragma once
// CBasicPg, the "Basic" page: what an ISP run writes and with which files, the ISP button, the
// eight device slots and the log. The page is a view of the station's run (app/station): it
// implements StationView with its widgets and hands the ISP button and every notification to
// the station's IspPage, which keeps the run state and the job table.
//
// Continuous mode: the "Continuous production" check box below the buttons makes the ISP button
// start the shift (IspPage::StartContinuous); while it runs the button reads "Stop" and stops it,
// the box is locked, and the label beside it shows the shift's counters. The box is a choice of
// this window only and is not written to isp.ini.
//
// Settings: every choice is written to isp.ini at once (the Dram type also to config.ini); the
// page starts from isp.ini. Control identifiers of the dialog template are kept as the property
// "controlId" (control_id.h).
//
// Lifetime: constructing the page creates the library's counter lock (through IspPage),
// destroying it stops and joins the workers of a run under way and then frees the lock.

#include "app/device_slot.h"
#include "app/qt_message_sink.h"
#include "app/station/isp_page.h"
#include "app/station/station_library.h"
#include "app/station/station_view.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace kestrel::app {

// Control identifiers of the Basic page.
namespace ids {
inline constexpr int kPlatformList = 1013;
inline constexpr int kDramList = 1020;
inline constexpr int kProgramAll = 1004;
inline constexpr int kBootCodeOnly = 1005;
inline constexpr int kResourceOnly = 1006;
inline constexpr int kReadVerify = 1007;
inline constexpr int kRebuildNandFs = 1033;
inline constexpr int kDownloadDemo = 1034;
inline constexpr int kBootCodeEdit = 1016;
inline constexpr int kBootCodeBrowse = 1018;
inline constexpr int kResourceEdit = 1017;
inline constexpr int kResourceBrowse = 1019;
inline constexpr int kRomfs1Label = 1035;
inline constexpr int kRomfs1Edit = 1028;
inline constexpr int kRomfs1Browse = 1029;
inline constexpr int kDemoEdit = 1021;
inline constexpr int kDemoBrowse = 1022;
inline constexpr int kIsp = 1014;
inline constexpr int kClearAllLog = 1015;
inline constexpr int kClearRegistry = 1027;
inline constexpr int kLogWindows = 1043;
inline constexpr int kLog = 1042;
// Continuous mode's row, below the buttons (not of the original template).
inline constexpr int kContinuous = 1080;
inline constexpr int kShiftCounters = 1081;
} // namespace ids

inline constexpr const char* kContinuousText = "Continuous production";

// What a "..." button asks the operator for.
struct PickRequest {
    enum class Kind { kImageFile, kFolder } kind;
    std::string title;     // "" for the file dialog's own title
    std::string startDir;  // directory the dialog opens in
    std::string startPath; // the current path
};

// Shows the picker; the chosen path, or nullopt when the operator cancelled.
using Picker = std::function<std::optional<std::string>(QWidget* parent, const PickRequest&)>;

// The file dialog filter of the image pickers: the station's images and boot code packages.
inline constexpr const char* kImageFileFilter = "Image file (*.img *.pkg);;All Files (*)";
inline constexpr const char* kChooseDirectoryTitle = "Choose Directory";

class CKestrelDlg;

class CBasicPg : public QWidget, public station::StationView {
    Q_OBJECT

public:
    // dialog: the main dialog (title and WM_DEVICE_REFRESH target), or null.
    CBasicPg(station::StationLibrary library, CKestrelDlg* dialog,
             platform::MessageSink* dialogSink, QWidget* parent = nullptr);
    ~CBasicPg() override;

    station::IspPage& Page() { return *page_; }
    QtMessageSink& Sink() { return sink_; }
    DeviceSlot* Slot(int k) const { return slots_[static_cast<std::size_t>(k)]; }
    const std::string& ModuleDir() const { return moduleDir_; }
    QString LogText() const;

    // Replaces the file and folder dialogs (tests; the default shows Qt's dialogs).
    void SetPicker(Picker picker) { picker_ = std::move(picker); }
    // What "Clear Registry" does: the registry clean-up (station::ClearUsbStorRegistry) unless
    // replaced.
    void SetClearRegistryAction(std::function<void()> action) {
        clearRegistry_ = std::move(action);
    }

    // StationView.
    void SetSlotText(int slot, std::string_view text) override;
    void SetSlotPicture(int slot, station::SlotPicture picture) override;
    void SetSlotRange(int slot, std::uint32_t total) override;
    void SetSlotPosition(int slot, std::uint32_t position) override;
    void SetSlotResult(int slot, station::SlotResult result) override;
    void AppendLog(std::string_view text) override;
    void SetIspEnabled(bool enabled) override;
    void SetTitle(std::string_view title) override;
    void SetContinuous(bool on) override;
    void SetShift(const station::ShiftFigures& figures) override;

    // The button handlers, callable as the buttons call them.
    void OnIsp();
    void OnClearAllLog();

private:
    // Logs a setting that could not be written (error_ says why) and clears error_.
    void Kept(bool written);
    std::string error_; // why the last settings write failed
    void BuildControls();
    void StartUp();
    void UpdateControls(); // page state into the controls
    void PickImage(int editId, std::string station::PageSettings::*path);
    void PickDemoDir();
    void OnMode(int imageType);
    QWidget* OptionArea();

    QtMessageSink sink_; // before page_: the workers post here until page_ has joined them
    std::unique_ptr<station::IspPage> page_;
    CKestrelDlg* dialog_;
    std::string moduleDir_;
    Picker picker_;
    std::function<void()> clearRegistry_;

    QComboBox* platform_ = nullptr;
    QComboBox* dram_ = nullptr;
    QRadioButton* programAll_ = nullptr;
    QRadioButton* bootOnly_ = nullptr;
    QRadioButton* resourceOnly_ = nullptr;
    QCheckBox* readVerify_ = nullptr;
    QCheckBox* rebuild_ = nullptr;
    QCheckBox* demo_ = nullptr;
    QLineEdit* bootEdit_ = nullptr;
    QLineEdit* resourceEdit_ = nullptr;
    QLineEdit* romfs1Edit_ = nullptr;
    QLineEdit* demoEdit_ = nullptr;
    QLabel* romfs1Label_ = nullptr;
    QPushButton* romfs1Browse_ = nullptr;
    QPushButton* isp_ = nullptr;
    QPushButton* logWindows_ = nullptr;
    QCheckBox* continuous_ = nullptr;
    QLabel* shift_ = nullptr;
    QPlainTextEdit* log_ = nullptr;
    std::array<DeviceSlot*, station::kSlotCount> slots_{};
};

} // namespace kestrel::app
