#pragma once

#include "launcher/install/chunkreuse.h"
#include "launcher/package/chunkinpackage.h"

#include <QFile>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class QTemporaryFile;

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

class TStopRequest;

// Rebuilds one local file in place from the chunks it already holds: every chunk found at another
// offset is copied to its offset in the new layout, and a file that got shorter is cut. A chunk is
// never written over bytes that another chunk still has to be read from: moves run in an order
// that reads every source before it is overwritten, and where moves block each other in a cycle
// (two chunks that swap places, say) the bytes of one are first copied to a staging file.
class TInPlaceRebuilder {
public:
    // Writes go through FileSystem (a plain helper when none is given).
    TInPlaceRebuilder(const QString& LocalPath, const TChunkInPackageVector& Chunks,
                      std::vector<TChunkReuse>& Records,
                      std::shared_ptr<const shared::TFileSystemHelper> FileSystem = nullptr);
    ~TInPlaceRebuilder();
    TInPlaceRebuilder(const TInPlaceRebuilder&) = delete;
    TInPlaceRebuilder& operator=(const TInPlaceRebuilder&) = delete;

    // Returns the indices (ascending) of the chunks that are still missing; what was moved is on
    // the disk. Throws shared::TDiskError when the disk refuses a read or a write (the file keeps
    // what was moved so far, and a later scan finds its chunks again), std::runtime_error when the
    // file cannot be opened or is shorter than its chunks say.
    std::vector<std::int32_t> rebuild(TFileSize TargetSize);
    // Between two moves a requested stop ends the rebuild with TRunStopped; the moves made stay.
    void setStopRequest(std::shared_ptr<const TStopRequest> Stop) { m_pStop = std::move(Stop); }

    // How many bytes went through the staging file.
    TFileSize stagedBytes() const { return m_StagingPosition; }

private:
    void moveAll(const std::vector<std::size_t>& Moves);
    std::vector<std::vector<std::size_t>> findBlockedMoves(const std::vector<std::size_t>& Moves) const;
    void move(std::size_t Index);
    void stage(std::size_t Index);
    QByteArray readSource(const TChunkReuse& Record);
    void cutTo(TFileSize TargetSize);
    void openLocalFile();
    QFile& stagingFile();

    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    QString m_LocalPath;
    const TChunkInPackageVector& m_Chunks;
    std::vector<TChunkReuse>& m_Records;
    QFile m_LocalFile;
    std::unique_ptr<QTemporaryFile> m_pStagingFile;
    TFileSize m_StagingPosition = 0;
    std::shared_ptr<const TStopRequest> m_pStop;
};

} // namespace mirrel::launcher
