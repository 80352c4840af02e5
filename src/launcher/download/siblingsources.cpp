#include "launcher/download/siblingsources.h"

#include "launcher/download/chunkedfilestate.h"
#include "launcher/logging/logging.h"
#include "shared/crypto/sha256.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QtDebug>

#include <stdexcept>

namespace mirrel::launcher {

namespace {

constexpr qint64 HashBlockSize = 4 * 1024 * 1024;

// The SHA-256 of a whole file and its length; an empty digest when it cannot be read.
QByteArray hashFile(const QString& Path, TFileSize& Length) {
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    shared::TSha256 hash;
    QByteArray block(static_cast<int>(HashBlockSize), Qt::Uninitialized);
    Length = 0;
    for (qint64 read = 0; (read = file.read(block.data(), HashBlockSize)) != 0;) {
        if (read < 0) {
            return {};
        }
        hash.addData(block.constData(), read);
        Length += static_cast<TFileSize>(read);
    }
    return hash.result();
}

// A copy that must not stay; it is only ever a file of this run.
void discard(const shared::TFileSystemHelper& FileSystem, const QString& Path) {
    try {
        if (FileSystem.fileExists(Path)) {
            FileSystem.removeFile(Path);
        }
    } catch (const std::runtime_error& error) {
        qWarning().noquote() << QString::fromUtf8(error.what());
    }
}

} // namespace

TSiblingSources::TSiblingSources(std::shared_ptr<const TSiblingChunkIndex> Index,
                                 std::shared_ptr<const shared::TFileSystemHelper> FileSystem)
    : m_pIndex(std::move(Index))
    , m_pFileSystem(std::move(FileSystem))
    , m_Withdrawn(m_pIndex->siblings().size(), false)
    , m_TakenBytes(m_pIndex->siblings().size(), 0) {}

std::optional<TSiblingSources::TPlace> TSiblingSources::find(const TChunkedFileState& File,
                                                             std::size_t Position) const {
    std::optional<TPlace> place = m_pIndex->find(File.LocalFile, Position, File.offsetOf(Position));
    QMutexLocker lock(&m_Mutex);
    if (!place || m_Withdrawn[static_cast<std::size_t>(place->Sibling)] ||
        m_Rejected.contains(File.Chunks[Position].UnpackedHash)) {
        return std::nullopt;
    }
    return place;
}

bool TSiblingSources::isWithdrawn(int Sibling) const {
    QMutexLocker lock(&m_Mutex);
    return m_Withdrawn[static_cast<std::size_t>(Sibling)];
}

QByteArray TSiblingSources::read(const TChunkInPackage& Chunk, const TPlace& Place) {
    QFile file(Place.Path);
    QByteArray bytes;
    if (!file.open(QIODevice::ReadOnly) || !file.seek(static_cast<qint64>(Place.Offset))) {
        reject(Chunk, Place, file.errorString());
        return {};
    }
    bytes = file.read(static_cast<qint64>(Chunk.UnpackedSize));
    if (static_cast<TFileSize>(bytes.size()) != Chunk.UnpackedSize ||
        shared::TSha256::hash(bytes) != Chunk.UnpackedHash) {
        reject(Chunk, Place, QStringLiteral("its bytes differ from the installed description"));
        return {};
    }
    count(Place, Chunk.UnpackedSize);
    return bytes;
}

bool TSiblingSources::copyWholeFile(const TChunkInPackage& Chunk, const TPlace& Place,
                                    const QString& Target) {
    try {
        m_pFileSystem->copyFileContent(Place.Path, Target);
    } catch (const std::runtime_error& error) {
        discard(*m_pFileSystem, Target);
        reject(Chunk, Place, QString::fromUtf8(error.what()));
        return false;
    }
    TFileSize length = 0;
    if (hashFile(Target, length) != Chunk.UnpackedHash || length != Chunk.UnpackedSize) {
        discard(*m_pFileSystem, Target);
        reject(Chunk, Place, QStringLiteral("its bytes differ from the installed description"));
        return false;
    }
    count(Place, Chunk.UnpackedSize);
    return true;
}

bool TSiblingSources::withdraw(const QString& Directory) {
    const QString wanted = QDir::cleanPath(Directory);
    QMutexLocker lock(&m_Mutex);
    bool withdrawn = false;
    for (std::size_t sibling = 0; sibling < siblings().size(); ++sibling) {
        if (QDir::cleanPath(siblings()[sibling].Directory) == wanted) {
            m_Withdrawn[sibling] = true;
            withdrawn = true;
        }
    }
    return withdrawn;
}

std::vector<QUrl> TSiblingSources::takeFallbacks() {
    QMutexLocker lock(&m_Mutex);
    std::vector<QUrl> fallbacks;
    fallbacks.swap(m_Fallbacks);
    return fallbacks;
}

std::vector<TFileSize> TSiblingSources::takenBytes() const {
    QMutexLocker lock(&m_Mutex);
    return m_TakenBytes;
}

void TSiblingSources::reject(const TChunkInPackage& Chunk, const TPlace& Place, const QString& Why) {
    qWarning().noquote() << "content " + Chunk.Url.toString() + " could not be taken from " + Place.Path +
                                " at offset " + QString::number(Place.Offset) + " (" + Why +
                                "); it is downloaded Thread: " + currentThreadIdText();
    QMutexLocker lock(&m_Mutex);
    if (!m_Rejected.contains(Chunk.UnpackedHash)) {
        m_Rejected.insert(Chunk.UnpackedHash);
        m_Fallbacks.push_back(Chunk.Url);
    }
}

void TSiblingSources::count(const TPlace& Place, TFileSize Bytes) {
    QMutexLocker lock(&m_Mutex);
    m_TakenBytes[static_cast<std::size_t>(Place.Sibling)] += Bytes;
}

} // namespace mirrel::launcher
