#include "platform/namedfilemapping.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

// The abstract namespace: a leading NUL byte, then the name and the user id
// without terminator; like a session-local kernel object name, two users'
// launchers do not meet. Returns the address length, or 0 when the name is
// empty or does not fit.
socklen_t abstractAddress(const char* name, sockaddr_un& address) {
    std::memset(&address, 0, sizeof(address));
    address.sun_family = AF_UNIX;
    const std::string scopedName = std::string(name) + "/" + std::to_string(::getuid());
    if (*name == '\0' || scopedName.size() + 1 > sizeof(address.sun_path)) {
        return 0;
    }
    std::memcpy(address.sun_path + 1, scopedName.data(), scopedName.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + scopedName.size());
}

std::runtime_error creationError(int code) {
    return std::runtime_error("Error from CreateFileMapping: " + std::to_string(code));
}

} // namespace

TNamedFileMapping::TNamedFileMapping(const char* name, bool create)
    : m_Name(name) {
    if (!create) {
        return;
    }
    sockaddr_un address;
    const socklen_t length = abstractAddress(name, address);
    if (length == 0) {
        throw creationError(*name == '\0' ? EINVAL : ENAMETOOLONG);
    }
    const int handle = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (handle < 0) {
        throw creationError(errno);
    }
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        const int error = errno;
        ::close(handle);
        if (error == EADDRINUSE) {
            // Another live process provides the object already.
            return;
        }
        throw creationError(error);
    }
    m_Handle = handle;
}

TNamedFileMapping::~TNamedFileMapping() {
    if (m_Handle >= 0) {
        ::close(m_Handle);
    }
}

bool TNamedFileMapping::exists(const char* name) {
    sockaddr_un address;
    const socklen_t length = abstractAddress(name, address);
    if (length == 0) {
        return false;
    }
    const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    // Connecting a datagram socket only checks that a socket is bound to the
    // name; nothing is sent and nothing queues up at the holder.
    int result = 0;
    do {
        result = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), length);
    } while (result != 0 && errno == EINTR);
    const bool held = result == 0;
    ::close(probe);
    return held;
}

} // namespace platform
