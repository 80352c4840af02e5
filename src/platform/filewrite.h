#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Writes into an open file by position, without moving its offset. Each returns false and the
// system's reason in Error when the disk refuses.

// Writes all Length bytes at Offset; a full disk answers here, not at a later flush.
bool writeFileAt(int Descriptor, std::int64_t Offset, const char* Data, std::int64_t Length,
                 std::string& Error);
// Reserves the disk blocks for the first Size bytes without changing the file's size, so a file
// written piece by piece lies in one stretch and a full disk shows before the first byte is
// written. A file system that cannot reserve ahead is no error.
bool reserveFileSpace(int Descriptor, std::int64_t Size, std::string& Error);

} // namespace platform
