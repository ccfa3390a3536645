#include "app/slot_picture.h"

#include "app/control_id.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace kestrel::app {
namespace {

constexpr int kNotConnectedBitmap = 135;
constexpr int kIdleBitmap = 137;
constexpr int kFirstMovingFrame = 138; // 138 ... 142: frames 1-5

// The stick is drawn in a 100 x 100 design space.
void PaintStick(QPainter& p, bool connected) {
    const QColor body = connected ? QColor(0x2f, 0x5d, 0x9e) : QColor(0xa8, 0xa8, 0xa8);
    const QColor edge = connected ? QColor(0x1b, 0x36, 0x5c) : QColor(0x80, 0x80, 0x80);
    // Plug.
    p.setPen(QPen(edge, 2.5));
    p.setBrush(connected ? QColor(0xd8, 0xd8, 0xd8) : QColor(0xe6, 0xe6, 0xe6));
    p.drawRect(QRectF(36, 8, 28, 20));
    p.setBrush(edge);
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(42, 14, 6, 5));
    p.drawRect(QRectF(52, 14, 6, 5));
    // Body.
    p.setPen(QPen(edge, 3));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(28, 28, 44, 62), 8, 8);
}

void PaintLamp(QPainter& p, const QColor& colour) {
    p.setPen(QPen(colour.darker(160), 1.5));
    p.setBrush(colour);
    p.drawEllipse(QPointF(50, 78), 5.5, 5.5);
}

void PaintUnplugged(QPainter& p) {
    p.setPen(QPen(QColor(0xc0, 0x30, 0x30), 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(36, 44), QPointF(64, 72));
    p.drawLine(QPointF(64, 44), QPointF(36, 72));
}

// Frame f (1-5): the transfer marker, a bright bar that climbs the body towards the plug.
void PaintTransfer(QPainter& p, int frame) {
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 5; ++i) {
        const QRectF bar(36, 64 - i * 8, 28, 5);
        p.setBrush(i < frame ? QColor(0xff, 0xc8, 0x3c) : QColor(0x4a, 0x78, 0xb8));
        p.drawRoundedRect(bar, 2, 2);
    }
}

} // namespace

void PaintSlotPicture(QPainter& painter, const QRectF& rect, int bitmap) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(rect.width(), rect.height());
    painter.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    painter.scale(side / 100.0, side / 100.0);
    const bool connected = bitmap != kNotConnectedBitmap;
    PaintStick(painter, connected);
    if (!connected) {
        PaintUnplugged(painter);
    } else if (bitmap == kIdleBitmap) {
        PaintLamp(painter, QColor(0x3c, 0xc8, 0x50));
    } else {
        PaintTransfer(painter, std::clamp(bitmap - kFirstMovingFrame + 1, 1, 5));
        PaintLamp(painter, QColor(0xff, 0xa0, 0x20));
    }
    painter.restore();
}

SlotPictureWidget::SlotPictureWidget(int controlId, station::SlotPicture picture, QWidget* parent)
    : QWidget(parent), picture_(picture) {
    SetControlId(this, controlId);
    setMinimumSize(44, 44);
}

void SlotPictureWidget::SetPicture(station::SlotPicture picture) {
    if (picture == picture_) {
        return;
    }
    picture_ = picture;
    update();
}

void SlotPictureWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    PaintSlotPicture(painter, QRectF(rect()), Bitmap());
}

} // namespace kestrel::app
