#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The bytes an unprivileged program may still write to the file system that holds Path. A path
// that does not exist yet is answered for its nearest existing parent folder. Returns false and
// the system's reason in Error when the file system cannot be asked.
bool availableDiskBytes(const std::string& Path, std::uint64_t& Bytes, std::string& Error);

} // namespace platform
