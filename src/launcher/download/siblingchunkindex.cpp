#include "launcher/download/siblingchunkindex.h"

#include "launcher/download/packagelocalpath.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/settings/launchersettings.h"
#include "launcher/storage/launcherfilesystemhelper.h"

#include <QDir>
#include <QUrl>
#include <QtDebug>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace mirrel::launcher {

namespace {

constexpr int OffsetBits = 40;
constexpr std::uint64_t OffsetLimit = std::uint64_t(1) << OffsetBits;
constexpr std::uint64_t FileLimit = std::uint64_t(1) << (64 - OffsetBits);

std::uint64_t hashPrefix(const QByteArray& Hash) {
    std::uint64_t prefix = 0;
    std::memcpy(&prefix, Hash.constData(), std::min<std::size_t>(sizeof(prefix), Hash.size()));
    return prefix;
}

// The contents a run needs, sorted by hash and size, each once.
struct TWanted {
    explicit TWanted(const TFileToDownloadVector& Files) {
        for (const TFileToDownload& file : Files) {
            for (const std::int32_t position : file.ChunksToDownload) {
                if (position >= 0 && static_cast<std::size_t>(position) < file.Chunks.size()) {
                    Chunks.push_back(&file.Chunks[static_cast<std::size_t>(position)]);
                }
            }
        }
        std::sort(Chunks.begin(), Chunks.end(), less);
        Chunks.erase(std::unique(Chunks.begin(), Chunks.end(),
                                 [](const TChunkInPackage* A, const TChunkInPackage* B) {
                                     return !less(A, B) && !less(B, A);
                                 }),
                     Chunks.end());
        Found.assign(Chunks.size(), false);
    }

    static bool less(const TChunkInPackage* A, const TChunkInPackage* B) {
        return A->UnpackedHash != B->UnpackedHash ? A->UnpackedHash < B->UnpackedHash
                                                  : A->UnpackedSize < B->UnpackedSize;
    }

    // Whether the content is wanted and has no place yet; it has one from now on.
    bool take(const QByteArray& Hash, TFileSize Size) {
        TChunkInPackage probe;
        probe.UnpackedHash = Hash;
        probe.UnpackedSize = Size;
        const auto found = std::lower_bound(Chunks.begin(), Chunks.end(), &probe, less);
        if (found == Chunks.end() || less(&probe, *found)) {
            return false;
        }
        const std::size_t index = static_cast<std::size_t>(found - Chunks.begin());
        if (Found[index]) {
            return false;
        }
        Found[index] = true;
        return true;
    }

    std::vector<const TChunkInPackage*> Chunks;
    std::vector<bool> Found;
};

// The sibling's installed documents; an invalid reader when its full marker is gone.
TPackageConfigurationReader readFullMarker(const TLauncherFilesystemHelper& FileSystem,
                                           const TSiblingPackage& Sibling) {
    const QDir directory(Sibling.Directory);
    const std::shared_ptr<const TLauncherSettings> settings = FileSystem.settings();
    const QString marker = packageLocalPath(FileSystem, directory, settings->packageFile());
    const QString assets = packageLocalPath(FileSystem, directory, settings->assetFile());
    if (marker.isEmpty() || !FileSystem.fileExists(marker) || FileSystem.directoryExists(marker)) {
        return {};
    }
    const QByteArray packageDocument = FileSystem.readFileIfPresent(marker);
    const QByteArray assetDocument = assets.isEmpty() ? QByteArray() : FileSystem.readFileIfPresent(assets);
    const QUrl baseUrl = QUrl::fromLocalFile(directory.absolutePath());
    return TPackageConfigurationReader(packageDocument, assetDocument, baseUrl, baseUrl);
}

// The offsets of the file's chunks, or nothing when its description cannot be true (an index
// outside the table, sizes that do not add up to the file's).
std::vector<TFileSize> chunkOffsets(const TFileInPackage& File, const TChunkInPackageVector& Table) {
    std::vector<TFileSize> offsets;
    TFileSize offset = 0;
    for (const std::int32_t index : File.Chunks) {
        if (index < 0 || static_cast<std::size_t>(index) >= Table.size()) {
            return {};
        }
        offsets.push_back(offset);
        offset += Table[static_cast<std::size_t>(index)].UnpackedSize;
    }
    return offset == File.Size ? offsets : std::vector<TFileSize>();
}

} // namespace

TSiblingChunkIndex TSiblingChunkIndex::build(const TLauncherFilesystemHelper& FileSystem,
                                             const std::vector<TSiblingPackage>& Siblings,
                                             const TFileToDownloadVector& Files) {
    TSiblingChunkIndex index;
    index.m_Siblings = Siblings;
    TWanted wanted(Files);
    for (std::size_t sibling = 0; sibling < Siblings.size() && !wanted.Chunks.empty(); ++sibling) {
        const TPackageConfigurationReader installed = readFullMarker(FileSystem, Siblings[sibling]);
        if (!installed.isValid()) {
            qWarning().noquote() << "installed package " + Siblings[sibling].Name +
                                        " has no readable description; its files are not used";
            continue;
        }
        const QDir directory(Siblings[sibling].Directory);
        for (const TFileInPackage& file : installed.files()) {
            const QString path = packageLocalPath(FileSystem, directory, file.LocalFile);
            if (path.isEmpty() || index.m_Files.size() >= FileLimit) {
                continue;
            }
            const std::size_t fileIndex = index.m_Files.size();
            const auto offer = [&](const QByteArray& Hash, TFileSize Size, TFileSize Offset) {
                if (Offset < OffsetLimit && wanted.take(Hash, Size)) {
                    index.m_Entries.push_back(
                        {hashPrefix(Hash), (std::uint64_t(fileIndex) << OffsetBits) | Offset});
                }
            };
            const std::size_t entriesBefore = index.m_Entries.size();
            offer(file.Hash, file.Size, 0);
            const std::vector<TFileSize> offsets = chunkOffsets(file, installed.chunks());
            for (std::size_t position = 0; position < offsets.size(); ++position) {
                const TChunkInPackage& chunk =
                    installed.chunks()[static_cast<std::size_t>(file.Chunks[position])];
                offer(chunk.UnpackedHash, chunk.UnpackedSize, offsets[position]);
            }
            if (index.m_Entries.size() > entriesBefore) {
                index.m_Files.push_back({static_cast<int>(sibling), path, file.Size});
            }
        }
    }
    std::sort(index.m_Entries.begin(), index.m_Entries.end(),
              [](const TEntry& A, const TEntry& B) { return A.HashPrefix < B.HashPrefix; });
    index.m_Entries.shrink_to_fit();
    index.m_Files.shrink_to_fit();
    qInfo().noquote() << "installed packages hold " + QString::number(index.m_Entries.size()) + " of " +
                             QString::number(wanted.Chunks.size()) +
                             " contents to fetch; their index takes " + QString::number(index.memoryBytes()) +
                             " bytes";
    return index;
}

std::optional<TSiblingChunkIndex::TPlace> TSiblingChunkIndex::find(const QByteArray& Hash) const {
    const std::uint64_t prefix = hashPrefix(Hash);
    const auto found =
        std::lower_bound(m_Entries.begin(), m_Entries.end(), prefix,
                         [](const TEntry& Entry, std::uint64_t Prefix) { return Entry.HashPrefix < Prefix; });
    if (found == m_Entries.end() || found->HashPrefix != prefix) {
        return std::nullopt;
    }
    const TFile& file = m_Files[static_cast<std::size_t>(found->Place >> OffsetBits)];
    return TPlace{file.Sibling, file.Path, found->Place & (OffsetLimit - 1), file.Size};
}

std::size_t TSiblingChunkIndex::memoryBytes() const {
    std::size_t bytes =
        sizeof(*this) + m_Entries.capacity() * sizeof(TEntry) + m_Files.capacity() * sizeof(TFile);
    for (const TFile& file : m_Files) {
        bytes += static_cast<std::size_t>(file.Path.capacity()) * sizeof(QChar);
    }
    return bytes;
}

} // namespace mirrel::launcher
