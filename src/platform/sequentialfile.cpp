#include "platform/sequentialfile.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

TSequentialFile::TSequentialFile(const std::string& Path)
    : m_Handle(::open(Path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (m_Handle >= 0) {
        // Only advice: a file system that ignores it is read all the same.
        ::posix_fadvise(m_Handle, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
}

TSequentialFile::~TSequentialFile() {
    if (m_Handle >= 0) {
        ::close(m_Handle);
    }
}

std::int64_t TSequentialFile::read(unsigned char* Target, std::size_t Size) {
    std::size_t Done = 0;
    while (Done < Size) {
        const ssize_t Read = ::read(m_Handle, Target + Done, Size - Done);
        if (Read < 0 && errno == EINTR) {
            continue;
        }
        if (Read < 0) {
            return Done > 0 ? static_cast<std::int64_t>(Done) : -1;
        }
        if (Read == 0) {
            break;
        }
        Done += static_cast<std::size_t>(Read);
    }
    return static_cast<std::int64_t>(Done);
}

} // namespace platform
