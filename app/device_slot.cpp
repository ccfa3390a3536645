#include "app/device_slot.h"

#include "app/control_id.h"
#include "app/slot_picture.h"
#include "app/station/event_lines.h"
#include "app/station/isp_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>

#include <algorithm>
#include <climits>

namespace kestrel::app {
namespace {

// Every status text a slot shows.
std::vector<const char*> SlotTexts() {
    std::vector<const char*> texts = station::StepStatusTexts();
    texts.insert(texts.end(), {station::kNotConnectedText, station::kConnectedText,
                               station::kWaitingForOperatorText});
    return texts;
}

// The bar works in int; a larger range keeps its proportion.
int BarValue(std::uint32_t v) {
    return static_cast<int>(std::min<std::uint32_t>(v, INT_MAX));
}

} // namespace

station::SlotPicture DeviceSlot::TemplatePicture(int slot) {
    using station::SlotPicture;
    constexpr std::array<SlotPicture, station::kSlotCount> kTemplate{
        SlotPicture::kIdle,   SlotPicture::kNotConnected, SlotPicture::kFrame0,
        SlotPicture::kFrame1, SlotPicture::kFrame2,       SlotPicture::kFrame3,
        SlotPicture::kFrame4, SlotPicture::kFrame5};
    return kTemplate[static_cast<std::size_t>(slot)];
}

DeviceSlot::DeviceSlot(int slot, QWidget* parent)
    : QGroupBox(QStringLiteral("Dev%1").arg(slot), parent) {
    const SlotControlIds& ids = kSlotControlIds[static_cast<std::size_t>(slot)];
    picture_ = new SlotPictureWidget(ids.picture, TemplatePicture(slot), this);
    status_ = new QLabel(QString::fromLatin1(station::kNotConnectedText), this);
    SetControlId(status_, ids.status);
    // The texts of a run differ in length: the label is as wide as the longest from the start
    // and never asks for more, so a new text never widens the window.
    int width = 0;
    for (const char* text : SlotTexts()) {
        width =
            std::max(width, status_->fontMetrics().horizontalAdvance(QString::fromLatin1(text)));
    }
    status_->setMinimumWidth(width);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    result_mark_ = new QLabel(this);
    result_mark_->setObjectName(QStringLiteral("result"));
    result_mark_->setAlignment(Qt::AlignCenter);
    result_mark_->setMinimumWidth(40);
    bar_ = new QProgressBar(this);
    SetControlId(bar_, ids.bar);
    bar_->setTextVisible(false);
    bar_->setRange(0, 1);
    bar_->setValue(0);
    bar_->setMaximumHeight(14);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(6, 4, 6, 6);
    layout->addWidget(picture_, 0, 0);
    layout->addWidget(status_, 0, 1);
    layout->addWidget(result_mark_, 0, 2);
    layout->addWidget(bar_, 1, 0, 1, 3);
    layout->setColumnStretch(1, 1);
}

void DeviceSlot::SetText(const QString& text) {
    status_->setText(text);
}

void DeviceSlot::SetPicture(station::SlotPicture picture) {
    picture_->SetPicture(picture);
}

void DeviceSlot::SetRange(std::uint32_t total) {
    // A Qt bar with the range 0 ... 0 shows a busy indicator; the station shows an empty bar.
    bar_->setRange(0, std::max(BarValue(total), 1));
}

void DeviceSlot::SetPosition(std::uint32_t position) {
    bar_->setValue(std::min(BarValue(position), bar_->maximum()));
    bar_->update();
}

void DeviceSlot::SetResult(station::SlotResult result) {
    result_ = result;
    switch (result) {
    case station::SlotResult::kNone:
        result_mark_->clear();
        result_mark_->setStyleSheet(QString());
        setStyleSheet(QString());
        break;
    case station::SlotResult::kPassed:
        result_mark_->setText(QStringLiteral("PASS"));
        result_mark_->setStyleSheet(
            QStringLiteral("QLabel { background: #2e9d3a; color: white; font-weight: bold; }"));
        setStyleSheet(QStringLiteral("QGroupBox { border: 3px solid #2e9d3a; margin-top: 6px; }"));
        break;
    case station::SlotResult::kFailed:
        result_mark_->setText(QStringLiteral("FAIL"));
        result_mark_->setStyleSheet(
            QStringLiteral("QLabel { background: #c62828; color: white; font-weight: bold; }"));
        setStyleSheet(QStringLiteral("QGroupBox { border: 3px solid #c62828; margin-top: 6px; }"));
        break;
    }
}

QString DeviceSlot::ResultText() const {
    return result_mark_->text();
}

QString DeviceSlot::Text() const {
    return status_->text();
}

station::SlotPicture DeviceSlot::Picture() const {
    return picture_->Picture();
}

} // namespace kestrel::app
