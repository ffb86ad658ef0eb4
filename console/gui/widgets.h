// Named controls, made the same way in every window: the object name is the
// control's name on the operator's form, which tests and the settings use.
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
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

// The "Файл" menu of the windows that keep their data in files: "Считать"
// loads a file, "Сохранить" saves one.
struct FileMenu {
  QAction* load;
  QAction* save;
};

inline FileMenu AddFileMenu(QMainWindow* window) {
  QMenu* file = window->menuBar()->addMenu("Файл");
  file->setObjectName("N1");
  FileMenu m{file->addAction("Считать"), file->addAction("Сохранить")};
  m.load->setObjectName("N2");
  m.save->setObjectName("N3");
  return m;
}

}  // namespace console::gui
