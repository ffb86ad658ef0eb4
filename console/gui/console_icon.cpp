#include "console/gui/console_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace console::gui {

namespace {

// A shield with a relay mast: the server between the panels and the station.
QPixmap Draw(int size) {
  QPixmap p(size, size);
  p.fill(Qt::transparent);
  QPainter g(&p);
  g.setRenderHint(QPainter::Antialiasing);
  g.scale(size / 32.0, size / 32.0);
  QPainterPath shield;
  shield.moveTo(16, 2);
  shield.lineTo(28, 7);
  shield.cubicTo(28, 18, 23, 26, 16, 30);
  shield.cubicTo(9, 26, 4, 18, 4, 7);
  shield.closeSubpath();
  g.fillPath(shield, QColor(0x1f, 0x5f, 0xa8));
  g.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap));
  g.drawLine(QPointF(16, 11), QPointF(16, 24));
  g.drawLine(QPointF(12, 24), QPointF(20, 24));
  g.setBrush(Qt::NoBrush);
  g.drawArc(QRectF(10, 6, 12, 10), 30 * 16, 120 * 16);
  g.drawArc(QRectF(7, 3, 18, 16), 35 * 16, 110 * 16);
  return p;
}

}  // namespace

QIcon ConsoleIcon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48, 64}) icon.addPixmap(Draw(size));
  return icon;
}

}  // namespace console::gui
