// Renaming the workstation's end of the virtual null-modem pair: the command
// line for the pair's set-up tool.
#pragma once

#include <string>

namespace armlink {

// The workstation's end of a pair: "CNCB3" gives "CNCA3".
std::string WorkstationEnd(const std::string& serverPort);

// "<exeDir>/setupc change CNCAn PortName=<armPort>".
std::string RenameCommandLine(const std::string& exeDir, const std::string& serverPort,
                              const std::string& armPort);

}  // namespace armlink
