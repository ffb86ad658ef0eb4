// Binding radio devices to the expander: "Зарегистрировать извещатели". The
// Rielta window offers two modes and ends the registration with a request of
// its own; the Astra-RR one has a single mode and never sends the end.
#pragma once

#include "configurator/expander_blocks.h"
#include "configurator/gui/operation_window.h"

class QLabel;
class QPushButton;

namespace configurator::gui {

class RegistrationWindow : public OperationWindow {
  Q_OBJECT

 public:
  RegistrationWindow(ConfigHost& host, QWidget* parent);
  // Shown with the counter at 0 and both modes offered.
  void Open();

 protected:
  RegistrationWindow(ConfigHost& host, const char* name, QWidget* parent);
  void Tick() override;
  void closeEvent(QCloseEvent* e) override;

  QLabel* Lines[6] = {};
  QLabel* Caption2 = nullptr;  // "(Брелки, Клавиатуры)"
  bool sendsEnd_ = true;        // the end-registration request goes at the end

 public:
  QPushButton* Connect_1 = nullptr;
  QPushButton* Connect_2 = nullptr;
  QLabel* Prompt = nullptr;  // "Инициируйте связывание со стороны устройства! "

 private:
  void Connect(RegistrationMode mode);
  // Registration over: prompt and "Завершить" hidden, timer stopped, modes offered.
  void Stop();
};

// The Astra-RR variant: the same window with one mode.
class AstraRegistrationWindow : public RegistrationWindow {
  Q_OBJECT

 public:
  AstraRegistrationWindow(ConfigHost& host, QWidget* parent);
};

}  // namespace configurator::gui
