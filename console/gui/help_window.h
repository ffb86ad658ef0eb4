// The help window THelp_1 "Справка": fixed explanations of the tabs
// "Настройки" and "Регистрация". Its geometry lives in section "Help_1".
#pragma once

#include <QWidget>

#include "app/server.h"

namespace console::gui {

class HelpWindow final : public QWidget {
 public:
  explicit HelpWindow(app::Server& server, QWidget* parent = nullptr);

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  app::Server& server_;
};

}  // namespace console::gui
