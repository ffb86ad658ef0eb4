// Named controls, made the same way in every window: the object name is the
// control's name on the operator's form, which tests and the settings use.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

namespace console::gui {

inline QCheckBox* Check(QWidget* parent, const char* name, const QString& text, bool on = false) {
  auto* c = new QCheckBox(text, parent);
  c->setObjectName(name);
  c->setChecked(on);
  return c;
}

inline QPushButton* Button(QWidget* parent, const char* name, const QString& text) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  return b;
}

inline QLabel* Label(QWidget* parent, const char* name, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(name);
  return l;
}

inline QLineEdit* Field(QWidget* parent, const char* name, const QString& text = QString()) {
  auto* e = new QLineEdit(text, parent);
  e->setObjectName(name);
  return e;
}

}  // namespace console::gui
