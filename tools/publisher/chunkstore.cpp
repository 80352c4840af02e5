#include "publisher/chunkstore.h"

#include "shared/container/container.h"
#include "shared/crypto/sha256.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <stdexcept>

namespace publisher {

TChunkStore::TChunkStore(std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                         const QString& RootFolder)
    : m_pFileSystem(std::move(FileSystem))
    , Root(RootFolder) {}

QString TChunkStore::relativeUrl(const QByteArray& UnpackedHash) {
    const QString Hex = QString::fromLatin1(UnpackedHash.toHex());
    return QStringLiteral("chunks/") + Hex.left(2) + QLatin1Char('/') + Hex;
}

std::optional<TStoredPiece> TChunkStore::findExisting(const QByteArray& UnpackedHash,
                                                      quint64 UnpackedSize) const {
    const QString Url = relativeUrl(UnpackedHash);
    const QString Path = pathOf(Url);
    if (!m_pFileSystem->fileExists(Path)) {
        return std::nullopt;
    }
    const QByteArray Stored = m_pFileSystem->readFile(Path);
    // Raw content is no container: the launcher would take it as one if it
    // happened to start like a container header, so such an object is replaced.
    if (static_cast<quint64>(Stored.size()) == UnpackedSize &&
        shared::TSha256::hash(Stored) == UnpackedHash) {
        return std::nullopt;
    }
    try {
        const QByteArray Content = shared::decompress(Stored);
        if (static_cast<quint64>(Content.size()) != UnpackedSize ||
            shared::TSha256::hash(Content) != UnpackedHash) {
            return std::nullopt;
        }
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
    return TStoredPiece{Url, shared::TSha256::hash(Stored), static_cast<quint64>(Stored.size()), true};
}

TStoredPiece TChunkStore::storeContainer(const QByteArray& UnpackedHash, const QByteArray& Container) const {
    const QString Url = relativeUrl(UnpackedHash);
    m_pFileSystem->writeFile(pathOf(Url), Container);
    return TStoredPiece{Url, shared::TSha256::hash(Container), static_cast<quint64>(Container.size()), true};
}

TStoredPiece TChunkStore::storeEmptyPiece() const {
    const QByteArray EmptyHash = shared::TSha256::hash(QByteArray());
    const QString Url = relativeUrl(EmptyHash);
    const QString Path = pathOf(Url);
    if (!m_pFileSystem->fileExists(Path) || !m_pFileSystem->readFile(Path).isEmpty()) {
        m_pFileSystem->writeFile(Path, QByteArray());
    }
    return TStoredPiece{Url, EmptyHash, 0, false};
}

QString TChunkStore::pathOf(const QString& Url) const {
    return Root + QLatin1Char('/') + Url;
}

} // namespace publisher
