#include "armlink/port_rename.h"

namespace armlink {

std::string WorkstationEnd(const std::string& serverPort) {
  std::string name = serverPort;
  if (name.size() >= 4) name[3] = 'A';
  return name;
}

std::vector<std::string> RenameCommand(const std::string& exeDir, const std::string& serverPort,
                                       const std::string& armPort) {
  return {exeDir + "/setupc", "change", WorkstationEnd(serverPort), "PortName=" + armPort};
}

std::string RenameCommandLine(const std::string& exeDir, const std::string& serverPort,
                              const std::string& armPort) {
  std::string line;
  for (const std::string& w : RenameCommand(exeDir, serverPort, armPort))
    line += (line.empty() ? "" : " ") + w;
  return line;
}

}  // namespace armlink
