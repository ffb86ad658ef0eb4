#include "console/gui/asker.h"

#include <QMessageBox>
#include <QPushButton>

namespace console::gui {

std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const QString& caption,
                                             const QString& text, const QString& yesText,
                                             const QString& noText) {
  auto box = std::make_unique<QMessageBox>(QMessageBox::Question, caption, text,
                                           QMessageBox::NoButton, parent);
  QPushButton* yes = box->addButton(yesText, QMessageBox::YesRole);
  QPushButton* no = box->addButton(noText, QMessageBox::NoRole);
  yes->setObjectName("ButtonYes");
  no->setObjectName("ButtonNo");
  box->setDefaultButton(yes);
  box->setEscapeButton(no);
  return box;
}

static bool Answer(std::unique_ptr<QMessageBox> box) {
  box->exec();
  return box->clickedButton() == box->findChild<QPushButton*>("ButtonYes");
}

bool BoxAsker::Ask(QWidget* parent, const QString& caption, const QString& text) {
  return Answer(MakeQuestionBox(parent, caption, text));
}

bool BoxAsker::Confirm(QWidget* parent, const QString& caption, const QString& text) {
  return Answer(MakeQuestionBox(parent, caption, text, "OK", "Отмена"));
}

void BoxAsker::Notice(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::NoButton, parent);
  box.addButton("OK", QMessageBox::AcceptRole);
  box.exec();
}

}  // namespace console::gui
