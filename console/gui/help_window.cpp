#include "console/gui/help_window.h"

#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "console/gui/help_text.h"
#include "console/gui/screen_fit.h"

namespace console::gui {

HelpWindow::HelpWindow(app::Server& server, QWidget* parent)
    : QWidget(parent, Qt::Window), server_(server) {
  setObjectName("THelp_1");
  setWindowTitle("Справка");
  auto* text = new QPlainTextEdit(this);
  text->setObjectName("MemoHelp");
  text->setReadOnly(true);
  text->setPlainText(QString::fromUtf8(kHelpText));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(text);
  const auto g = server_.WindowGeometry("Help_1", {27, 104, 820, 419});
  setGeometry(FitToScreen(QRect(g.left, g.top, g.width, g.height)));
}

void HelpWindow::closeEvent(QCloseEvent* e) {
  const QRect g = geometry();
  server_.SetWindowGeometry("Help_1", {g.x(), g.y(), g.width(), g.height()});
  QWidget::closeEvent(e);
}

}  // namespace console::gui
