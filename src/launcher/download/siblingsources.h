#pragma once

#include "launcher/download/siblingchunkindex.h"
#include "launcher/package/chunkinpackage.h"

#include <QByteArray>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

class TChunkedFileState;

// The contents a run takes from its installed siblings instead of the network, for one run; may be
// used from any thread. A sibling's files are only ever read. What is read is checked against the
// content's hash like a download: a content that a sibling does not hold as its description says
// is never taken from a sibling again, and its address waits in takeFallbacks() to be downloaded.
class TSiblingSources {
public:
    using TPlace = TSiblingChunkIndex::TPlace;

    TSiblingSources(std::shared_ptr<const TSiblingChunkIndex> Index,
                    std::shared_ptr<const shared::TFileSystemHelper> FileSystem);

    // Where the chunk at Position of File may be taken from: none once its sibling was withdrawn or
    // its content found altered.
    std::optional<TPlace> find(const TChunkedFileState& File, std::size_t Position) const;
    bool isWithdrawn(int Sibling) const;
    // The checked content; a null array when it cannot be read or differs.
    QByteArray read(const TChunkInPackage& Chunk, const TPlace& Place);
    // Makes Target a copy of the sibling's whole file (sharing its blocks where the file system
    // can) and checks the copy; false, with Target removed, when it cannot or the copy differs.
    bool copyWholeFile(const TChunkInPackage& Chunk, const TPlace& Place, const QString& Target);
    // A package that a run of the launcher now changes: nothing more is taken from it. False when
    // it is none of the siblings.
    bool withdraw(const QString& Directory);
    // The addresses of contents found altered since the last call.
    std::vector<QUrl> takeFallbacks();

    const std::vector<TSiblingPackage>& siblings() const { return m_pIndex->siblings(); }
    // Bytes taken from each sibling so far, in siblings() order.
    std::vector<TFileSize> takenBytes() const;

private:
    void reject(const TChunkInPackage& Chunk, const TPlace& Place, const QString& Why);
    void count(const TPlace& Place, TFileSize Bytes);

    const std::shared_ptr<const TSiblingChunkIndex> m_pIndex;
    const std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    mutable QMutex m_Mutex; // guards everything below
    std::vector<bool> m_Withdrawn;
    std::vector<TFileSize> m_TakenBytes;
    QSet<QByteArray> m_Rejected;
    std::vector<QUrl> m_Fallbacks;
};

} // namespace mirrel::launcher
