#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace shared {
class TFileSystemHelper;
}

namespace publisher {

// One piece as a document describes it: where it lies relative to the
// document and what was stored.
struct TStoredPiece {
    QString Url;
    QByteArray PackedHash;
    quint64 PackedSize = 0;
    bool Unpack = true;
};

// The content-addressed store below the output folder. Every piece is named by
// the hash of its unpacked content, so identical content is stored once, also
// across versions published into the same folder. Objects are written whole
// (readers never see a half-written one). Safe to use from several threads as
// long as no two of them store the same content at once.
class TChunkStore {
public:
    TChunkStore(std::shared_ptr<const shared::TFileSystemHelper> FileSystem, const QString& RootFolder);

    // "chunks/<first two hex digits>/<hex hash>", relative to the output folder.
    static QString relativeUrl(const QByteArray& UnpackedHash);

    // The piece an earlier run left for this content, if it is a container
    // that unpacks to exactly this content; nothing otherwise.
    std::optional<TStoredPiece> findExisting(const QByteArray& UnpackedHash, quint64 UnpackedSize) const;

    TStoredPiece storeContainer(const QByteArray& UnpackedHash, const QByteArray& Container) const;

    // The piece of an empty file: an empty object that is not unpacked (an
    // empty container never decodes).
    TStoredPiece storeEmptyPiece() const;

private:
    QString pathOf(const QString& Url) const;

    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    QString Root;
};

} // namespace publisher
