#include "app/advanced_page.h"

namespace kestrel::app {

CAdevancedPg::CAdevancedPg(QWidget* parent) : QWidget(parent) {}

} // namespace kestrel::app
