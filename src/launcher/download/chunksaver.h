#pragma once

#include "launcher/package/chunkinpackage.h"

#include <QByteArray>
#include <QDir>
#include <QUrl>

#include <functional>
#include <memory>

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

class TChunkCache;
class TChunkedFileState;
class TSiblingSources;
struct TChunkToDownload;

// Writes a downloaded, checked chunk into every file that contains it. Each file is written from
// the front in chunk order: starting at its first pending position, every chunk whose content is
// at hand (the downloaded one, one kept in the chunk cache, or one an installed sibling holds) is
// written; a chunk that arrived too early is kept in the cache for later. Runs on pool threads,
// several at once.
class TChunkSaver {
public:
    struct TOptions {
        bool SelfUpdateMode = false;
        bool ChunkVerification = false;
    };
    using TWriteCallback = std::function<void(const QUrl& Url, TFileSize Bytes)>;

    // Without Siblings nothing is taken from installed packages.
    TChunkSaver(std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                std::shared_ptr<TChunkCache> Cache, TOptions Options, TWriteCallback OnWritten,
                std::shared_ptr<TSiblingSources> Siblings = nullptr);

    // Throws std::runtime_error when a file cannot be prepared, opened, read or written; files
    // already handled keep what was written to them.
    void save(const TChunkToDownload& Item, const QByteArray& Data) const;
    // Writes into the files of an item whose content an installed sibling holds: each is written
    // from its front as far as the contents at hand reach. Throws as save() does.
    void seed(const TChunkToDownload& Item) const;

private:
    struct TSource;

    void saveInto(const TChunkToDownload& Item, const QByteArray& Data, TChunkedFileState& File,
                  bool& Parked) const;
    // Writes from the front of the file as long as contents are at hand; Data (may be null) is
    // Item's content. True when the file is complete.
    bool walk(TChunkedFileState& File, const TChunkToDownload* Item, const QByteArray* Data) const;
    void prepare(TChunkedFileState& File) const;
    void openTarget(TChunkedFileState& File) const;
    bool writeNextChunk(const TChunkToDownload* Item, const QByteArray* Data, TChunkedFileState& File) const;
    // The content of the chunk at Position, wherever it is at hand; false when it is nowhere yet.
    bool findSource(std::size_t Position, const TChunkToDownload* Item, const QByteArray* Data,
                    TChunkedFileState& File, TSource& Source) const;
    // A file that is one piece which a sibling holds as a whole file is copied as a file.
    bool copyWholeFileFromSibling(TChunkedFileState& File, std::size_t Position) const;
    void markWritten(TChunkedFileState& File, std::size_t Position, const QString& How) const;
    void finish(TChunkedFileState& File) const;

    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    std::shared_ptr<TChunkCache> m_pCache;
    std::shared_ptr<TSiblingSources> m_pSiblings;
    TOptions m_Options;
    TWriteCallback m_OnWritten;
};

} // namespace mirrel::launcher
