#include "app/basic_page.h"

#include "app/control_id.h"
#include "app/kestrel_dlg.h"
#include "app/station/page_settings.h"
#include "app/station/usbstor_cleanup.h"
#include "kestrellib/program/config_files.h"
#include "platform/module_dir/module_dir.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextCursor>
#include <QVBoxLayout>

namespace kestrel::app {
namespace {

namespace isp = config::isp;

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Drive and directory of a path: everything up to and including its last separator.
std::string DirectoryOf(const std::string& path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::optional<std::string> ShowQtPicker(QWidget* parent, const PickRequest& request) {
    QString chosen;
    if (request.kind == PickRequest::Kind::kImageFile) {
        chosen = QFileDialog::getOpenFileName(parent, Q(request.title), Q(request.startDir),
                                              QString::fromLatin1(kImageFileFilter));
    } else {
        chosen = QFileDialog::getExistingDirectory(parent, Q(request.title), Q(request.startPath));
    }
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen.toStdString();
}

template <typename W>
W* Tag(W* widget, int id) {
    SetControlId(widget, id);
    return widget;
}

} // namespace

CBasicPg::CBasicPg(station::StationLibrary library, CKestrelDlg* dialog,
                   platform::MessageSink* dialogSink, QWidget* parent)
    : QWidget(parent),
      sink_(this, [this](const platform::WindowMessage& m) { page_->HandleMessage(m); }),
      dialog_(dialog), picker_(ShowQtPicker),
      clearRegistry_([] { station::ClearUsbStorRegistry(); }) {
    page_ = std::make_unique<station::IspPage>(*this, std::move(library), sink_, dialogSink);
    BuildControls();
    StartUp();
}

// page_ goes first (joining its workers), then the sink the workers posted to.
CBasicPg::~CBasicPg() {
    page_.reset();
}

QWidget* CBasicPg::OptionArea() {
    auto* area = new QWidget(this);
    auto* column = new QVBoxLayout(area);
    column->setContentsMargins(0, 0, 0, 0);

    auto* platformBox = new QGroupBox(QStringLiteral("Platform"), area);
    platform_ = Tag(new QComboBox(platformBox), ids::kPlatformList);
    platform_->addItem(QStringLiteral("Tarn4410"));
    (new QVBoxLayout(platformBox))->addWidget(platform_);

    auto* dramBox = new QGroupBox(QStringLiteral("Dram type"), area);
    dram_ = Tag(new QComboBox(dramBox), ids::kDramList);
    dram_->addItems({QStringLiteral("0_HYNIX"), QStringLiteral("1_SAMSUNG")});
    (new QVBoxLayout(dramBox))->addWidget(dram_);

    auto* lists = new QHBoxLayout;
    lists->addWidget(platformBox);
    lists->addWidget(dramBox);
    column->addLayout(lists);

    auto* optionBox = new QGroupBox(QStringLiteral("Option"), area);
    auto* options = new QGridLayout(optionBox);
    programAll_ = Tag(new QRadioButton(QStringLiteral("Program All"), optionBox), ids::kProgramAll);
    bootOnly_ = Tag(new QRadioButton(QStringLiteral("Boot code"), optionBox), ids::kBootCodeOnly);
    resourceOnly_ = Tag(new QRadioButton(QStringLiteral("Resource + Binary file"), optionBox),
                        ids::kResourceOnly);
    readVerify_ = Tag(new QCheckBox(QStringLiteral("Read Verify"), optionBox), ids::kReadVerify);
    rebuild_ =
        Tag(new QCheckBox(QStringLiteral("Rebuild Nand FS"), optionBox), ids::kRebuildNandFs);
    demo_ = Tag(new QCheckBox(QStringLiteral("Download Demo file"), optionBox), ids::kDownloadDemo);
    auto* modes = new QButtonGroup(optionBox);
    modes->addButton(programAll_);
    modes->addButton(bootOnly_);
    modes->addButton(resourceOnly_);
    options->addWidget(programAll_, 0, 0);
    options->addWidget(bootOnly_, 1, 0);
    options->addWidget(resourceOnly_, 2, 0);
    options->addWidget(readVerify_, 0, 1);
    options->addWidget(rebuild_, 1, 1);
    options->addWidget(demo_, 2, 1);
    column->addWidget(optionBox);

    auto* paths = new QGridLayout;
    auto addRow = [&](int row, const char* caption, int labelId, int editId, int browseId,
                      QLabel** label, QLineEdit** edit, QPushButton** browse) {
        auto* l = new QLabel(QString::fromLatin1(caption), area);
        if (labelId != 0) {
            SetControlId(l, labelId);
        }
        auto* e = Tag(new QLineEdit(area), editId);
        e->setMinimumWidth(220);
        auto* b = Tag(new QPushButton(QStringLiteral("..."), area), browseId);
        b->setFixedWidth(32);
        paths->addWidget(l, row, 0);
        paths->addWidget(e, row, 1);
        paths->addWidget(b, row, 2);
        *edit = e;
        if (label != nullptr) {
            *label = l;
        }
        if (browse != nullptr) {
            *browse = b;
        }
        return std::array<QWidget*, 3>{l, e, b};
    };
    QPushButton* bootBrowse = nullptr;
    QPushButton* resourceBrowse = nullptr;
    QPushButton* demoBrowse = nullptr;
    addRow(0, "Boot code", 0, ids::kBootCodeEdit, ids::kBootCodeBrowse, nullptr, &bootEdit_,
           &bootBrowse);
    addRow(1, "Resource + Binary file", 0, ids::kResourceEdit, ids::kResourceBrowse, nullptr,
           &resourceEdit_, &resourceBrowse);
    addRow(2, "Romfs 1", ids::kRomfs1Label, ids::kRomfs1Edit, ids::kRomfs1Browse, &romfs1Label_,
           &romfs1Edit_, &romfs1Browse_);
    const auto demoRow = addRow(3, "Demo file", 0, ids::kDemoEdit, ids::kDemoBrowse, nullptr,
                                &demoEdit_, &demoBrowse);
    for (QWidget* w : demoRow) {
        w->setVisible(false);
    }
    column->addLayout(paths);

    auto* buttons = new QHBoxLayout;
    isp_ = Tag(new QPushButton(QStringLiteral("ISP"), area), ids::kIsp);
    auto* clearLog = Tag(new QPushButton(QStringLiteral("Clear All Log"), area), ids::kClearAllLog);
    auto* clearRegistry =
        Tag(new QPushButton(QStringLiteral("Clear Registry"), area), ids::kClearRegistry);
    logWindows_ = Tag(new QPushButton(QStringLiteral("Log Windows"), area), ids::kLogWindows);
    buttons->addWidget(isp_);
    buttons->addWidget(clearLog);
    buttons->addWidget(clearRegistry);
    buttons->addWidget(logWindows_);
    buttons->addStretch();
    column->addLayout(buttons);
    auto* line = new QHBoxLayout;
    continuous_ = Tag(new QCheckBox(QString::fromLatin1(kContinuousText), area), ids::kContinuous);
    shift_ = Tag(new QLabel(area), ids::kShiftCounters);
    line->addWidget(continuous_);
    line->addWidget(shift_, 1);
    column->addLayout(line);
    column->addStretch();

    using S = station::PageSettings;
    connect(bootBrowse, &QPushButton::clicked, this,
            [this] { PickImage(ids::kBootCodeEdit, &S::bootCodePath); });
    connect(resourceBrowse, &QPushButton::clicked, this,
            [this] { PickImage(ids::kResourceEdit, &S::resourcePath); });
    connect(romfs1Browse_, &QPushButton::clicked, this,
            [this] { PickImage(ids::kRomfs1Edit, &S::romfs1Path); });
    connect(demoBrowse, &QPushButton::clicked, this, [this] { PickDemoDir(); });
    connect(programAll_, &QRadioButton::clicked, this, [this] { OnMode(3); });
    connect(bootOnly_, &QRadioButton::clicked, this, [this] { OnMode(1); });
    connect(resourceOnly_, &QRadioButton::clicked, this, [this] { OnMode(2); });
    connect(readVerify_, &QCheckBox::clicked, this, [this](bool on) {
        page_->Settings().readVerify = on ? 1 : 0;
        Kept(config::Write(isp::kReadVerify, on ? 1 : 0, &error_));
    });
    connect(rebuild_, &QCheckBox::clicked, this, [this](bool on) {
        page_->Settings().rebuildNandFs = on ? 1 : 0;
        Kept(config::Write(isp::kRebuild, on ? 1 : 0, &error_));
    });
    connect(demo_, &QCheckBox::clicked, this, [this](bool on) {
        page_->Settings().copyDemo = on ? 1 : 0;
        Kept(config::Write(isp::kDemoEnable, on ? 1 : 0, &error_));
    });
    connect(dram_, &QComboBox::currentIndexChanged, this, [this](int index) {
        page_->Settings().dramIndex = index;
        // Written again at every ISP press, where a failure refuses the run.
        Kept(station::ApplyDramType(index, &error_) && error_.empty());
    });
    connect(isp_, &QPushButton::clicked, this, [this] { OnIsp(); });
    connect(clearLog, &QPushButton::clicked, this, [this] { OnClearAllLog(); });
    // The clean-up runs on the UI thread with its button disabled, and the button comes back
    // whatever the clean-up met.
    connect(clearRegistry, &QPushButton::clicked, this, [this, clearRegistry] {
        clearRegistry->setEnabled(false);
        if (clearRegistry_) {
            clearRegistry_();
        }
        clearRegistry->setEnabled(true);
    });
    // "Log Windows" has no action. Enter in a path box presses no button (least of all ISP).
    for (QPushButton* button : area->findChildren<QPushButton*>()) {
        button->setAutoDefault(false);
    }
    return area;
}

void CBasicPg::BuildControls() {
    auto* top = new QHBoxLayout;
    top->addWidget(OptionArea(), 0);

    auto* slotGrid = new QGridLayout;
    for (int k = 0; k < station::kSlotCount; ++k) {
        slots_[static_cast<std::size_t>(k)] = new DeviceSlot(k, this);
        slotGrid->addWidget(slots_[static_cast<std::size_t>(k)], k / 2, k % 2);
    }
    top->addLayout(slotGrid, 1);

    log_ = Tag(new QPlainTextEdit(this), ids::kLog);
    log_->setReadOnly(true);
    log_->setLineWrapMode(QPlainTextEdit::NoWrap);
    log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    auto* page = new QVBoxLayout(this);
    page->addLayout(top);
    page->addWidget(log_, 1);
}

void CBasicPg::StartUp() {
    moduleDir_ = platform::ModuleDirectory();
    station::PageSettings& s = page_->Settings();
    s = station::LoadPageSettings();
    logWindows_->setVisible(false);
    demo_->setVisible(false);
    for (QWidget* w : {static_cast<QWidget*>(romfs1Label_), static_cast<QWidget*>(romfs1Edit_),
                       static_cast<QWidget*>(romfs1Browse_)}) {
        w->setVisible(s.romfs1Shown != 0);
    }
    platform_->setCurrentIndex(0);
    // A stored index that names no entry leaves the list without a selection (-1).
    if (s.dramIndex < 0 || s.dramIndex >= dram_->count()) {
        s.dramIndex = -1;
    }
    UpdateControls();
}

void CBasicPg::UpdateControls() {
    const station::PageSettings& s = page_->Settings();
    bootEdit_->setText(Q(s.bootCodePath));
    resourceEdit_->setText(Q(s.resourcePath));
    romfs1Edit_->setText(Q(s.romfs1Path));
    demoEdit_->setText(Q(s.demoDir));
    readVerify_->setChecked(s.readVerify != 0);
    rebuild_->setChecked(s.rebuildNandFs != 0);
    demo_->setChecked(s.copyDemo != 0);
    programAll_->setChecked(s.imageType == 3);
    bootOnly_->setChecked(s.imageType == 1);
    resourceOnly_->setChecked(s.imageType == 2);
    const QSignalBlocker quiet(dram_);
    dram_->setCurrentIndex(s.dramIndex);
}

void CBasicPg::PickImage(int editId, std::string station::PageSettings::*path) {
    station::PageSettings& s = page_->Settings();
    PickRequest request{PickRequest::Kind::kImageFile, "", DirectoryOf(s.*path), s.*path};
    if (std::optional<std::string> chosen = picker_(this, request)) {
        s.*path = *chosen;
        UpdateControls();
    }
    // Written also when cancelled: the key then receives the path as it stands.
    switch (editId) {
    case ids::kBootCodeEdit:
        Kept(config::Write(isp::kRedbootName, s.*path, &error_));
        break;
    case ids::kResourceEdit:
        Kept(config::Write(isp::kRomfsName, s.*path, &error_));
        break;
    default:
        Kept(config::Write(isp::kRomfs1Name, s.*path, &error_));
        break;
    }
}

void CBasicPg::PickDemoDir() {
    station::PageSettings& s = page_->Settings();
    PickRequest request{PickRequest::Kind::kFolder, kChooseDirectoryTitle, s.demoDir, s.demoDir};
    if (std::optional<std::string> chosen = picker_(this, request)) {
        s.demoDir = *chosen;
        UpdateControls();
        Kept(config::Write(isp::kDemoDir, s.demoDir, &error_));
    }
}

void CBasicPg::Kept(bool written) {
    // A setting the INI files cannot keep holds for this window only; the operator is told why,
    // in the log, without a box that would wait for them.
    if (!written) {
        AppendLog("The setting can't be kept: " + error_ + " It holds until the window closes.\n");
    }
    error_.clear();
}

void CBasicPg::OnMode(int imageType) {
    page_->Settings().imageType = imageType;
    Kept(config::Write(isp::kImageType, imageType, &error_));
}

void CBasicPg::OnIsp() {
    station::PathBoxes typed;
    typed.bootCode = bootEdit_->text().toStdString();
    typed.resource = resourceEdit_->text().toStdString();
    typed.demoDir = demoEdit_->text().toStdString();
    if (page_->ContinuousOn()) {
        page_->StopContinuous();
    } else if (continuous_->isChecked()) {
        page_->StartContinuous(typed);
    } else {
        page_->StartIsp(typed);
    }
}

void CBasicPg::OnClearAllLog() {
    log_->clear();
}

QString CBasicPg::LogText() const {
    return log_->toPlainText();
}

void CBasicPg::SetSlotText(int slot, std::string_view text) {
    Slot(slot)->SetText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void CBasicPg::SetSlotPicture(int slot, station::SlotPicture picture) {
    Slot(slot)->SetPicture(picture);
}

void CBasicPg::SetSlotRange(int slot, std::uint32_t total) {
    Slot(slot)->SetRange(total);
}

void CBasicPg::SetSlotPosition(int slot, std::uint32_t position) {
    Slot(slot)->SetPosition(position);
}

void CBasicPg::SetSlotResult(int slot, station::SlotResult result) {
    Slot(slot)->SetResult(result);
}

void CBasicPg::AppendLog(std::string_view text) {
    if (text.empty()) {
        return;
    }
    log_->moveCursor(QTextCursor::End);
    log_->insertPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    log_->ensureCursorVisible();
}

void CBasicPg::SetIspEnabled(bool enabled) {
    isp_->setEnabled(enabled);
}

void CBasicPg::SetContinuous(bool on) {
    isp_->setText(QString::fromLatin1(on ? station::kStopText : "ISP"));
    continuous_->setEnabled(!on);
}

void CBasicPg::SetShift(const station::ShiftFigures& figures) {
    shift_->setText(Q(station::ShiftLine(figures)));
}

void CBasicPg::SetTitle(std::string_view title) {
    if (dialog_ != nullptr) {
        dialog_->setWindowTitle(
            QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
    }
}

} // namespace kestrel::app
