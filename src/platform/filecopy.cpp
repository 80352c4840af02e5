#include "platform/filecopy.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t PlainCopyBlock = 4 * 1024 * 1024;

std::int64_t failWithReason(std::string& Error) {
    Error = std::strerror(errno);
    return -1;
}

// The file systems that cannot copy between these two files in the kernel answer with one of these;
// the data is then copied by hand.
bool kernelCopyUnavailable(int Error) {
    return Error == EXDEV || Error == EINVAL || Error == ENOSYS || Error == EOPNOTSUPP || Error == EBADF;
}

// -2: the kernel cannot copy between these files, nothing was copied.
std::int64_t kernelCopy(int Source, int Target, std::int64_t Size, std::string& Error) {
    std::int64_t copied = 0;
    while (copied < Size) {
        const ssize_t step =
            ::copy_file_range(Source, nullptr, Target, nullptr, static_cast<std::size_t>(Size - copied), 0);
        if (step < 0) {
            if (copied == 0 && kernelCopyUnavailable(errno)) {
                return -2;
            }
            return failWithReason(Error);
        }
        if (step == 0) {
            break; // the source got shorter meanwhile
        }
        copied += step;
    }
    return copied;
}

std::int64_t plainCopy(int Source, int Target, std::string& Error) {
    if (::lseek(Source, 0, SEEK_SET) < 0 || ::lseek(Target, 0, SEEK_SET) < 0) {
        return failWithReason(Error);
    }
    std::vector<char> block(PlainCopyBlock);
    std::int64_t copied = 0;
    while (true) {
        const ssize_t read = ::read(Source, block.data(), block.size());
        if (read < 0) {
            return failWithReason(Error);
        }
        if (read == 0) {
            return copied;
        }
        for (ssize_t written = 0; written < read;) {
            const ssize_t step =
                ::write(Target, block.data() + written, static_cast<std::size_t>(read - written));
            if (step < 0) {
                return failWithReason(Error);
            }
            written += step;
        }
        copied += read;
    }
}

} // namespace

std::int64_t copyFileData(int Source, int Target, std::string& Error) {
    struct stat status {};
    if (::fstat(Source, &status) != 0) {
        return failWithReason(Error);
    }
    if (::ioctl(Target, FICLONE, Source) == 0) {
        return static_cast<std::int64_t>(status.st_size);
    }
    const std::int64_t copied = kernelCopy(Source, Target, static_cast<std::int64_t>(status.st_size), Error);
    return copied == -2 ? plainCopy(Source, Target, Error) : copied;
}

} // namespace platform
