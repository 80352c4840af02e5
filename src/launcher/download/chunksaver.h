#pragma once

#include "launcher/package/chunkinpackage.h"

#include <QByteArray>
#include <QDir>
#include <QUrl>

#include <functional>
#include <memory>
#include <vector>

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

class TChunkCache;
class TChunkedFileState;
class TSiblingSources;
struct TChunkToDownload;

// Writes a downloaded, checked chunk at every position of every file that contains it, as soon as it
// is at hand: chunks of one file arrive in any order and are written side by side, each by its own
// positioned writes, so nothing waits in memory for the chunks before it. Contents an installed
// sibling holds are read from it and written the same way. Runs on pool threads, several at once.
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
    // Writes Bytes at every pending position of File whose content has Hash; the file is finished
    // by whoever writes its last position.
    void writeContent(TChunkedFileState& File, const QByteArray& Hash, const QByteArray& Bytes,
                      bool FromSibling) const;
    // The positions of File still waiting for the content with Hash (of Size bytes), taken out of its
    // pending list; the file is prepared and opened first. Called with the file's lock held.
    std::vector<std::size_t> claimPositions(TChunkedFileState& File, const QByteArray& Hash,
                                            TFileSize Size) const;
    void seedInto(TChunkedFileState& File, const QByteArray& Hash) const;
    void prepare(TChunkedFileState& File) const;
    void openTarget(TChunkedFileState& File) const;
    // A file that is one piece which a sibling holds as a whole file is copied as a file.
    bool copyWholeFileFromSibling(TChunkedFileState& File) const;
    void markWritten(TChunkedFileState& File, std::size_t Position, const QString& How) const;
    void finish(TChunkedFileState& File) const;

    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    std::shared_ptr<TChunkCache> m_pCache;
    std::shared_ptr<TSiblingSources> m_pSiblings;
    TOptions m_Options;
    TWriteCallback m_OnWritten;
};

} // namespace mirrel::launcher
