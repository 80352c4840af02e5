#pragma once

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdint>
#include <memory>

namespace mirrel::launcher {

// The chunk cache's entry for one chunk content that some file still waits for.
struct TPendingChunk {
    enum EState : std::int32_t {
        NotAvailable = 0,
        InMemory = 1,
        InTemporaryFile = 2,
    };

    // Positions, over every file of the run, that still have to be written with this content.
    std::int32_t Uses = 0;
    QByteArray Data;
    std::unique_ptr<QTemporaryFile> File;
    std::int32_t State = NotAvailable;
};

} // namespace mirrel::launcher
