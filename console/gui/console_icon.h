// The console's own icon, for the window and the tray: drawn, not loaded.
#pragma once

#include <QIcon>

namespace console::gui {

QIcon ConsoleIcon();

}  // namespace console::gui
