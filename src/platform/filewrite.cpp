#include "platform/filewrite.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool writeFileAt(int Descriptor, std::int64_t Offset, const char* Data, std::int64_t Length,
                 std::string& Error) {
    while (Length > 0) {
        const ssize_t written = ::pwrite(Descriptor, Data, static_cast<std::size_t>(Length), Offset);
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
