// The small window of a detector operation (registration, deletion, network
// parameters): a seconds counter in Label10 and its progress bar, driven by a
// one-second timer, and "Завершить". It closes itself once the re-read after
// the device's notice is done.
#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace configurator::gui {

class ConfigHost;

class OperationWindow : public QWidget {
  Q_OBJECT

 public:
  OperationWindow(ConfigHost& host, const char* name, const QString& caption, int seconds,
                  QWidget* parent);

  // The re-read is done: a window whose operation runs closes now.
  void CheckDone();

 protected:
  // Counter and progress back to 0; with `run` the timer starts, else it stops.
  void Restart(bool run);
  // The counter grows by one while below its limit; false at the limit.
  bool Count();
  void SetLimit(int seconds);
  virtual void Tick() = 0;
  void closeEvent(QCloseEvent* e) override;

  ConfigHost& host_;
  QTimer timer_;
  QVBoxLayout* body_ = nullptr;  // the window's own controls go here

 public:
  QLabel* Label10 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QPushButton* ButtonEnd = nullptr;  // "Завершить"

 private:
  int counter_ = 0;
  int limit_ = 0;
};

}  // namespace configurator::gui
