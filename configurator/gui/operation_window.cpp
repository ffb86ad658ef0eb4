#include "configurator/gui/operation_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "configurator/gui/config_host.h"
#include "console/gui/widgets.h"

namespace configurator::gui {

OperationWindow::OperationWindow(ConfigHost& host, const char* name, const QString& caption,
                                 int seconds, QWidget* parent)
    : QWidget(parent, Qt::Window), host_(host) {
  setObjectName(name);
  setWindowTitle(caption);
  auto* col = new QVBoxLayout(this);
  body_ = new QVBoxLayout;
  col->addLayout(body_);
  auto* row = new QHBoxLayout;
  Label10 = console::gui::Label(this, "Label10", "0");
  Label10->setMinimumWidth(fontMetrics().horizontalAdvance("000") + 4);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setTextVisible(false);
  row->addWidget(Label10);
  row->addWidget(ProgressBar1, 1);
  col->addLayout(row);
  ButtonEnd = console::gui::Button(this, "ButtonEnd", "Завершить");
  auto* end = new QHBoxLayout;
  end->addStretch();
  end->addWidget(ButtonEnd);
  col->addLayout(end);
  SetLimit(seconds);
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
}

void OperationWindow::SetLimit(int seconds) {
  limit_ = seconds;
  ProgressBar1->setRange(0, seconds);
}

void OperationWindow::Restart(bool run) {
  counter_ = 0;
  Label10->setText("0");
  ProgressBar1->setValue(0);
  if (run) timer_.start();
  else timer_.stop();
}

bool OperationWindow::Count() {
  if (counter_ >= limit_) return false;
  ++counter_;
  Label10->setText(QString::number(counter_));
  ProgressBar1->setValue(counter_);
  return true;
}

void OperationWindow::closeEvent(QCloseEvent* e) {
  timer_.stop();
  QWidget::closeEvent(e);
}

void OperationWindow::CheckDone() {
  if (isVisible() && timer_.isActive() && !host_.ReReadArmed()) close();
}

}  // namespace configurator::gui
