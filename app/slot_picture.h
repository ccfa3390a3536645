#pragma once
// The pictures of a device slot, drawn as vector artwork so they stay crisp at any scale and
// screen density: a storage stick, greyed and unplugged when no device is connected, with a
// green lamp when it is connected and idle, and with a moving transfer marker in the six
// animation frames shown while it is programmed. Frame 0 is the idle picture.
//
// The widget keeps the slot's control identifier and the bitmap resource number of the picture
// it shows as the properties "controlId" and "bitmap", so tests address it as the dialog
// template does.

#include "app/station/station_view.h"

#include <QWidget>

class QPainter;
class QRectF;

namespace kestrel::app {

// Draws the picture of a bitmap resource (135, 137 ... 142) into rect.
void PaintSlotPicture(QPainter& painter, const QRectF& rect, int bitmap);

class SlotPictureWidget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int bitmap READ Bitmap)

public:
    SlotPictureWidget(int controlId, station::SlotPicture picture, QWidget* parent = nullptr);

    void SetPicture(station::SlotPicture picture);
    station::SlotPicture Picture() const { return picture_; }
    int Bitmap() const { return station::BitmapOf(picture_); }
    QSize sizeHint() const override { return {40, 40}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    station::SlotPicture picture_;
};

} // namespace kestrel::app
