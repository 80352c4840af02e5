#include "launcher/download/chunkedfilestate.h"

#include "launcher/package/filetodownload.h"

#include <QMutexLocker>
#include <QtDebug>

namespace mirrel::launcher {

TChunkedFileState::TChunkedFileState(const TFileToDownload& File, const QString& TargetPath)
    : LocalFile(File.LocalFile)
    , Size(File.Size)
    , Hash(File.Hash)
    , Executable(File.Executable)
    , Patches(File.Patches)
    , Chunks(File.Chunks)
    , TargetPath(TargetPath)
    , WritePath(TargetPath) {
    m_Offsets.reserve(Chunks.size());
    TFileSize offset = 0;
    for (const TChunkInPackage& chunk : Chunks) {
        m_Offsets.push_back(offset);
        offset += chunk.UnpackedSize;
    }
    m_ChunkedSize = offset;
    for (const std::int32_t position : File.ChunksToDownload) {
        if (position < 0 || static_cast<std::size_t>(position) >= Chunks.size()) {
            qCritical().noquote() << "chunk position " + QString::number(position) + " of " + LocalFile +
                                         " is outside its chunk list";
            continue;
        }
        PendingPositions.push_back(position);
    }
    PendingCount = static_cast<int>(PendingPositions.size());
}

bool TChunkedFileState::isComplete() const {
    QMutexLocker lock(&Mutex);
    return PendingCount == 0;
}

} // namespace mirrel::launcher
