#include "platform/filesync.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

bool failWithReason(std::string& Error) {
    Error = std::strerror(errno);
    return false;
}

// Runs Sync on a descriptor of Path opened read-only, closing it again whatever happens.
template <typename TSync>
bool syncOpened(const std::string& Path, int Flags, TSync Sync, std::string& Error) {
    const int descriptor = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | Flags);
    if (descriptor < 0) {
        return failWithReason(Error);
    }
    const bool synced = Sync(descriptor) == 0;
    if (!synced) {
        failWithReason(Error);
    }
    ::close(descriptor);
    return synced;
}

} // namespace

bool syncFileData(int Descriptor, std::string& Error) {
    if (::fdatasync(Descriptor) != 0) {
        return failWithReason(Error);
    }
    return true;
}

bool syncDirectory(const std::string& Path, std::string& Error) {
    return syncOpened(
        Path, O_DIRECTORY, [](int Descriptor) { return ::fsync(Descriptor); }, Error);
}

bool syncFileSystemOf(const std::string& Path, std::string& Error) {
    return syncOpened(
        Path, 0, [](int Descriptor) { return ::syncfs(Descriptor); }, Error);
}

} // namespace platform
