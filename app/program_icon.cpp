#include "app/program_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kestrel::app {
namespace {

// A falcon's wing over a chip, in a 64 x 64 design space.
void PaintIcon(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x3b, 0x63));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    // Chip with its pins.
    p.setBrush(QColor(0xc9, 0xd6, 0xe6));
    for (int i = 0; i < 4; ++i) {
        p.drawRect(QRectF(19 + i * 8, 40, 3, 16));
    }
    p.setBrush(QColor(0x9a, 0xad, 0xc4));
    p.drawRoundedRect(QRectF(14, 42, 36, 10), 2, 2);
    // Wing.
    QPainterPath wing;
    wing.moveTo(8, 30);
    wing.cubicTo(20, 10, 40, 6, 58, 10);
    wing.cubicTo(46, 16, 40, 22, 36, 32);
    wing.cubicTo(28, 28, 18, 28, 8, 30);
    p.setBrush(QColor(0xe0, 0x8a, 0x2c));
    p.drawPath(wing);
    p.setPen(QPen(QColor(0x7a, 0x40, 0x10), 1.6));
    p.drawLine(QPointF(22, 24), QPointF(44, 13));
    p.drawLine(QPointF(28, 27), QPointF(48, 16));
}

} // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.scale(size / 64.0, size / 64.0);
        PaintIcon(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace kestrel::app
