#include "console/gui/asker.h"

#include <QMessageBox>
#include <QPushButton>

namespace console::gui {

std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const QString& caption,
                                             const QString& text) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Question, caption, text,
                                           QMessageBox::NoButton, parent);
  QPushButton* yes = box->addButton("Да", QMessageBox::YesRole);
  QPushButton* no = box->addButton("Нет", QMessageBox::NoRole);
  yes->setObjectName("ButtonYes");
  no->setObjectName("ButtonNo");
  box->setDefaultButton(yes);
  box->setEscapeButton(no);
  return box;
}

bool BoxAsker::Ask(QWidget* parent, const QString& caption, const QString& text) {
  auto box = MakeQuestionBox(parent, caption, text);
  box->exec();
  return box->clickedButton() == box->findChild<QPushButton*>("ButtonYes");
}

void BoxAsker::Notice(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::NoButton, parent);
  box.addButton("OK", QMessageBox::AcceptRole);
  box.exec();
}

}  // namespace console::gui
