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
    for (const std::shared_ptr<TChunkedFileState>& file : Item.Targets) {
        writeContent(*file, Item.UnpackedHash, Data, false);
    }
}

void TChunkSaver::seed(const TChunkToDownload& Item) const {
    qInfo().noquote() << "seedFromInstalledPackage chunk " + Item.Url.toString() +
                             " Thread: " + currentThreadIdText();
    for (const std::shared_ptr<TChunkedFileState>& file : Item.Targets) {
        seedInto(*file, Item.UnpackedHash);
    }
}

void TChunkSaver::seedInto(TChunkedFileState& File, const QByteArray& Hash) const {
    const TChunkInPackage* chunk = nullptr;
    std::size_t position = 0;
    {
        QMutexLocker lock(&File.Mutex);
        for (const int pending : File.PendingPositions) {
            if (File.Chunks[static_cast<std::size_t>(pending)].UnpackedHash == Hash) {
                position = static_cast<std::size_t>(pending);
                chunk = &File.Chunks[position];
                break;
            }
        }
        if (chunk == nullptr || copyWholeFileFromSibling(File)) {
            return;
        }
    }
    const std::optional<TSiblingSources::TPlace> place =
        m_pSiblings ? m_pSiblings->find(File, position) : std::nullopt;
    // A content the sibling no longer holds as described is downloaded instead.
    const QByteArray bytes = place ? m_pSiblings->read(*chunk, *place) : QByteArray();
    if (!bytes.isNull()) {
        writeContent(File, Hash, bytes, true);
    }
}

std::vector<std::size_t> TChunkSaver::claimPositions(TChunkedFileState& File, const QByteArray& Hash,
                                                     TFileSize Size) const {
    if (File.TargetPath.isEmpty()) {
        throw shared::ioError(File.LocalFile, QStringLiteral("lies outside the installation directory"));
    }
    std::vector<std::size_t> positions;
    for (auto pending = File.PendingPositions.begin(); pending != File.PendingPositions.end();) {
        const std::size_t position = static_cast<std::size_t>(*pending);
        if (File.Chunks[position].UnpackedHash != Hash) {
            ++pending;
            continue;
        }
        // Content of another length than its place would leave a gap or run into the next chunk.
        if (File.Chunks[position].UnpackedSize != Size) {
            throw shared::ioError(File.TargetPath, QStringLiteral("couldn't write chunk file"));
        }
        if (positions.empty() && !File.Started) {
            prepare(File);
        }
        positions.push_back(position);
        pending = File.PendingPositions.erase(pending);
    }
    if (!positions.empty()) {
        openTarget(File);
        ++File.WritesInFlight;
    }
    return positions;
}

void TChunkSaver::writeContent(TChunkedFileState& File, const QByteArray& Hash, const QByteArray& Bytes,
                               bool FromSibling) const {
    std::vector<std::size_t> positions;
    {
        QMutexLocker lock(&File.Mutex);
        positions = claimPositions(File, Hash, static_cast<TFileSize>(Bytes.size()));
    }
    if (positions.empty()) {
        return;
    }
    // Written outside the file's lock: other chunks of the same file are written at the same time.
    // The file stays open until its last position is written, and that is none of these yet.
    for (const std::size_t position : positions) {
        m_pFileSystem->writeAt(*File.Target, static_cast<qint64>(File.offsetOf(position)), Bytes);
    }
    QMutexLocker lock(&File.Mutex);
    --File.WritesInFlight;
    for (const std::size_t position : positions) {
        if (m_Options.ChunkVerification) {
            TChunkCheckLog(*m_pFileSystem, File)
                .recordWrite(position, Bytes,
                             FromSibling ? TChunkCheckLog::ESource::InstalledPackage
                                         : TChunkCheckLog::ESource::Download);
        }
        m_pCache->releaseUse(Hash);
        markWritten(File, position,
                    FromSibling ? QStringLiteral(" from installed package to ") : QStringLiteral(" to "));
    }
    if (File.PendingCount == 0 && File.WritesInFlight == 0) {
        finish(File);
    }
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

bool TChunkSaver::copyWholeFileFromSibling(TChunkedFileState& File) const {
    const TChunkInPackage& chunk = File.Chunks.front();
    if (!m_pSiblings || File.Chunks.size() != 1 || File.Started || chunk.UnpackedSize != File.Size ||
        File.TargetPath.isEmpty()) {
        return false;
    }
    const std::optional<TSiblingSources::TPlace> place = m_pSiblings->find(File, 0);
    if (!place || place->Offset != 0 || place->FileSize != chunk.UnpackedSize) {
        return false;
    }
    prepare(File);
    if (!m_pSiblings->copyWholeFile(chunk, *place, File.WritePath)) {
        return false;
    }
    File.PendingPositions.clear();
    m_pCache->releaseUse(chunk.UnpackedHash);
    markWritten(File, 0, QStringLiteral(" copied from installed package to "));
    finish(File);
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
    --File.PendingCount;
}

void TChunkSaver::finish(TChunkedFileState& File) const {
    if (File.Target && m_Options.ChunkVerification) {
        // Chunks are written in any order: the file is read back once it is whole.
        TChunkCheckLog(*m_pFileSystem, File).checkChunksBefore(File.Chunks.size());
    }
    if (File.Target) {
        // A file that takes another's place by a rename (the launcher replacing its own program) is
        // on the disk before its new name is, or a power cut could leave that name empty. Every other
        // file reaches the disk with one sync of the whole file system before the package's full
        // marker is written; a run that ends before it has its files read again at the next start.
        if (File.WritePath != File.TargetPath) {
            m_pFileSystem->syncFile(*File.Target);
        }
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
