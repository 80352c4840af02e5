#include "platform/mirroredbuffer.h"

#include <stdexcept>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace platform {

namespace {

// Closes the memory file once both views are mapped: the mappings keep its pages.
class TMemoryFile {
public:
    explicit TMemoryFile(std::size_t Size)
        : m_Handle(::memfd_create("mirrored-buffer", MFD_CLOEXEC)) {
        if (m_Handle < 0 || ::ftruncate(m_Handle, static_cast<off_t>(Size)) != 0) {
            throw std::runtime_error("cannot create the memory of a mirrored buffer");
        }
    }
    ~TMemoryFile() {
        if (m_Handle >= 0) {
            ::close(m_Handle);
        }
    }
    TMemoryFile(const TMemoryFile&) = delete;
    TMemoryFile& operator=(const TMemoryFile&) = delete;

    int handle() const { return m_Handle; }

private:
    int m_Handle;
};

} // namespace

TMirroredBuffer::TMirroredBuffer(std::size_t Size)
    : m_Size(Size) {
    const long PageSize = ::sysconf(_SC_PAGESIZE);
    if (Size == 0 || PageSize <= 0 || Size % static_cast<std::size_t>(PageSize) != 0) {
        throw std::runtime_error("a mirrored buffer must be a whole number of pages");
    }
    const TMemoryFile Memory(Size);
    // Reserve both halves at once so that nothing else can land between them.
    void* Reserved = ::mmap(nullptr, 2 * Size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (Reserved == MAP_FAILED) {
        throw std::runtime_error("cannot reserve a mirrored buffer");
    }
    auto* const Base = static_cast<unsigned char*>(Reserved);
    for (unsigned char* View : {Base, Base + Size}) {
        if (::mmap(View, Size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, Memory.handle(), 0) ==
            MAP_FAILED) {
            ::munmap(Base, 2 * Size);
            throw std::runtime_error("cannot map a mirrored buffer");
        }
    }
    m_pData = Base;
}

TMirroredBuffer::~TMirroredBuffer() {
    ::munmap(m_pData, 2 * m_Size);
}

} // namespace platform
