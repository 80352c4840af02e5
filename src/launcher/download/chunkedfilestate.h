#pragma once

#include "launcher/package/chunkinpackage.h"
#include "launcher/package/patchinpackage.h"

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>

#include <list>
#include <memory>
#include <vector>

namespace mirrel::launcher {

struct TFileToDownload;

// One file being assembled by the package file downloader, shared by every chunk that belongs to
// it. Chunks are written in any order, several at once, each at its own offset; the mutex guards
// the bookkeeping below, not the writes themselves.
class TChunkedFileState {
public:
    // TargetPath is the confined local path; empty when the file's name leads out of the
    // installation directory (then nothing is ever written for it).
    TChunkedFileState(const TFileToDownload& File, const QString& TargetPath);

    // Where chunk Position starts in the file: the sum of the sizes of the chunks before it.
    TFileSize offsetOf(std::size_t Position) const { return m_Offsets[Position]; }
    // The length of the file its chunks make up.
    TFileSize chunkedSize() const { return m_ChunkedSize; }
    bool isComplete() const;

    QString LocalFile;
    TFileSize Size = 0;
    QByteArray Hash;
    bool Executable = false;
    TPatchInPackageVector Patches;
    TChunkInPackageVector Chunks;
    QString TargetPath;
    // Where the chunks are written: TargetPath, or while the launcher replaces itself the file
    // beside it (replacementPath) that takes TargetPath's place once complete.
    QString WritePath;

    mutable QMutex Mutex; // guards everything below
    std::list<int> PendingPositions;
    int PendingCount = 0;
    bool Started = false;
    // Open from the first write until the last position is written and no write is in flight.
    std::unique_ptr<QFile> Target;
    int WritesInFlight = 0;
    // Diagnostic chunk verification: everything before this offset has been checked.
    TFileSize CheckedUpTo = 0;

private:
    std::vector<TFileSize> m_Offsets;
    TFileSize m_ChunkedSize = 0;
};

} // namespace mirrel::launcher
