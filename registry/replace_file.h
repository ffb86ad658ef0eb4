// Replacing a file whole: the new bytes go to "<path>.tmp", are synced, and
// the temporary file is renamed over the old one, so a crash or power loss
// leaves the old file or the new one, never a torn one.
#pragma once

#include <cstddef>
#include <string>

namespace registry {

// False on failure, with the old file untouched, the temporary file removed
// and `error` naming the file and the system's reason.
bool ReplaceFile(const std::string& path, const void* data, size_t n, std::string* error);

}  // namespace registry
