#include "launcher/package/runsizeestimate.h"

#include "launcher/package/packageconfigurationreader.h"

#include <QHash>
#include <QSet>
#include <QUrl>

#include <cmath>

namespace mirrel::launcher {

namespace {

constexpr double BytesPerGigabyte = 1e9;
constexpr double BytesPerMegabyte = 1e6;

const TChunkInPackage* chunkAt(const TChunkInPackageVector& Chunks, std::int32_t Index) {
    return Index >= 0 && static_cast<std::size_t>(Index) < Chunks.size()
               ? &Chunks[static_cast<std::size_t>(Index)]
               : nullptr;
}

// Counts each address once: the downloader fetches a piece once for every file that needs it.
class TFetchList {
public:
    void add(const TChunkInPackage& Piece) {
        if (!m_Urls.contains(Piece.Url)) {
            m_Urls.insert(Piece.Url);
            m_Bytes += Piece.PackedSize;
        }
    }
    TFileSize bytes() const { return m_Bytes; }

private:
    QSet<QUrl> m_Urls;
    TFileSize m_Bytes = 0;
};

QSet<QByteArray> chunkHashes(const TFileInPackage* Entry, const TChunkInPackageVector& Chunks) {
    QSet<QByteArray> hashes;
    if (Entry != nullptr) {
        for (const std::int32_t index : Entry->Chunks) {
            if (const TChunkInPackage* chunk = chunkAt(Chunks, index)) {
                hashes.insert(chunk->UnpackedHash);
            }
        }
    }
    return hashes;
}

// The pieces a changed file needs, as the difference scan would list them: a file of fewer than
// two chunks, or one none of whose chunks is at hand, is fetched whole.
void addPiecesOfChangedFile(const TFileInPackage& File, const TChunkInPackageVector& Chunks,
                            const QSet<QByteArray>& AtHand, TFetchList& Fetch) {
    std::vector<const TChunkInPackage*> missing;
    bool reused = false;
    for (const std::int32_t index : File.Chunks) {
        const TChunkInPackage* chunk = chunkAt(Chunks, index);
        if (chunk == nullptr) {
            continue;
        }
        if (File.Chunks.size() >= 2 && AtHand.contains(chunk->UnpackedHash)) {
            reused = true;
        } else {
            missing.push_back(chunk);
        }
    }
    if (!reused && !File.WholeFile.Url.isEmpty()) {
        Fetch.add(File.WholeFile);
        return;
    }
    for (const TChunkInPackage* chunk : missing) {
        Fetch.add(*chunk);
    }
}

} // namespace

TRunSizeEstimate estimateRunSize(const TPackageConfigurationReader& Target,
                                 const TPackageConfigurationReader& Installed) {
    QHash<QString, const TFileInPackage*> installedFiles;
    for (const TFileInPackage& file : Installed.files()) {
        installedFiles.insert(file.LocalFile, &file);
    }
    TRunSizeEstimate estimate;
    estimate.Known = true;
    TFetchList fetch;
    qint64 added = 0;
    for (const TFileInPackage& file : Target.files()) {
        estimate.DiskBytes += file.Size;
        const TFileInPackage* installed = installedFiles.take(file.LocalFile);
        if (installed != nullptr && installed->Size == file.Size && installed->Hash == file.Hash) {
            continue;
        }
        added += static_cast<qint64>(file.Size) -
                 (installed != nullptr ? static_cast<qint64>(installed->Size) : 0);
        addPiecesOfChangedFile(file, Target.chunks(), chunkHashes(installed, Installed.chunks()), fetch);
    }
    // What is left of the installed files is deleted by the run.
    for (const TFileInPackage* obsolete : qAsConst(installedFiles)) {
        added -= static_cast<qint64>(obsolete->Size);
    }
    estimate.DownloadBytes = fetch.bytes();
    estimate.AddedBytes = added > 0 ? static_cast<TFileSize>(added) : 0;
    return estimate;
}

QString byteSizeText(TFileSize Bytes, ERounding Rounding) {
    const double bytes = static_cast<double>(Bytes);
    const bool gigabytes = bytes >= BytesPerGigabyte;
    double tenths = bytes / (gigabytes ? BytesPerGigabyte : BytesPerMegabyte) * 10;
    if (Rounding == ERounding::Up) {
        tenths = std::ceil(tenths);
    } else if (Rounding == ERounding::Down) {
        tenths = std::floor(tenths);
    }
    return QStringLiteral("%1 %2")
        .arg(tenths / 10, 0, 'f', 1)
        .arg(gigabytes ? QStringLiteral("GB") : QStringLiteral("MB"));
}

} // namespace mirrel::launcher
