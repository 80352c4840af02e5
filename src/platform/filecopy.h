#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Copies every byte of the open file Source into the open, empty file Target. Where the file system
// allows it the copy shares the source's blocks (a reflink: nothing is read or written, and a later
// write to either file leaves the other as it was); otherwise the kernel copies the data
// (copy_file_range); otherwise it is read and written here. The source is only read. Returns the
// number of bytes copied, or -1 with the system's reason in Error.
std::int64_t copyFileData(int Source, int Target, std::string& Error);

} // namespace platform
