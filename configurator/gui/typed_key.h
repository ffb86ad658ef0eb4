// A key press as the core's key filters take it: backspace, Enter, or the
// typed character; a character outside ASCII is passed on as one that no
// filter accepts. Nullopt for keys that type nothing (arrows, Delete, Tab),
// which stay the field's own.
#pragma once

#include <QKeyEvent>
#include <optional>

#include "configurator/image.h"

namespace configurator::gui {

inline std::optional<char> TypedKey(const QKeyEvent& k) {
  if (k.key() == Qt::Key_Backspace) return kBackspace;
  if (k.key() == Qt::Key_Return || k.key() == Qt::Key_Enter) return kEnter;
  const QString t = k.text();
  if (t.isEmpty() || t.front() < QChar(0x20)) return std::nullopt;
  return t.front().unicode() < 0x80 ? char(t.front().unicode()) : '\x7f';
}

}  // namespace configurator::gui
