// Replacing a file whole: the new bytes go to a temporary file of their own
// beside it, are synced, and the temporary file is renamed over the old one, so
// a crash or power loss leaves the old file or the new one, never a torn one,
// and two writers at once each rename a whole file of their own.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// False on failure, with the old file untouched, the temporary file removed
// and `error` saying which step failed on which file, and the system's reason.
// The new file keeps the old one's permissions where the file system can set
// them; where it cannot (vfat, some network mounts) the file is written anyway.
bool ReplaceFile(const std::string& path, const void* data, size_t n, std::string* error);

// Removes what writers killed in the middle of a replacement left beside
// `path`: its temporary files ("<name>.XXXXXX"). Only for a file that no
// other process may be replacing at the time.
void RemoveStaleTemporaries(const std::string& path);

}  // namespace platform
