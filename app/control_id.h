#pragma once
// Controls keep the numeric identifier of the dialog template as the property "controlId", so
// code and tests address a control by the number the station's documents give it.

#include <QVariant>
#include <QWidget>

namespace kestrel::app {

inline constexpr const char* kControlIdProperty = "controlId";

inline void SetControlId(QWidget* widget, int id) {
    widget->setProperty(kControlIdProperty, id);
}

// The descendant of root with the identifier, or null.
template <typename Widget = QWidget>
Widget* FindControl(const QWidget* root, int id) {
    for (Widget* w : root->findChildren<Widget*>()) {
        const QVariant v = w->property(kControlIdProperty);
        if (v.isValid() && v.toInt() == id) {
            return w;
        }
    }
    return nullptr;
}

} // namespace kestrel::app
