// Starts a program as a separate process without waiting for it, as the
// console does for setupc and route commands.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Runs the program argv[0] with its arguments in `workDir`, detached: the
// process is not waited for and leaves no zombie behind. False, with the
// reason in `error`, when argv is empty, the process could not be created or
// the program could not be started; what the program then does is not examined.
bool RunDetached(const std::vector<std::string>& argv, const std::string& workDir,
                 std::string* error = nullptr);

}  // namespace platform
