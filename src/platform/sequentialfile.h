#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A file opened for one pass from start to end: the kernel is told so, and
// reads ahead further and drops pages behind sooner than for random access.
class TSequentialFile {
public:
    explicit TSequentialFile(const std::string& Path);
    ~TSequentialFile();

    TSequentialFile(const TSequentialFile&) = delete;
    TSequentialFile& operator=(const TSequentialFile&) = delete;

    bool isOpen() const { return m_Handle >= 0; }

    // Reads until Size bytes are in Target or the file ends; returns the bytes
    // read, or -1 on a read error before any byte (a directory, for one, opens
    // but cannot be read).
    std::int64_t read(unsigned char* Target, std::size_t Size);

private:
    int m_Handle = -1;
};

} // namespace platform
