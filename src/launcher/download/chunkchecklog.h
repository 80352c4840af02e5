#pragma once

#include "launcher/package/chunkinpackage.h"

#include <QByteArray>
#include <QString>

#include <cstddef>

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

class TChunkedFileState;

// The diagnostic check of every chunk written into a file: a log beside the file (its path plus
// ".log") records, for each offset, whether the bytes read back or written had the chunk's hash.
// Used only while the file's mutex is held.
class TChunkCheckLog {
public:
    enum class ESource { Download, Memory, TemporaryFile, InstalledPackage };

    TChunkCheckLog(const shared::TFileSystemHelper& FileSystem, TChunkedFileState& File);

    // Called when the file is opened for the first time in a run: an old log goes.
    void start() const;
    // Reads back every chunk before Position that has not been checked yet. Throws when one of
    // them does not have its hash ("invalid hash") or cannot be read whole ("invalid old chunk").
    void checkChunksBefore(std::size_t Position) const;
    // Hashes the written bytes again. Only a temporary-file source with the wrong hash fails.
    void recordWrite(std::size_t Position, const QByteArray& Bytes, ESource Source) const;

private:
    QString logPath() const;
    void append(TFileSize Offset, const QString& Result) const;

    const shared::TFileSystemHelper& m_FileSystem;
    TChunkedFileState& m_File;
};

} // namespace mirrel::launcher
