// Renaming the workstation's end of the virtual null-modem pair: the command
// line for the pair's set-up tool.
#pragma once

#include <string>
#include <vector>

namespace armlink {

// The workstation's end of a pair: "CNCB3" gives "CNCA3".
std::string WorkstationEnd(const std::string& serverPort);

// The program and its arguments: <exeDir>/setupc, change, CNCAn, PortName=<armPort>.
std::vector<std::string> RenameCommand(const std::string& exeDir, const std::string& serverPort,
                                       const std::string& armPort);

// The same as one line, as the operator sees it: "<exeDir>/setupc change CNCAn PortName=<armPort>".
std::string RenameCommandLine(const std::string& exeDir, const std::string& serverPort,
                              const std::string& armPort);

}  // namespace armlink
