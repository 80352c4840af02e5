#pragma once

#include "launcher/download/pendingchunk.h"
#include "launcher/settings/launcherconstants.h"

#include <QByteArray>
#include <QMap>
#include <QMutex>
#include <QString>

#include <cstdint>
#include <memory>

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

// Chunks that arrived before the files that need them were ready for them, keyed by unpacked
// hash. Up to MaxCachedChunks + 1 chunks and at most MaxBytesInMemory bytes are kept in memory,
// the rest in files of the staging folder; an entry leaves the cache once every position that
// needs its content has been written. All operations may be called from any thread.
class TChunkCache {
public:
    struct TSource {
        std::int32_t State = TPendingChunk::NotAvailable;
        QByteArray Data;  // InMemory
        QString FilePath; // InTemporaryFile
    };

    // Files are written through FileSystem into StagingDirectory, which is created when the first
    // chunk goes there (the system's temporary folder when none is given).
    TChunkCache(int MaxCachedChunks, std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                const QString& StagingDirectory = QString(), qint64 MaxBytesInMemory = MaxCachedChunkBytes);
    ~TChunkCache();
    TChunkCache(const TChunkCache&) = delete;
    TChunkCache& operator=(const TChunkCache&) = delete;

    // Forgets every entry and removes the staging folder; chunks parked afterwards are dropped.
    void clear();
    // Removes a staging folder that an ended process left behind.
    static void removeLeftovers(const shared::TFileSystemHelper& FileSystem, const QString& StagingDirectory);
    // One more position waits for this content.
    void addUse(const QByteArray& Hash);
    TSource source(const QByteArray& Hash) const;
    // Whether some position still waits for this content.
    bool isNeeded(const QByteArray& Hash) const;
    // One position with this content has been written; the last one frees the entry.
    void releaseUse(const QByteArray& Hash);
    // Keeps the content for the positions that still wait for it, unless it is kept already.
    // Throws std::runtime_error when a temporary file cannot be made, shared::TDiskError when the
    // disk refuses its bytes.
    void park(const QByteArray& Hash, const QByteArray& Data);

    int inMemoryCount() const;
    int peakInMemoryCount() const;
    int temporaryFileCount() const;
    qint64 inMemoryBytes() const;

private:
    bool parkInMemory(const QByteArray& Hash, const QByteArray& Data);
    std::unique_ptr<QTemporaryFile> openStagingFile() const;

    const int m_MaxCachedChunks;
    const std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    const QString m_StagingDirectory;
    const qint64 m_MaxBytesInMemory;
    mutable QMutex m_Mutex; // guards everything below
    QMap<QByteArray, std::shared_ptr<TPendingChunk>> m_Entries;
    bool m_Closed = false;
    int m_InMemoryCount = 0;
    qint64 m_InMemoryBytes = 0;
    int m_PeakInMemoryCount = 0;
    int m_TemporaryFileCount = 0;
};

} // namespace mirrel::launcher
