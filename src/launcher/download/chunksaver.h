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
struct TChunkToDownload;

// Writes a downloaded, checked chunk into every file that contains it. Each file is written from
// the front in chunk order: starting at its first pending position, every chunk whose content is
// at hand (the downloaded one, or one kept in the chunk cache) is written; a chunk that arrived
// too early is kept in the cache for later. Runs on pool threads, several at once.
class TChunkSaver {
public:
    struct TOptions {
        bool SelfUpdateMode = false;
        bool ChunkVerification = false;
    };
    using TWriteCallback = std::function<void(const QUrl& Url, TFileSize Bytes)>;

    TChunkSaver(std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                std::shared_ptr<TChunkCache> Cache, TOptions Options, TWriteCallback OnWritten);

    // Throws std::runtime_error when a file cannot be prepared, opened, read or written; files
    // already handled keep what was written to them.
    void save(const TChunkToDownload& Item, const QByteArray& Data) const;

private:
    void saveInto(const TChunkToDownload& Item, const QByteArray& Data, TChunkedFileState& File,
                  bool& Parked) const;
    void prepare(TChunkedFileState& File) const;
    void openTarget(TChunkedFileState& File) const;
    bool writeNextChunk(const TChunkToDownload& Item, const QByteArray& Data, TChunkedFileState& File) const;
    void finish(TChunkedFileState& File) const;

    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    std::shared_ptr<TChunkCache> m_pCache;
    TOptions m_Options;
    TWriteCallback m_OnWritten;
};

} // namespace mirrel::launcher
