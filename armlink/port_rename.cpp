#include "armlink/port_rename.h"

namespace armlink {

std::string WorkstationEnd(const std::string& serverPort) {
  std::string name = serverPort;
  if (name.size() >= 4) name[3] = 'A';
  return name;
}

std::string RenameCommandLine(const std::string& exeDir, const std::string& serverPort,
                              const std::string& armPort) {
  return exeDir + "/setupc change " + WorkstationEnd(serverPort) + " PortName=" + armPort;
}

}  // namespace armlink
