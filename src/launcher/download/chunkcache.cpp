#include "launcher/download/chunkcache.h"

#include "launcher/download/packagelocalpath.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"

#include <QDir>
#include <QMutexLocker>
#include <QtDebug>

#include <algorithm>
#include <stdexcept>

namespace mirrel::launcher {

TChunkCache::TChunkCache(int MaxCachedChunks, std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                         const QString& StagingDirectory, qint64 MaxBytesInMemory)
    : m_MaxCachedChunks(MaxCachedChunks)
    , m_pFileSystem(std::move(FileSystem))
    , m_StagingDirectory(StagingDirectory)
    , m_MaxBytesInMemory(MaxBytesInMemory) {}

TChunkCache::~TChunkCache() {
    clear();
}

void TChunkCache::clear() {
    QMutexLocker lock(&m_Mutex);
    m_Closed = true;
    // The entries' files go with them; the folder after them.
    m_Entries.clear();
    m_InMemoryCount = 0;
    m_InMemoryBytes = 0;
    if (!m_StagingDirectory.isEmpty()) {
        removeLeftovers(*m_pFileSystem, m_StagingDirectory);
    }
}

void TChunkCache::removeLeftovers(const shared::TFileSystemHelper& FileSystem,
                                  const QString& StagingDirectory) {
    try {
        removePackagePath(FileSystem, StagingDirectory);
    } catch (const std::runtime_error& error) {
        qWarning().noquote() << "staging folder " + StagingDirectory +
                                    " stays: " + QString::fromUtf8(error.what());
    }
}

void TChunkCache::addUse(const QByteArray& Hash) {
    QMutexLocker lock(&m_Mutex);
    std::shared_ptr<TPendingChunk>& entry = m_Entries[Hash];
    if (!entry) {
        entry = std::make_shared<TPendingChunk>();
    }
    ++entry->Uses;
}

TChunkCache::TSource TChunkCache::source(const QByteArray& Hash) const {
    QMutexLocker lock(&m_Mutex);
    TSource source;
    const auto found = m_Entries.constFind(Hash);
    if (found == m_Entries.constEnd()) {
        return source;
    }
    const TPendingChunk& entry = **found;
    source.State = entry.State;
    if (entry.State == TPendingChunk::InMemory) {
        source.Data = entry.Data;
    } else if (entry.State == TPendingChunk::InTemporaryFile) {
        source.FilePath = entry.File->fileName();
    }
    return source;
}

bool TChunkCache::isNeeded(const QByteArray& Hash) const {
    QMutexLocker lock(&m_Mutex);
    const auto found = m_Entries.constFind(Hash);
    return found != m_Entries.constEnd() && (*found)->Uses > 0;
}

void TChunkCache::releaseUse(const QByteArray& Hash) {
    QMutexLocker lock(&m_Mutex);
    const auto found = m_Entries.find(Hash);
    if (found == m_Entries.end()) {
        return;
    }
    TPendingChunk& entry = **found;
    if (--entry.Uses > 0) {
        return;
    }
    if (entry.State == TPendingChunk::InMemory) {
        --m_InMemoryCount;
        m_InMemoryBytes -= entry.Data.size();
    }
    m_Entries.erase(found);
}

void TChunkCache::park(const QByteArray& Hash, const QByteArray& Data) {
    if (parkInMemory(Hash, Data)) {
        return;
    }
    // Written outside the lock, so other files' chunks are not held up by this disk write.
    std::unique_ptr<QTemporaryFile> file = openStagingFile();
    m_pFileSystem->writeAt(*file, 0, Data);
    file->close();
    QMutexLocker lock(&m_Mutex);
    const auto found = m_Entries.find(Hash);
    if (m_Closed || found == m_Entries.end() || (*found)->State != TPendingChunk::NotAvailable) {
        return;
    }
    (*found)->File = std::move(file);
    (*found)->State = TPendingChunk::InTemporaryFile;
    ++m_TemporaryFileCount;
}

bool TChunkCache::parkInMemory(const QByteArray& Hash, const QByteArray& Data) {
    QMutexLocker lock(&m_Mutex);
    const auto found = m_Entries.find(Hash);
    if (m_Closed || found == m_Entries.end() || (*found)->State != TPendingChunk::NotAvailable) {
        return true; // the run is over, nobody waits for it, or it is kept already
    }
    if (m_InMemoryCount > m_MaxCachedChunks || m_InMemoryBytes + Data.size() > m_MaxBytesInMemory) {
        return false;
    }
    ++m_InMemoryCount;
    m_InMemoryBytes += Data.size();
    m_PeakInMemoryCount = std::max(m_PeakInMemoryCount, m_InMemoryCount);
    (*found)->Data = Data;
    (*found)->State = TPendingChunk::InMemory;
    return true;
}

std::unique_ptr<QTemporaryFile> TChunkCache::openStagingFile() const {
    QString folder = m_StagingDirectory;
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    } else {
        m_pFileSystem->createDirectory(folder);
    }
    auto file = std::make_unique<QTemporaryFile>(folder + QStringLiteral("/chunk-XXXXXX"));
    if (!file->open()) {
        throw shared::ioError(file->fileTemplate(), QStringLiteral("couldn't open chunk file"));
    }
    return file;
}

qint64 TChunkCache::inMemoryBytes() const {
    QMutexLocker lock(&m_Mutex);
    return m_InMemoryBytes;
}

int TChunkCache::inMemoryCount() const {
    QMutexLocker lock(&m_Mutex);
    return m_InMemoryCount;
}

int TChunkCache::peakInMemoryCount() const {
    QMutexLocker lock(&m_Mutex);
    return m_PeakInMemoryCount;
}

int TChunkCache::temporaryFileCount() const {
    QMutexLocker lock(&m_Mutex);
    return m_TemporaryFileCount;
}

} // namespace mirrel::launcher
