#pragma once

#include "launcher/download/pendingchunk.h"

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
// hash. Up to MaxCachedChunks + 1 chunks are kept in memory, the rest in temporary files; an
// entry leaves the cache once every position that needs its content has been written.
// All operations may be called from any thread.
class TChunkCache {
public:
    struct TSource {
        std::int32_t State = TPendingChunk::NotAvailable;
        QByteArray Data;  // InMemory
        QString FilePath; // InTemporaryFile
    };

    // Temporary files are written through FileSystem.
    TChunkCache(int MaxCachedChunks, std::shared_ptr<const shared::TFileSystemHelper> FileSystem);
    ~TChunkCache();
    TChunkCache(const TChunkCache&) = delete;
    TChunkCache& operator=(const TChunkCache&) = delete;

    // Forgets every entry and removes their temporary files.
    void clear();
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

private:
    bool parkInMemory(const QByteArray& Hash, const QByteArray& Data);

    const int m_MaxCachedChunks;
    const std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    mutable QMutex m_Mutex; // guards everything below
    QMap<QByteArray, std::shared_ptr<TPendingChunk>> m_Entries;
    int m_InMemoryCount = 0;
    int m_PeakInMemoryCount = 0;
    int m_TemporaryFileCount = 0;
};

} // namespace mirrel::launcher
