// The main of the window tests: offscreen unless a display is asked for, and
// without the offscreen platform's notes about what it cannot do.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace {

void QuietHandler(QtMsgType type, const QMessageLogContext&, const QString& text) {
  if (text.startsWith("This plugin does not support") || text.startsWith("QStandardPaths:")) return;
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  if (type == QtFatalMsg) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qInstallMessageHandler(QuietHandler);
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
