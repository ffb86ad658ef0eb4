// Settings text for a server started by a test, benchmark or tool: the
// internet check pings only the loopback address, so nothing leaves the machine.
#pragma once

#include <string>

namespace testsupport {

enum class InternetCheck {
  kOff,        // CheckBox_Internet=0: no probing, no internet news to the workstation
  kAsWritten,  // CheckBox_Internet as the text has it (on when it has none)
};

// `ini` (CR LF lines) with InetProbeHost=127.0.0.1 in [Deployment] and, with
// kOff, CheckBox_Internet=0 in [Form1]. A key goes to the end of its section,
// or of a new one at the end of the text; a key the text already has stays as written.
std::string SafeNetworkIni(const std::string& ini, InternetCheck check = InternetCheck::kOff);

}  // namespace testsupport
