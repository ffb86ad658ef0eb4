// Questions and notices to the operator. The window asks through an Asker,
// so tests can answer in its place.
#pragma once

#include <QString>
#include <memory>

class QMessageBox;
class QWidget;

namespace console::gui {

class Asker {
 public:
  virtual ~Asker() = default;
  // A Yes/No question; true only for Yes.
  virtual bool Ask(QWidget* parent, const QString& caption, const QString& text) = 0;
  // An OK/Cancel question; true only for OK. Answered like Ask unless overridden.
  virtual bool Confirm(QWidget* parent, const QString& caption, const QString& text) {
    return Ask(parent, caption, text);
  }
  // A notice with one button.
  virtual void Notice(QWidget* parent, const QString& caption, const QString& text) = 0;
};

// The real boxes, modal.
class BoxAsker final : public Asker {
 public:
  bool Ask(QWidget* parent, const QString& caption, const QString& text) override;
  bool Confirm(QWidget* parent, const QString& caption, const QString& text) override;
  void Notice(QWidget* parent, const QString& caption, const QString& text) override;
};

// A question box with the buttons `yes` and `no` ("Да" and "Нет"); Escape means `no`.
std::unique_ptr<QMessageBox> MakeQuestionBox(QWidget* parent, const QString& caption,
                                             const QString& text, const QString& yes = "Да",
                                             const QString& no = "Нет");

}  // namespace console::gui
