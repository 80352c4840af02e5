#include "launcher/install/inplacerebuilder.h"

#include "launcher/download/stoprequest.h"
#include "launcher/chunking/chunker.h"
#include "launcher/logging/logging.h"
#include "shared/filesystemhelper/diskerror.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"

#include <QFileInfo>
#include <QTemporaryFile>
#include <QtDebug>

#include <algorithm>
#include <set>
#include <stdexcept>

namespace mirrel::launcher {

namespace {

bool rangesOverlap(TFileSize StartA, TFileSize SizeA, TFileSize StartB, TFileSize SizeB) {
    return StartA < StartB + SizeB && StartB < StartA + SizeA;
}

void readExactly(QFile& File, TFileSize Offset, TFileSize Size, QByteArray& Bytes) {
    Bytes.resize(static_cast<int>(Size));
    if (!File.seek(static_cast<qint64>(Offset)) ||
        File.read(Bytes.data(), static_cast<qint64>(Size)) != static_cast<qint64>(Size)) {
        if (File.error() != QFileDevice::NoError) {
            throw shared::TDiskError(File.fileName(), File.errorString());
        }
        throw shared::ioError(File.fileName(), QStringLiteral("Could not read all data."));
    }
}

} // namespace

TInPlaceRebuilder::TInPlaceRebuilder(const QString& LocalPath, const TChunkInPackageVector& Chunks,
                                     std::vector<TChunkReuse>& Records,
                                     std::shared_ptr<const shared::TFileSystemHelper> FileSystem)
    : m_pFileSystem(FileSystem ? std::move(FileSystem) : std::make_shared<shared::TFileSystemHelper>())
    , m_LocalPath(LocalPath)
    , m_Chunks(Chunks)
    , m_Records(Records)
    , m_LocalFile(LocalPath) {}

TInPlaceRebuilder::~TInPlaceRebuilder() = default;

std::vector<std::int32_t> TInPlaceRebuilder::rebuild(TFileSize TargetSize) {
    std::vector<std::int32_t> missing;
    std::vector<std::size_t> moves;
    for (std::size_t index = 0; index < m_Records.size(); ++index) {
        const TChunkReuse& record = m_Records[index];
        if (record.State == TChunkReuse::NotFound) {
            missing.push_back(static_cast<std::int32_t>(index));
        } else if (record.State == TChunkReuse::AtOtherOffset) {
            if (record.Size > chunking::MaximumSize) {
                throw std::runtime_error("chunk larger than a chunk can be");
            }
            moves.push_back(index);
        }
    }
    moveAll(moves);
    cutTo(TargetSize);
    if (m_LocalFile.isOpen()) {
        m_pFileSystem->syncFile(m_LocalFile);
        m_LocalFile.close();
    }
    return missing;
}

void TInPlaceRebuilder::moveAll(const std::vector<std::size_t>& Moves) {
    // blockers[k]: how many moves still have to read their bytes from the range that move k writes.
    const std::vector<std::vector<std::size_t>> blockedMoves = findBlockedMoves(Moves);
    std::vector<std::size_t> blockers(m_Records.size(), 0);
    for (const std::size_t move : Moves) {
        for (const std::size_t blocked : blockedMoves[move]) {
            ++blockers[blocked];
        }
    }
    std::vector<bool> released(m_Records.size(), false);
    std::set<std::size_t> ready;
    std::set<std::size_t> remaining(Moves.begin(), Moves.end());
    for (const std::size_t move : Moves) {
        if (blockers[move] == 0) {
            ready.insert(move);
        }
    }
    // A move whose source has been read (moved or staged) blocks nobody any more.
    const auto release = [&](std::size_t Index) {
        if (released[Index]) {
            return;
        }
        released[Index] = true;
        for (const std::size_t blocked : blockedMoves[Index]) {
            if (--blockers[blocked] == 0 && remaining.count(blocked) != 0) {
                ready.insert(blocked);
            }
        }
    };
    while (!remaining.empty()) {
        if (m_pStop) {
            m_pStop->throwIfRequested();
        }
        if (ready.empty()) {
            // Every remaining move waits for another one: a cycle. Copy one source aside to break it.
            const auto blocksAnother = [&](std::size_t Index) {
                return !released[Index] &&
                       std::any_of(blockedMoves[Index].begin(), blockedMoves[Index].end(),
                                   [&](std::size_t Blocked) { return remaining.count(Blocked) != 0; });
            };
            const auto unreleased = std::find_if(remaining.begin(), remaining.end(), blocksAnother);
            if (unreleased == remaining.end()) {
                throw std::logic_error("chunk moves cannot be ordered");
            }
            stage(*unreleased);
            release(*unreleased);
            continue;
        }
        const std::size_t next = *ready.begin();
        ready.erase(ready.begin());
        remaining.erase(next);
        move(next);
        release(next);
    }
}

std::vector<std::vector<std::size_t>>
TInPlaceRebuilder::findBlockedMoves(const std::vector<std::size_t>& Moves) const {
    // blocked[j] lists the moves whose target range covers part of move j's source range.
    std::vector<std::vector<std::size_t>> blocked(m_Records.size());
    std::vector<std::size_t> bySource(Moves);
    std::sort(bySource.begin(), bySource.end(), [this](std::size_t A, std::size_t B) {
        return m_Records[A].SourceOffset < m_Records[B].SourceOffset;
    });
    TFileSize largest = 0;
    for (const std::size_t move : Moves) {
        largest = std::max(largest, m_Records[move].Size);
    }
    for (const std::size_t writer : Moves) {
        const TChunkReuse& target = m_Records[writer];
        const TFileSize lowest = target.TargetOffset > largest ? target.TargetOffset - largest : 0;
        auto candidate = std::lower_bound(
            bySource.begin(), bySource.end(), lowest,
            [this](std::size_t Index, TFileSize Offset) { return m_Records[Index].SourceOffset < Offset; });
        for (; candidate != bySource.end(); ++candidate) {
            const TChunkReuse& source = m_Records[*candidate];
            if (source.SourceOffset >= target.TargetOffset + target.Size) {
                break;
            }
            if (*candidate != writer &&
                rangesOverlap(source.SourceOffset, source.Size, target.TargetOffset, target.Size)) {
                blocked[*candidate].push_back(writer);
            }
        }
    }
    return blocked;
}

void TInPlaceRebuilder::move(std::size_t Index) {
    TChunkReuse& record = m_Records[Index];
    // The whole chunk is read before it is written, so a chunk that moves by less than its own
    // length does not overwrite itself.
    const QByteArray bytes = readSource(record);
    openLocalFile();
    m_pFileSystem->writeAt(m_LocalFile, static_cast<qint64>(record.TargetOffset), bytes);
    record.State = TChunkReuse::AtTargetOffset;
}

void TInPlaceRebuilder::stage(std::size_t Index) {
    TChunkReuse& record = m_Records[Index];
    const QByteArray bytes = readSource(record);
    m_pFileSystem->writeAt(stagingFile(), static_cast<qint64>(m_StagingPosition), bytes);
    qInfo().noquote() << "staging chunk " + m_Chunks[Index].Url.toString() + " file: " + m_LocalPath +
                             " source offset: " + QString::number(record.SourceOffset) +
                             " Thread: " + currentThreadIdText();
    record.SourceOffset = m_StagingPosition;
    record.Saved = true;
    m_StagingPosition += static_cast<TFileSize>(bytes.size());
}

QByteArray TInPlaceRebuilder::readSource(const TChunkReuse& Record) {
    QByteArray bytes;
    if (Record.Saved) {
        readExactly(stagingFile(), Record.SourceOffset, Record.Size, bytes);
    } else {
        openLocalFile();
        readExactly(m_LocalFile, Record.SourceOffset, Record.Size, bytes);
    }
    return bytes;
}

void TInPlaceRebuilder::cutTo(TFileSize TargetSize) {
    const qint64 size = m_LocalFile.isOpen() ? m_LocalFile.size() : QFileInfo(m_LocalPath).size();
    if (size >= 0 && static_cast<TFileSize>(size) > TargetSize) {
        openLocalFile();
        m_pFileSystem->resizeFile(m_LocalFile, static_cast<qint64>(TargetSize));
    }
}

void TInPlaceRebuilder::openLocalFile() {
    if (!m_LocalFile.isOpen() && !m_LocalFile.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        throw shared::ioError(m_LocalFile.fileName(), m_LocalFile.errorString());
    }
}

QFile& TInPlaceRebuilder::stagingFile() {
    if (!m_pStagingFile) {
        m_pStagingFile = std::make_unique<QTemporaryFile>();
        if (!m_pStagingFile->open()) {
            throw shared::ioError(m_pStagingFile->fileTemplate(), m_pStagingFile->errorString());
        }
    }
    return *m_pStagingFile;
}

} // namespace mirrel::launcher
