#pragma once
// One device slot of the Basic page: the group box "Dev<k>" with the picture at its left, the
// status text beside it and a smooth progress bar below. The controls carry the identifiers of
// the slot table (picture, status text, bar).

#include "app/station/station_view.h"

#include <QGroupBox>

#include <array>
#include <cstdint>

class QLabel;
class QProgressBar;

namespace kestrel::app {

class SlotPictureWidget;

struct SlotControlIds {
    int picture;
    int status;
    int bar;
};

// The identifiers of slots 0-7.
inline constexpr std::array<SlotControlIds, station::kSlotCount> kSlotControlIds{{
    {1045, 1044, 1046},
    {1048, 1049, 1047},
    {1051, 1052, 1050},
    {1054, 1055, 1053},
    {1057, 1058, 1056},
    {1060, 1061, 1059},
    {1063, 1064, 1062},
    {1066, 1067, 1065},
}};

class DeviceSlot : public QGroupBox {
    Q_OBJECT

public:
    // The picture the dialog template gives slot k at start-up; the page's start-up takes its
    // pictures from there and the first status refresh sets every slot.
    static station::SlotPicture TemplatePicture(int slot);

    explicit DeviceSlot(int slot, QWidget* parent = nullptr);

    void SetText(const QString& text);
    void SetPicture(station::SlotPicture picture);
    // The bar's range is 0 ... total; a total of 0 shows an empty bar.
    void SetRange(std::uint32_t total);
    // Sets the position and repaints the bar.
    void SetPosition(std::uint32_t position);
    // The run's result beside the status text ("PASS" on green, "FAIL" on red) and as the
    // colour of the slot's frame; kNone clears both.
    void SetResult(station::SlotResult result);
    station::SlotResult Result() const { return result_; }
    QString ResultText() const;

    QString Text() const;
    station::SlotPicture Picture() const;
    QProgressBar* Bar() const { return bar_; }

private:
    SlotPictureWidget* picture_;
    QLabel* status_;
    QLabel* result_mark_;
    QProgressBar* bar_;
    station::SlotResult result_ = station::SlotResult::kNone;
};

} // namespace kestrel::app
