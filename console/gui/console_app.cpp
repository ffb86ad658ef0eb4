#include "console/gui/console_app.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "console/gui/asker.h"
#include "console/gui/main_window.h"

namespace console::gui {

namespace {

int gSignalFd = -1;

void OnSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(gSignalFd, &c, 1);
}

}  // namespace

bool DisplayAvailable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform && std::string(platform).rfind("xcb", 0) != 0 &&
      std::string(platform).rfind("wayland", 0) != 0)
    return true;
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (wayland && *wayland);
}

int RunConsole(int argc, char** argv, const app::ServerConfig& cfg) {
  QApplication app(argc, argv);
  // The window lives in the tray: closing a box while it is hidden ends nothing.
  QApplication::setQuitOnLastWindowClosed(false);

  app::Server server(cfg);
  std::string error;
  if (!server.LoadSettings(&error)) {
    std::fprintf(stderr, "relay-server: %s\n", error.c_str());
    return 1;
  }
  BoxAsker asker;
  MainWindow window(server, asker);

  // SIGINT and SIGTERM end the console in order, without asking.
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    std::perror("relay-server: socketpair");
    return 1;
  }
  gSignalFd = fds[1];
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  QSocketNotifier notifier(fds[0], QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, &window, [&] {
    char c;
    [[maybe_unused]] const ssize_t n = ::read(fds[0], &c, 1);
    window.Shutdown(false);
  });
  // The end of the desktop session, or any other quit, stops the server in order.
  QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                   [&] { window.Shutdown(false); });
  QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&] { window.Shutdown(false); });

  window.show();
  const int status = app.exec();
  return server.SecondCopy() ? 1 : status;
}

}  // namespace console::gui
