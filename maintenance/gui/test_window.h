// The device test window: the test commands of the channels, through the
// maintenance window's session.
#pragma once

#include <QWidget>

#include "app/server.h"
#include "console/gui/asker.h"

namespace maintenance::gui {

class MaintenanceWindow;

class TestWindow : public QWidget {
  Q_OBJECT

 public:
  TestWindow(app::Server& server, MaintenanceWindow& owner, console::gui::Asker& asker,
             QWidget* parent = nullptr);
  ~TestWindow() override;

  // Shown after the login.
  void Open();
  bool IsOpen() const;

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  struct Impl;
  Impl* d_ = nullptr;
};

}  // namespace maintenance::gui
