#pragma once
// CAdevancedPg, the "Advanced" page of the main dialog's property sheet: the image-wrapping
// page. Its controls come with the image-wrapping work; the page and its tab exist now.

#include <QWidget>

namespace kestrel::app {

class CAdevancedPg : public QWidget {
    Q_OBJECT

public:
    explicit CAdevancedPg(QWidget* parent = nullptr);
};

} // namespace kestrel::app
