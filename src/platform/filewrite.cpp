#include "platform/filewrite.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// The most one call copies. A kernel that preempts no system call switches threads only between
// calls, and copying a whole chunk into the page cache can hold a processor for over a tenth of a
// second when the machine has to supply fresh memory for it: the window's thread would wait that long.
constexpr std::int64_t MaxWritePiece = 1024 * 1024;

} // namespace

bool writeFileAt(int Descriptor, std::int64_t Offset, const char* Data, std::int64_t Length,
                 std::string& Error) {
    while (Length > 0) {
        const ssize_t written =
            ::pwrite(Descriptor, Data, static_cast<std::size_t>(std::min(Length, MaxWritePiece)), Offset);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            Error = written < 0 ? std::strerror(errno) : "Could not write all data to disk.";
            return false;
        }
        Data += written;
        Offset += written;
        Length -= written;
    }
    return true;
}

bool reserveFileSpace(int Descriptor, std::int64_t Size, std::string& Error) {
    if (Size <= 0) {
        return true;
    }
    int result = 0;
    do {
        result = ::fallocate(Descriptor, FALLOC_FL_KEEP_SIZE, 0, Size);
    } while (result != 0 && errno == EINTR);
    if (result == 0 || errno == EOPNOTSUPP || errno == ENOSYS) {
        return true;
    }
    Error = std::strerror(errno);
    return false;
}

} // namespace platform
