#pragma once
// CAdevancedPg, the "Advanced" page of the main dialog's property sheet: it wraps a firmware ELF
// file into the resource directory and builds the ROMFS image of that directory
// (app/station/wrap_image.h does the work). The five inputs are kept in isp.ini [WrapImage];
// the two version edits are filled from the working copies of the resource and packages
// directories and may be edited by hand.
//
// "Wrap Image" checks the inputs on the UI thread, then runs the wrap and the build on a thread
// of the page, so the window stays responsive: the button stays disabled until the build has
// ended, the progress lines appear below it, and a failure is shown in a message box. Destroying
// the page waits for a build under way.

#include "app/station/wrap_settings.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <thread>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kestrel::app {

// Control identifiers of the Advanced page.
namespace wrap_ids {
inline constexpr int kResourceVer = 1034;
inline constexpr int kBinaryVer = 1035;
inline constexpr int kDescription = 1038;
inline constexpr int kBinaryEdit = 1033;
inline constexpr int kBinaryBrowse = 1028;
inline constexpr int kResourceEdit = 1031;
inline constexpr int kResourceBrowse = 1026;
inline constexpr int kPackagesEdit = 1039;
inline constexpr int kPackagesBrowse = 1022;
inline constexpr int kOutputEdit = 1030;
inline constexpr int kOutputBrowse = 1027;
inline constexpr int kWrapImage = 1032;
inline constexpr int kHidden1 = 1036; // hidden, without function
inline constexpr int kHidden2 = 1037;
} // namespace wrap_ids

// What a "..." button of the page asks the operator for.
struct WrapPickRequest {
    enum class Kind {
        kFolder,       // "Choose Directory"
        kExistingFile, // all files, the file must exist
        kImageFile,    // image files or all files; a new name may be typed
    } kind;
    std::string startDir;
};

// Shows the picker; the chosen path, or nullopt when the operator cancelled.
using WrapPicker =
    std::function<std::optional<std::string>(QWidget* parent, const WrapPickRequest& request)>;

inline constexpr const char* kAllFilesFilter = "All Files (*)";
inline constexpr const char* kWrapImageFileFilter = "Image file (*.img *.pkg);;All Files (*)";

class CAdevancedPg : public QWidget {
    Q_OBJECT

public:
    explicit CAdevancedPg(QWidget* parent = nullptr);
    ~CAdevancedPg() override;

    // Replaces the file and folder dialogs (tests; the default shows Qt's dialogs).
    void SetPicker(WrapPicker picker) { picker_ = std::move(picker); }

    const station::WrapSettings& State() const { return state_; }
    bool WrapUnderWay() const { return running_; }
    QString ProgressText() const;

    // The handlers, callable as the buttons call them.
    void OnWrapImage();
    void OnPick(station::WrapPicker picker);

Q_SIGNALS:
    // Emitted on the UI thread when a build has ended (ok false: its failure was shown).
    void WrapFinished(bool ok);

private:
    void BuildControls();
    void UpdateControls();  // page state into the path and description edits
    void RefreshVersions(); // the working copies' revisions into the version edits
    station::WrapSettings Typed() const;
    void Finish(bool ok, const std::string& message);

    station::WrapSettings state_;
    WrapPicker picker_;
    std::thread worker_;
    bool running_ = false; // UI thread

    QLineEdit* resourceVer_ = nullptr;
    QLineEdit* binaryVer_ = nullptr;
    QLineEdit* description_ = nullptr;
    QLineEdit* binary_ = nullptr;
    QLineEdit* resource_ = nullptr;
    QLineEdit* packages_ = nullptr;
    QLineEdit* output_ = nullptr;
    QPushButton* wrap_ = nullptr;
    QPlainTextEdit* progress_ = nullptr;
};

} // namespace kestrel::app
