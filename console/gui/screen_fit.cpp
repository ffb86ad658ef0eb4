#include "console/gui/screen_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace console::gui {

QRect FitToScreen(QRect r) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return r;
  const QRect area = screen->availableGeometry();
  r.setWidth(std::min(r.width(), area.width()));
  r.setHeight(std::min(r.height(), area.height()));
  r.moveLeft(std::clamp(r.left(), area.left(), area.right() - r.width() + 1));
  r.moveTop(std::clamp(r.top(), area.top(), area.bottom() - r.height() + 1));
  return r;
}

}  // namespace console::gui
