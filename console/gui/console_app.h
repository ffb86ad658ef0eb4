// The operator console as a program: the main window over a server, from the
// first showing until the window closes, SIGINT or SIGTERM arrives, or the
// desktop session ends.
#pragma once

#include "app/server.h"

namespace console::gui {

// Whether a window system is reachable: a display, or a Qt platform that
// needs none (offscreen, for tests).
bool DisplayAvailable();

// Runs the console; the exit status of the program.
int RunConsole(int argc, char** argv, const app::ServerConfig& cfg);

}  // namespace console::gui
