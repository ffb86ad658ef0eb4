// Window geometry from the settings file, kept on the screen.
#pragma once

#include <QRect>

namespace console::gui {

// `r` moved (and shrunk when it must) so that it lies on the primary screen.
QRect FitToScreen(QRect r);

}  // namespace console::gui
