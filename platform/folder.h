// A folder that files are kept in, made when it is missing.
#pragma once

#include <string>

namespace platform {

// The folder `path`, created with its parents if missing; empty, with the
// reason in Russian in `error`, when it cannot be made.
std::string EnsureFolder(const std::string& path, std::string* error);

}  // namespace platform
