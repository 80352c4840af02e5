#include "launcher/download/chunksaver.h"

#include "launcher/download/chunkcache.h"
#include "launcher/download/chunkchecklog.h"
#include "launcher/download/chunkedfilestate.h"
#include "launcher/download/chunktodownload.h"
#include "launcher/download/packagelocalpath.h"
#include "launcher/download/siblingsources.h"
#include "launcher/logging/logging.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"

#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QtDebug>

#include <algorithm>
#include <mutex>
#include <stdexcept>

namespace mirrel::launcher {

namespace {

QByteArray readParkedChunk(const QString& FilePath, const QString& TargetPath, TFileSize Size) {
    QFile file(FilePath);
    if (!file.open(QIODevice::ReadOnly)) {
        throw shared::ioError(TargetPath, QStringLiteral("couldn't open chunk file"));
    }
    const QByteArray bytes = file.readAll();
    if (static_cast<TFileSize>(bytes.size()) != Size) {
        throw shared::ioError(TargetPath, QStringLiteral("couldn't read chunk file"));
    }
    return bytes;
}

QString describeSource(TChunkCheckLog::ESource Kind) {
    switch (Kind) {
    case TChunkCheckLog::ESource::Memory:
        return QStringLiteral(" from cache to ");
    case TChunkCheckLog::ESource::TemporaryFile:
        return QStringLiteral(" from temp file to ");
    case TChunkCheckLog::ESource::InstalledPackage:
        return QStringLiteral(" from installed package to ");
    case TChunkCheckLog::ESource::Download:
        break;
    }
    return QStringLiteral(" to ");
}

} // namespace

struct TChunkSaver::TSource {
    QByteArray Bytes;
    TChunkCheckLog::ESource Kind = TChunkCheckLog::ESource::Download;
};

TChunkSaver::TChunkSaver(std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                         std::shared_ptr<TChunkCache> Cache, TOptions Options, TWriteCallback OnWritten,
                         std::shared_ptr<TSiblingSources> Siblings)
    : m_pFileSystem(std::move(FileSystem))
    , m_pCache(std::move(Cache))
    , m_pSiblings(std::move(Siblings))
    , m_Options(Options)
    , m_OnWritten(std::move(OnWritten)) {}

void TChunkSaver::save(const TChunkToDownload& Item, const QByteArray& Data) const {
    qInfo().noquote() << "saveDownloadedData chunk " + Item.Url.toString() +
                             " Thread: " + currentThreadIdText();
    bool parked = false;
    for (const std::shared_ptr<TChunkedFileState>& file : Item.Targets) {
        QMutexLocker lock(&file->Mutex);
        saveInto(Item, Data, *file, parked);
    }
}

void TChunkSaver::seed(const TChunkToDownload& Item) const {
    qInfo().noquote() << "seedFromInstalledPackage chunk " + Item.Url.toString() +
                             " Thread: " + currentThreadIdText();
    for (const std::shared_ptr<TChunkedFileState>& file : Item.Targets) {
        // A file that another walk holds is written as far as its contents are at hand by that
        // walk, this content included: waiting for it would only hold a pool thread idle.
        std::unique_lock<QMutex> lock(file->Mutex, std::try_to_lock);
        if (lock.owns_lock()) {
            walk(*file, nullptr, nullptr);
        }
    }
}

void TChunkSaver::saveInto(const TChunkToDownload& Item, const QByteArray& Data, TChunkedFileState& File,
                           bool& Parked) const {
    if (walk(File, &Item, &Data)) {
        return;
    }
    const TChunkInPackage& waitingFor = File.Chunks[static_cast<std::size_t>(File.PendingPositions.front())];
    qInfo().noquote() << "saveDownloadedData chunk " + waitingFor.Url.toString() + " not found for " +
                             File.TargetPath + ". => Wait for chunk" + " Thread: " + currentThreadIdText();
    const bool stillNeeded =
        std::any_of(File.PendingPositions.begin(), File.PendingPositions.end(), [&](int Position) {
            return File.Chunks[static_cast<std::size_t>(Position)].UnpackedHash == Item.UnpackedHash;
        });
    if (!Parked && stillNeeded) {
        m_pCache->park(Item.UnpackedHash, Data);
        Parked = true;
    }
}

bool TChunkSaver::walk(TChunkedFileState& File, const TChunkToDownload* Item, const QByteArray* Data) const {
    if (File.TargetPath.isEmpty()) {
        throw shared::ioError(File.LocalFile, QStringLiteral("lies outside the installation directory"));
    }
    if (File.PendingPositions.empty()) {
        return true;
    }
    if (!File.Started) {
        prepare(File);
    }
    while (!File.PendingPositions.empty() && writeNextChunk(Item, Data, File)) {
    }
    if (File.PendingPositions.empty()) {
        finish(File);
        return true;
    }
    return false;
}

void TChunkSaver::prepare(TChunkedFileState& File) const {
    // A file that is fetched completely replaces whatever stands at its place; a file with only
    // some chunks to fetch keeps its other bytes and is patched in place. Built beside its place,
    // it starts from nothing or from the chunks the scan copied there.
    if (File.PendingCount == static_cast<int>(File.Chunks.size())) {
        const QFileInfo existing(File.TargetPath);
        // A folder in the file's place was cleared before the run when it held only the package's
        // files; one that appeared since is nobody's to delete.
        if (existing.isDir() && !existing.isSymLink()) {
            throw shared::ioError(File.TargetPath, QStringLiteral("a folder stands in the file's place"));
        }
        if (File.WritePath != File.TargetPath) {
            removePackagePath(*m_pFileSystem, File.WritePath);
        } else {
            removeOrMoveAsideForReplacement(*m_pFileSystem, File.TargetPath, m_Options.SelfUpdateMode);
        }
    }
    m_pFileSystem->createDirectory(QFileInfo(File.TargetPath).absolutePath());
    File.Started = true;
}

void TChunkSaver::openTarget(TChunkedFileState& File) const {
    if (File.Target) {
        return;
    }
    // Chunks go to the disk by position in one call each; a device buffer would only copy them.
    auto target = std::make_unique<QFile>(File.WritePath);
    if (!target->open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        throw shared::ioError(File.WritePath, QStringLiteral("couldn't open target file"));
    }
    if (File.PendingCount == static_cast<int>(File.Chunks.size())) {
        // Written from nothing: its blocks are reserved at once, so a full disk shows before the
        // download goes on and the file does not end up scattered over the disk.
        m_pFileSystem->reserveSpace(*target, static_cast<qint64>(File.chunkedSize()));
    }
    File.Target = std::move(target);
    if (m_Options.ChunkVerification) {
        TChunkCheckLog(*m_pFileSystem, File).start();
    }
}

bool TChunkSaver::findSource(std::size_t Position, const TChunkToDownload* Item, const QByteArray* Data,
                             TChunkedFileState& File, TSource& Source) const {
    const TChunkInPackage& Chunk = File.Chunks[Position];
    if (Item != nullptr && Data != nullptr && Chunk.UnpackedHash == Item->UnpackedHash) {
        Source = {*Data, TChunkCheckLog::ESource::Download};
        return true;
    }
    const TChunkCache::TSource cached = m_pCache->source(Chunk.UnpackedHash);
    if (cached.State == TPendingChunk::InMemory) {
        Source = {cached.Data, TChunkCheckLog::ESource::Memory};
        return true;
    }
    if (cached.State == TPendingChunk::InTemporaryFile) {
        Source = {readParkedChunk(cached.FilePath, File.TargetPath, Chunk.UnpackedSize),
                  TChunkCheckLog::ESource::TemporaryFile};
        return true;
    }
    const std::optional<TSiblingSources::TPlace> place =
        m_pSiblings ? m_pSiblings->find(File, Position) : std::nullopt;
    if (!place) {
        return false;
    }
    Source = {m_pSiblings->read(Chunk, *place), TChunkCheckLog::ESource::InstalledPackage};
    return !Source.Bytes.isNull();
}

bool TChunkSaver::copyWholeFileFromSibling(TChunkedFileState& File, std::size_t Position) const {
    const TChunkInPackage& chunk = File.Chunks[Position];
    if (!m_pSiblings || File.Chunks.size() != 1 || File.Target || chunk.UnpackedSize != File.Size) {
        return false;
    }
    const std::optional<TSiblingSources::TPlace> place = m_pSiblings->find(File, Position);
    if (!place || place->Offset != 0 || place->FileSize != chunk.UnpackedSize ||
        m_pCache->source(chunk.UnpackedHash).State != TPendingChunk::NotAvailable) {
        return false;
    }
    if (!m_pSiblings->copyWholeFile(chunk, *place, File.WritePath)) {
        return false;
    }
    m_pCache->releaseUse(chunk.UnpackedHash);
    markWritten(File, Position, QStringLiteral(" copied from installed package to "));
    return true;
}

bool TChunkSaver::writeNextChunk(const TChunkToDownload* Item, const QByteArray* Data,
                                 TChunkedFileState& File) const {
    const std::size_t position = static_cast<std::size_t>(File.PendingPositions.front());
    const TChunkInPackage& chunk = File.Chunks[position];
    const bool downloaded = Item != nullptr && Data != nullptr && chunk.UnpackedHash == Item->UnpackedHash;
    if (!downloaded && copyWholeFileFromSibling(File, position)) {
        return true;
    }
    TSource source;
    if (!findSource(position, Item, Data, File, source)) {
        return false;
    }
    // Content of another length than its place would leave a gap or run into the next chunk.
    if (static_cast<TFileSize>(source.Bytes.size()) != chunk.UnpackedSize) {
        throw shared::ioError(File.TargetPath, QStringLiteral("couldn't write chunk file"));
    }
    openTarget(File);
    const TChunkCheckLog checkLog(*m_pFileSystem, File);
    if (m_Options.ChunkVerification) {
        checkLog.checkChunksBefore(position);
    }
    const TFileSize offset = File.offsetOf(position);
    m_pFileSystem->writeAt(*File.Target, static_cast<qint64>(offset), source.Bytes);
    if (m_Options.ChunkVerification) {
        checkLog.recordWrite(position, source.Bytes, source.Kind);
    }
    m_pCache->releaseUse(chunk.UnpackedHash);
    markWritten(File, position, describeSource(source.Kind));
    return true;
}

void TChunkSaver::markWritten(TChunkedFileState& File, std::size_t Position, const QString& How) const {
    const TChunkInPackage& chunk = File.Chunks[Position];
    qInfo().noquote() << "saveDownloadedData chunk " + chunk.Url.toString() + How + File.TargetPath +
                             " offset: " + QString::number(File.offsetOf(Position)) +
                             " Thread: " + currentThreadIdText();
    if (m_OnWritten) {
        m_OnWritten(chunk.Url, chunk.UnpackedSize);
    }
    File.PendingPositions.pop_front();
    --File.PendingCount;
}

void TChunkSaver::finish(TChunkedFileState& File) const {
    if (File.Target) {
        // On the disk before the run can be recorded as complete.
        m_pFileSystem->syncFile(*File.Target);
        File.Target->close();
        File.Target.reset();
    }
    // The execute flag follows the record both ways; a file patched in place would keep its mode.
    m_pFileSystem->setExecutable(File.WritePath, File.Executable);
    if (File.WritePath != File.TargetPath) {
        moveReplacementIntoPlace(*m_pFileSystem, File.TargetPath);
        qInfo().noquote() << "saveDownloadedData " + File.WritePath + " took the place of " +
                                 File.TargetPath + " Thread: " + currentThreadIdText();
    }
}

} // namespace mirrel::launcher
