#include "launcher/install/chunkmatcher.h"

#include "launcher/logging/logging.h"

#include <QtDebug>

namespace mirrel::launcher {

TChunkMatcher::TChunkMatcher(const TChunkInPackageVector& Chunks, const QString& LocalPath,
                             TScannedCallback OnScanned)
    : m_Chunks(Chunks)
    , m_LocalPath(LocalPath)
    , m_OnScanned(std::move(OnScanned))
    , m_Records(Chunks.size()) {
    m_TargetOffsets.reserve(Chunks.size());
    TFileSize offset = 0;
    for (std::size_t index = 0; index < Chunks.size(); ++index) {
        m_TargetOffsets.push_back(offset);
        offset += Chunks[index].UnpackedSize;
        m_PositionsByHash[Chunks[index].UnpackedHash].push_back(index);
    }
}

void TChunkMatcher::feed(const QByteArray& Digest, TFileSize Length) {
    if (m_OnScanned) {
        m_OnScanned(Length);
    }
    const auto positions = m_PositionsByHash.constFind(Digest);
    if (positions != m_PositionsByHash.constEnd()) {
        for (const std::size_t index : *positions) {
            const TChunkReuse& record = m_Records[index];
            const TFileSize target = m_TargetOffsets[index];
            if (record.State == TChunkReuse::AtTargetOffset) {
                continue;
            }
            if (record.State == TChunkReuse::AtOtherOffset && target != m_SourceOffset) {
                continue;
            }
            // Equal digests with different lengths cannot come from the same content; such an
            // entry would make the rebuild copy the wrong number of bytes, so it is not reused.
            if (m_Chunks[index].UnpackedSize != Length) {
                continue;
            }
            if (target == m_SourceOffset) {
                matchAtTarget(index);
            } else {
                matchElsewhere(index);
            }
            m_Found = true;
        }
    }
    m_SourceOffset += Length;
}

void TChunkMatcher::matchAtTarget(std::size_t Index) {
    TChunkReuse& record = m_Records[Index];
    record.State = TChunkReuse::AtTargetOffset;
    record.SourceOffset = m_SourceOffset;
    record.TargetOffset = m_TargetOffsets[Index];
    record.Size = m_Chunks[Index].UnpackedSize;
    qInfo().noquote() << "reuseable chunk on correct position found " + m_Chunks[Index].Url.toString() +
                             " file: " + m_LocalPath + " offset: " + QString::number(record.TargetOffset) +
                             " Thread: " + currentThreadIdText();
}

void TChunkMatcher::matchElsewhere(std::size_t Index) {
    TChunkReuse& record = m_Records[Index];
    record.State = TChunkReuse::AtOtherOffset;
    record.SourceOffset = m_SourceOffset;
    record.TargetOffset = m_TargetOffsets[Index];
    record.Size = m_Chunks[Index].UnpackedSize;
    qInfo().noquote() << "reuseable chunk on wrong position found " + m_Chunks[Index].Url.toString() +
                             " file: " + m_LocalPath +
                             " source offset: " + QString::number(record.SourceOffset) +
                             " target offset: " + QString::number(record.TargetOffset) +
                             " Thread: " + currentThreadIdText();
}

} // namespace mirrel::launcher
