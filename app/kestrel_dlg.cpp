#include "app/kestrel_dlg.h"

#include "app/advanced_page.h"
#include "app/basic_page.h"
#include "app/program_icon.h"
#include "app/station/isp_page.h"
#include "app/worker_message_boxes.h"
#include "kestrel/isp_job.h"
#include "kestrellib/device/device_exports.h"

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace kestrel::app {
namespace {

bool AskBeforeClosing(QWidget* parent) {
    return QMessageBox::question(parent, QString::fromLatin1(kMessageBoxCaption),
                                 QString::fromLatin1(kCloseDuringRunText),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

} // namespace

CKestrelDlg::CKestrelDlg(station::StationLibrary library, WorkerMessageBoxes* boxes,
                         QWidget* parent)
    : QDialog(parent), sink_(this, [this](const platform::WindowMessage& m) { HandleMessage(m); }),
      library_(library), boxes_(boxes), confirmClose_(AskBeforeClosing) {
    setWindowTitle(QString::fromLatin1(station::kCaptionBase));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);

    // The sheet with its two pages.
    sheet_ = new QTabWidget(this);
    basic_ = new CBasicPg(std::move(library), this, &sink_, sheet_);
    sheet_->addTab(basic_, QStringLiteral("Basic"));
    advanced_ = new CAdevancedPg(sheet_);
    sheet_->addTab(advanced_, QStringLiteral("Advanced"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(sheet_);

    auto* about = new QToolButton(sheet_);
    about->setText(QStringLiteral("?"));
    about->setToolTip(QString::fromLatin1(kAboutMenuText).remove(QLatin1Char('&')));
    sheet_->setCornerWidget(about, Qt::TopRightCorner);
    connect(about, &QToolButton::clicked, this, [this] { ShowAbout(); });
    auto* aboutKey = new QAction(QString::fromLatin1(kAboutMenuText), this);
    aboutKey->setShortcut(QKeySequence::HelpContents);
    connect(aboutKey, &QAction::triggered, this, [this] { ShowAbout(); });
    addAction(aboutKey);

    library_.initDeviceSet();
    library_.enumerateDevices();
    RefreshTitle();

    setWindowIcon(ProgramIcon());

    // A slot shows while a box of its device waits for the operator.
    if (boxes_ != nullptr) {
        boxes_->SetWaitObserver(
            [this](int device, bool waiting) { basic_->Page().OperatorWaiting(device, waiting); });
    }

    // Without notifications the program runs on; title and slots then change through runs.
    notifications_ = platform::devices::SubscribeWindow(sink_.Handle());
}

CKestrelDlg::~CKestrelDlg() {
    notifications_.Reset();
    // However the dialog ends, no worker (nor the demo copy's master) may wait for a box while
    // the Basic page joins it.
    if (boxes_ != nullptr) {
        boxes_->SetWaitObserver(nullptr);
        boxes_->Release();
    }
    // The sheet goes first and takes the pages with it (Basic, then Advanced); the Basic page
    // joins the workers of a run still under way before anything they use is freed.
    delete sheet_;
}

void CKestrelDlg::HandleMessage(const platform::WindowMessage& message) {
    switch (message.message) {
    case platform::devices::kDeviceChangeMessage:
        ParseDeviceChange(static_cast<unsigned>(message.wParam),
                          reinterpret_cast<const void*>(message.lParam));
        RefreshTitle();
        break;
    case WM_DEVICE_REFRESH:
        RefreshTitle();
        break;
    default:
        break;
    }
}

void CKestrelDlg::RefreshTitle() {
    basic_->Page().RefreshTitle();
}

void CKestrelDlg::ShowAbout() {
    QDialog box(this);
    box.setWindowTitle(QString::fromLatin1(kAboutCaption));
    auto* icon = new QLabel(&box);
    icon->setPixmap(ProgramIcon().pixmap(48, 48));
    auto* text = new QLabel(QString::fromLatin1(kAboutText), &box);
    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    connect(ok, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(text, 1);
    auto* column = new QVBoxLayout(&box);
    column->addLayout(row);
    column->addWidget(ok);
    box.exec();
}

bool CKestrelDlg::MayClose() {
    station::IspPage& page = basic_->Page();
    if (!page.RunUnderWay()) {
        return true;
    }
    if (!confirmClose_(this)) {
        return false;
    }
    if (boxes_ != nullptr) {
        boxes_->Release();
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    page.StopAndJoin();
    QApplication::restoreOverrideCursor();
    return true;
}

void CKestrelDlg::reject() {
    if (MayClose()) {
        QDialog::reject();
    }
}

} // namespace kestrel::app
