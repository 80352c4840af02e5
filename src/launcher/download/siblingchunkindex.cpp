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
#include <numeric>
#include <stdexcept>

namespace mirrel::launcher {

namespace {

// While building, a place is a sibling file index (upper 24 bits) and an offset in it (lower 40).
constexpr int OffsetBits = 40;
constexpr std::uint64_t OffsetLimit = std::uint64_t(1) << OffsetBits;
constexpr std::uint64_t FileLimit = std::uint64_t(1) << 23;
constexpr std::uint64_t NoPlace = ~std::uint64_t(0);
// In a span, the shift between offsets in the run's file and in the sibling's (less than the
// offset limit either way) is kept biased in the lower 41 bits, the sibling file index above it.
constexpr int ShiftBits = OffsetBits + 1;
constexpr std::uint64_t ShiftMask = (std::uint64_t(1) << ShiftBits) - 1;
constexpr std::int64_t ShiftBias = std::int64_t(1) << OffsetBits;

// A content as documents name it.
struct TContent {
    std::uint64_t Prefix; // the hash's first bytes, which mostly tell contents apart alone
    const QByteArray& Hash;
    TFileSize Size;
};

std::uint64_t hashPrefix(const QByteArray& Hash) {
    std::uint64_t prefix = 0;
    std::memcpy(&prefix, Hash.constData(), std::min<std::size_t>(sizeof(prefix), Hash.size()));
    return prefix;
}

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

// The run's pending positions with the place found for each so far, for one build.
class TSiblingChunkIndex::TBuilder {
public:
    explicit TBuilder(const TFileToDownloadVector& Files)
        : m_Files(Files) {
        for (std::size_t file = 0; file < Files.size(); ++file) {
            for (const std::int32_t position : Files[file].ChunksToDownload) {
                if (position >= 0 && static_cast<std::size_t>(position) < Files[file].Chunks.size()) {
                    const TChunkInPackage& chunk = Files[file].Chunks[static_cast<std::size_t>(position)];
                    m_Wanted.push_back({&chunk, hashPrefix(chunk.UnpackedHash),
                                        static_cast<std::uint32_t>(file),
                                        static_cast<std::uint32_t>(position), NoPlace});
                }
            }
        }
        std::sort(m_Wanted.begin(), m_Wanted.end(), TByContent());
        m_Open = m_Wanted.size();
    }

    bool done() const { return m_Open == 0; }

    // Gives the place to every position of the content that has none yet; false when none wants it.
    bool offer(const QByteArray& Hash, TFileSize Size, std::uint64_t Place) {
        const auto [first, last] = std::equal_range(m_Wanted.begin(), m_Wanted.end(),
                                                    TContent{hashPrefix(Hash), Hash, Size}, TByContent());
        // A content's positions are all given a place at once, so the first tells for all.
        if (first == last || first->Place != NoPlace) {
            return false;
        }
        for (auto wanted = first; wanted != last; ++wanted) {
            wanted->Place = Place;
        }
        m_Open -= static_cast<std::size_t>(last - first);
        return true;
    }

    // Turns the places found into spans of Index.
    void finish(TSiblingChunkIndex& Index) {
        // By the run file's name, so that each file's spans follow one another in finding order.
        std::vector<std::uint32_t> byName(m_Files.size());
        std::iota(byName.begin(), byName.end(), 0);
        std::sort(byName.begin(), byName.end(), [this](std::uint32_t A, std::uint32_t B) {
            return m_Files[A].LocalFile < m_Files[B].LocalFile;
        });
        std::vector<std::uint32_t> rank(m_Files.size());
        for (std::uint32_t place = 0; place < byName.size(); ++place) {
            rank[byName[place]] = place;
        }
        std::sort(m_Wanted.begin(), m_Wanted.end(), [&rank](const TWanted& A, const TWanted& B) {
            return A.File != B.File ? rank[A.File] < rank[B.File] : A.Position < B.Position;
        });
        std::vector<TFileSize> runOffsets;
        std::size_t offsetsOf = m_Files.size();
        for (auto wanted = m_Wanted.begin(); wanted != m_Wanted.end(); ++wanted) {
            if (wanted->Place == NoPlace) {
                continue;
            }
            const TFileToDownload& file = m_Files[wanted->File];
            if (Index.m_RunFiles.empty() || Index.m_RunFiles.back().LocalFile != file.LocalFile) {
                Index.m_RunFiles.push_back({file.LocalFile, Index.m_Spans.size()});
            }
            if (offsetsOf != wanted->File) {
                offsetsOf = wanted->File;
                runOffsets = runOffsetsOf(file);
            }
            if (runOffsets[wanted->Position] >= OffsetLimit) {
                continue;
            }
            const std::int64_t shift = static_cast<std::int64_t>(wanted->Place & (OffsetLimit - 1)) -
                                       static_cast<std::int64_t>(runOffsets[wanted->Position]);
            const std::uint64_t place =
                ((wanted->Place >> OffsetBits) << ShiftBits) | static_cast<std::uint64_t>(shift + ShiftBias);
            TSpan* const last =
                Index.m_Spans.size() > Index.m_RunFiles.back().FirstSpan ? &Index.m_Spans.back() : nullptr;
            if (last != nullptr && last->Place == place && last->First + last->Count == wanted->Position) {
                ++last->Count;
            } else if (last == nullptr || last->First + last->Count <= wanted->Position) {
                Index.m_Spans.push_back({wanted->Position, 1, place});
            } else {
                continue; // the same position twice
            }
            ++Index.m_Positions;
        }
        std::vector<TWanted>().swap(m_Wanted);
    }

private:
    struct TWanted {
        const TChunkInPackage* Chunk = nullptr;
        std::uint64_t Prefix = 0;
        std::uint32_t File = 0;
        std::uint32_t Position = 0;
        std::uint64_t Place = NoPlace;
    };
    struct TByContent {
        static std::uint64_t prefix(const TWanted& Wanted) { return Wanted.Prefix; }
        static std::uint64_t prefix(const TContent& Content) { return Content.Prefix; }
        static const QByteArray& hash(const TWanted& Wanted) { return Wanted.Chunk->UnpackedHash; }
        static const QByteArray& hash(const TContent& Content) { return Content.Hash; }
        static TFileSize size(const TWanted& Wanted) { return Wanted.Chunk->UnpackedSize; }
        static TFileSize size(const TContent& Content) { return Content.Size; }
        // Through the chunk only when the prefixes are alike.
        template <typename A, typename B>
        bool operator()(const A& Left, const B& Right) const {
            if (prefix(Left) != prefix(Right)) {
                return prefix(Left) < prefix(Right);
            }
            return hash(Left) != hash(Right) ? hash(Left) < hash(Right) : size(Left) < size(Right);
        }
    };

    static std::vector<TFileSize> runOffsetsOf(const TFileToDownload& File) {
        std::vector<TFileSize> offsets;
        offsets.reserve(File.Chunks.size());
        TFileSize offset = 0;
        for (const TChunkInPackage& chunk : File.Chunks) {
            offsets.push_back(offset);
            offset += chunk.UnpackedSize;
        }
        return offsets;
    }

    const TFileToDownloadVector& m_Files;
    std::vector<TWanted> m_Wanted; // by content while places are found, then by run position
    std::size_t m_Open = 0;
};

TSiblingChunkIndex TSiblingChunkIndex::build(const TLauncherFilesystemHelper& FileSystem,
                                             const std::vector<TSiblingPackage>& Siblings,
                                             const TFileToDownloadVector& Files) {
    TSiblingChunkIndex index;
    index.m_Siblings = Siblings;
    TBuilder builder(Files);
    for (std::size_t sibling = 0; sibling < Siblings.size() && !builder.done(); ++sibling) {
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
            const std::uint64_t fileIndex = index.m_Files.size();
            bool used = false;
            const auto offer = [&](const QByteArray& Hash, TFileSize Size, TFileSize Offset) {
                used =
                    (Offset < OffsetLimit && builder.offer(Hash, Size, (fileIndex << OffsetBits) | Offset)) ||
                    used;
            };
            offer(file.Hash, file.Size, 0);
            const std::vector<TFileSize> offsets = chunkOffsets(file, installed.chunks());
            for (std::size_t position = 0; position < offsets.size(); ++position) {
                const TChunkInPackage& chunk =
                    installed.chunks()[static_cast<std::size_t>(file.Chunks[position])];
                offer(chunk.UnpackedHash, chunk.UnpackedSize, offsets[position]);
            }
            if (used) {
                index.m_Files.push_back({static_cast<int>(sibling), path, file.Size});
            }
        }
    }
    const std::size_t wanted = [&Files] {
        std::size_t count = 0;
        for (const TFileToDownload& file : Files) {
            count += file.ChunksToDownload.size();
        }
        return count;
    }();
    builder.finish(index);
    index.m_Files.shrink_to_fit();
    index.m_RunFiles.shrink_to_fit();
    index.m_Spans.shrink_to_fit();
    qInfo().noquote() << "installed packages hold " + QString::number(index.m_Positions) + " of " +
                             QString::number(wanted) + " chunks to fetch in " +
                             QString::number(index.m_Spans.size()) + " stretches; their index takes " +
                             QString::number(index.memoryBytes()) + " bytes";
    return index;
}

std::optional<TSiblingChunkIndex::TPlace>
TSiblingChunkIndex::find(const QString& LocalFile, std::size_t Position, TFileSize RunOffset) const {
    const auto runFile =
        std::lower_bound(m_RunFiles.begin(), m_RunFiles.end(), LocalFile,
                         [](const TRunFile& File, const QString& Name) { return File.LocalFile < Name; });
    if (runFile == m_RunFiles.end() || runFile->LocalFile != LocalFile || RunOffset >= OffsetLimit) {
        return std::nullopt;
    }
    const auto first = m_Spans.begin() + static_cast<std::ptrdiff_t>(runFile->FirstSpan);
    const auto last = runFile + 1 == m_RunFiles.end()
                          ? m_Spans.end()
                          : m_Spans.begin() + static_cast<std::ptrdiff_t>((runFile + 1)->FirstSpan);
    auto span = std::upper_bound(first, last, Position,
                                 [](std::size_t Wanted, const TSpan& Span) { return Wanted < Span.First; });
    if (span == first || Position >= std::size_t((--span)->First) + span->Count) {
        return std::nullopt;
    }
    const std::int64_t offset =
        static_cast<std::int64_t>(RunOffset) + static_cast<std::int64_t>(span->Place & ShiftMask) - ShiftBias;
    const TFile& file = m_Files[static_cast<std::size_t>(span->Place >> ShiftBits)];
    if (offset < 0) {
        return std::nullopt;
    }
    return TPlace{file.Sibling, file.Path, static_cast<TFileSize>(offset), file.Size};
}

std::size_t TSiblingChunkIndex::memoryBytes() const {
    std::size_t bytes = sizeof(*this) + m_Files.capacity() * sizeof(TFile) +
                        m_RunFiles.capacity() * sizeof(TRunFile) + m_Spans.capacity() * sizeof(TSpan);
    for (const TFile& file : m_Files) {
        bytes += static_cast<std::size_t>(file.Path.capacity()) * sizeof(QChar);
    }
    for (const TRunFile& file : m_RunFiles) {
        bytes += static_cast<std::size_t>(file.LocalFile.capacity()) * sizeof(QChar);
    }
    return bytes;
}

} // namespace mirrel::launcher
