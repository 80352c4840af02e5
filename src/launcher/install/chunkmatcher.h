#pragma once

#include "launcher/install/chunkreuse.h"
#include "launcher/package/chunkinpackage.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>
#include <vector>

namespace mirrel::launcher {

// Finds, for one file being checked, which chunks of its new chunk list the local file already
// holds. The local content is fed chunk by chunk in file order (digest and length of each local
// chunk); the matcher keeps one reuse record per chunk of the new list.
class TChunkMatcher {
public:
    using TScannedCallback = std::function<void(TFileSize Length)>;

    // Chunks must outlive the matcher. OnScanned is told the length of every fed chunk.
    TChunkMatcher(const TChunkInPackageVector& Chunks, const QString& LocalPath, TScannedCallback OnScanned);

    void feed(const QByteArray& Digest, TFileSize Length);

    // At least one chunk of the new list was found somewhere in the local file.
    bool found() const { return m_Found; }
    std::vector<TChunkReuse>& records() { return m_Records; }

private:
    void matchAtTarget(std::size_t Index);
    void matchElsewhere(std::size_t Index);

    const TChunkInPackageVector& m_Chunks;
    QString m_LocalPath;
    TScannedCallback m_OnScanned;
    std::vector<TChunkReuse> m_Records;
    std::vector<TFileSize> m_TargetOffsets;
    // The positions of each content in the new list, ascending, so a fed chunk is compared with
    // the chunks of equal content only.
    QHash<QByteArray, std::vector<std::size_t>> m_PositionsByHash;
    TFileSize m_SourceOffset = 0;
    bool m_Found = false;
};

} // namespace mirrel::launcher
