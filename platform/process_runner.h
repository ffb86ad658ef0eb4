// Starts a command line as a separate process without waiting for it, as the
// console does for setupc and route commands.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The words of a command line, split at blanks.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Runs the command line in `workDir`, detached: the process is not waited
// for and leaves no zombie behind. False, with the reason in `error`, when
// the line is empty or the process could not be created; whether the program
// itself succeeds is not examined.
bool RunDetached(const std::string& commandLine, const std::string& workDir,
                 std::string* error = nullptr);

}  // namespace platform
