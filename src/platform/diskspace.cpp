#include "platform/diskspace.h"

#include <cerrno>
#include <cstring>
#include <sys/statvfs.h>

namespace platform {

bool availableDiskBytes(const std::string& Path, std::uint64_t& Bytes, std::string& Error) {
    std::string path = Path.empty() ? std::string(".") : Path;
    struct statvfs status {};
    while (::statvfs(path.c_str(), &status) != 0) {
        const std::string::size_type slash = path.find_last_of('/');
        // Only a missing folder is answered by its parent; anything else is the system's answer.
        if (errno != ENOENT || slash == std::string::npos) {
            Error = std::strerror(errno);
            return false;
        }
        path = slash == 0 ? std::string("/") : path.substr(0, slash);
    }
    Bytes = static_cast<std::uint64_t>(status.f_bavail) * static_cast<std::uint64_t>(status.f_frsize);
    return true;
}

} // namespace platform
