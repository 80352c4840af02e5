#pragma once

#include <string>

namespace platform {

// Durable writes: a file's data, or a directory's entries, reach the disk before these return.
// Each returns false and the system's reason in Error when the disk refuses.

// The data of the open file (and the size, but not every other metadata field).
bool syncFileData(int Descriptor, std::string& Error);
// The entries of a directory: a file just created in it, or renamed into it, stays there.
bool syncDirectory(const std::string& Path, std::string& Error);
// Everything written to the file system that holds Path, in one call.
bool syncFileSystemOf(const std::string& Path, std::string& Error);

} // namespace platform
