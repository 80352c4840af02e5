#pragma once

#include <cstddef>

namespace platform {

// A buffer whose pages are mapped twice, back to back: byte Size + i is byte i.
// Any stretch of up to Size bytes that starts inside the buffer is contiguous,
// also when it runs past the end, so a ring of data never has to be moved to
// hand out one piece in one pointer. The pages are allocated once and reused
// for as long as the buffer lives.
class TMirroredBuffer {
public:
    // Size must be a multiple of the page size; throws std::runtime_error
    // when the mapping cannot be made.
    explicit TMirroredBuffer(std::size_t Size);
    ~TMirroredBuffer();

    TMirroredBuffer(const TMirroredBuffer&) = delete;
    TMirroredBuffer& operator=(const TMirroredBuffer&) = delete;

    // Valid from data() to data() + 2 * size().
    unsigned char* data() const { return m_pData; }
    std::size_t size() const { return m_Size; }

private:
    unsigned char* m_pData = nullptr;
    std::size_t m_Size = 0;
};

} // namespace platform
