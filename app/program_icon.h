#pragma once
// The program icon (title bar, About box, minimised window): our own vector artwork, rendered
// at every usual icon size so it stays crisp.

#include <QIcon>

namespace kestrel::app {

QIcon ProgramIcon();

} // namespace kestrel::app
