#include "app/advanced_page.h"

#include "app/control_id.h"
#include "app/station/wrap_image.h"
#include "app/station/wrap_versions.h"
#include "platform/message_box/message_box.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <filesystem>

namespace kestrel::app {
namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

template <typename Widget>
Widget* Tag(Widget* widget, int id) {
    SetControlId(widget, id);
    return widget;
}

// The drive and directory of a path, where the file dialogs open.
std::string DirectoryOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

std::optional<std::string> ShowPicker(QWidget* parent, const WrapPickRequest& request) {
    QString chosen;
    switch (request.kind) {
    case WrapPickRequest::Kind::kFolder:
        chosen = QFileDialog::getExistingDirectory(parent, QStringLiteral("Choose Directory"),
                                                   Q(request.startDir));
        break;
    case WrapPickRequest::Kind::kExistingFile:
        chosen = QFileDialog::getOpenFileName(parent, {}, Q(request.startDir),
                                              QString::fromLatin1(kAllFilesFilter));
        break;
    case WrapPickRequest::Kind::kImageFile: {
        QFileDialog dialog(parent, {}, Q(request.startDir),
                           QString::fromLatin1(kWrapImageFileFilter));
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            chosen = dialog.selectedFiles().front();
        }
        break;
    }
    }
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    return chosen.toStdString();
}

} // namespace

CAdevancedPg::CAdevancedPg(QWidget* parent) : QWidget(parent), picker_(ShowPicker) {
    BuildControls();
    state_ = station::LoadWrapSettings();
    RefreshVersions();
    UpdateControls();
}

CAdevancedPg::~CAdevancedPg() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void CAdevancedPg::BuildControls() {
    auto* group = new QGroupBox(QStringLiteral("Resource + Binary file"), this);
    auto* grid = new QGridLayout(group);
    const auto edit = [group](int id) { return Tag(new QLineEdit(group), id); };
    const auto browse = [group](int id) {
        return Tag(new QPushButton(QStringLiteral("..."), group), id);
    };
    resourceVer_ = edit(wrap_ids::kResourceVer);
    binaryVer_ = edit(wrap_ids::kBinaryVer);
    description_ = edit(wrap_ids::kDescription);
    binary_ = edit(wrap_ids::kBinaryEdit);
    resource_ = edit(wrap_ids::kResourceEdit);
    packages_ = edit(wrap_ids::kPackagesEdit);
    output_ = edit(wrap_ids::kOutputEdit);

    int row = 0;
    grid->addWidget(new QLabel(QString::fromLatin1(station::kResourceVerLabel), group), row, 0);
    grid->addWidget(resourceVer_, row, 1);
    grid->addWidget(new QLabel(QString::fromLatin1(station::kBinaryVerLabel), group), row, 2);
    grid->addWidget(binaryVer_, row, 3);
    ++row;
    grid->addWidget(new QLabel(QStringLiteral("Description"), group), row, 0);
    grid->addWidget(description_, row, 1, 1, 3);
    const auto pathRow = [&](const char* label, QLineEdit* line, int browseId,
                             station::WrapPicker picker) {
        ++row;
        grid->addWidget(new QLabel(QString::fromLatin1(label), group), row, 0);
        grid->addWidget(line, row, 1, 1, 3);
        QPushButton* button = browse(browseId);
        grid->addWidget(button, row, 4);
        connect(button, &QPushButton::clicked, this, [this, picker] { OnPick(picker); });
    };
    pathRow("Binary", binary_, wrap_ids::kBinaryBrowse, station::WrapPicker::kBinary);
    pathRow("Resource", resource_, wrap_ids::kResourceBrowse, station::WrapPicker::kResource);
    pathRow("packages", packages_, wrap_ids::kPackagesBrowse, station::WrapPicker::kPackages);
    pathRow("Output file", output_, wrap_ids::kOutputBrowse, station::WrapPicker::kOutput);
    for (const int id : {wrap_ids::kHidden1, wrap_ids::kHidden2}) {
        Tag(new QLineEdit(group), id)->setVisible(false);
    }

    wrap_ = Tag(new QPushButton(QStringLiteral("Wrap Image"), group), wrap_ids::kWrapImage);
    ++row;
    grid->addWidget(wrap_, row, 4);
    connect(wrap_, &QPushButton::clicked, this, [this] { OnWrapImage(); });

    progress_ = new QPlainTextEdit(this);
    progress_->setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(progress_, 1);
}

void CAdevancedPg::UpdateControls() {
    description_->setText(Q(state_.description));
    resource_->setText(Q(state_.resourceDir));
    output_->setText(Q(state_.outputFile));
    binary_->setText(Q(state_.binaryPath));
    packages_->setText(Q(state_.packagesDir));
}

void CAdevancedPg::RefreshVersions() {
    resourceVer_->setText(Q(station::ReadSvnRevision(state_.resourceDir)));
    binaryVer_->setText(Q(station::ReadSvnRevision(state_.packagesDir)));
}

station::WrapSettings CAdevancedPg::Typed() const {
    return {description_->text().toStdString(), resource_->text().toStdString(),
            output_->text().toStdString(), binary_->text().toStdString(),
            packages_->text().toStdString()};
}

QString CAdevancedPg::ProgressText() const {
    return progress_->toPlainText();
}

void CAdevancedPg::OnPick(station::WrapPicker picker) {
    WrapPickRequest request{WrapPickRequest::Kind::kFolder, {}};
    switch (picker) {
    case station::WrapPicker::kResource:
        request.startDir = state_.resourceDir;
        break;
    case station::WrapPicker::kPackages:
        request.startDir = state_.packagesDir;
        break;
    case station::WrapPicker::kBinary:
        request = {WrapPickRequest::Kind::kExistingFile, DirectoryOf(state_.binaryPath)};
        break;
    case station::WrapPicker::kOutput:
        request = {WrapPickRequest::Kind::kImageFile, DirectoryOf(state_.outputFile)};
        break;
    }
    const std::optional<std::string> choice = picker_(this, request);
    state_ = station::AfterPicker(picker, state_, Typed(), choice);
    if (choice) {
        UpdateControls();
    }
    station::SaveWrapSettings(state_);
    if (station::RefreshesVersions(picker)) {
        RefreshVersions();
    }
}

void CAdevancedPg::OnWrapImage() {
    if (running_) {
        return;
    }
    station::WrapRequest request;
    if (const std::string message =
            station::PrepareWrap(resourceVer_->text().toStdString(),
                                 binaryVer_->text().toStdString(), Typed(), state_, request);
        !message.empty()) {
        platform::ShowMessageBox(message);
        return;
    }
    if (worker_.joinable()) {
        worker_.join(); // the previous build has ended: its thread only remains to be joined
    }
    running_ = true;
    wrap_->setEnabled(false);
    progress_->clear();
    // The page joins this thread before it goes, and Qt drops calls queued to a page that is
    // gone, so the queued calls below never reach a destroyed page.
    worker_ = std::thread([this, request] {
        const station::WrapOutcome outcome =
            station::RunWrap(request, [this](const std::string& line) {
                QMetaObject::invokeMethod(
                    this, [this, line] { progress_->appendPlainText(Q(line).trimmed()); },
                    Qt::QueuedConnection);
            });
        QMetaObject::invokeMethod(
            this, [this, outcome] { Finish(outcome.ok, outcome.message); }, Qt::QueuedConnection);
    });
}

void CAdevancedPg::Finish(bool ok, const std::string& message) {
    running_ = false;
    wrap_->setEnabled(true);
    if (!ok) {
        progress_->appendPlainText(Q(message).trimmed());
        platform::ShowMessageBox(message);
    }
    Q_EMIT WrapFinished(ok);
}

} // namespace kestrel::app
