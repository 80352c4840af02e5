#include "platform/instancelock.h"

#include "platform/userruntimedirectory.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

std::runtime_error lockError(const std::string& Path, int Error) {
    return std::runtime_error("cannot take the instance lock '" + Path + "': " + std::strerror(Error));
}

} // namespace

TInstanceLock::TInstanceLock(const std::string& Name) {
    if (Name.empty() || Name.find('/') != std::string::npos) {
        throw std::runtime_error("cannot take the instance lock '" + Name + "': not a file name");
    }
    const std::string path = userRuntimeDirectory() + "/" + Name + ".lock";
    const int handle = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (handle < 0) {
        throw lockError(path, errno);
    }
    int result = 0;
    do {
        result = ::flock(handle, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        ::close(handle);
        if (error == EWOULDBLOCK) {
            // Another live process holds it.
            return;
        }
        throw lockError(path, error);
    }
    m_Handle = handle;
}

TInstanceLock::~TInstanceLock() {
    if (m_Handle >= 0) {
        ::close(m_Handle);
    }
}

} // namespace platform
