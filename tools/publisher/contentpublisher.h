#pragma once

#include "publisher/chunkstore.h"
#include "publisher/packingchoice.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace shared {
class TFileSystemHelper;
}

namespace publisher {

struct TContentPublisherSettings {
    QString InputDirectory;
    QString OutputDirectory;
    int Method = 5;
    double MinimumSaving = DefaultMinimumSaving;
    int Threads = 0; // 0: one per processor
};

// One distinct chunk of the published content.
struct TPublishedChunk {
    quint64 UnpackedSize = 0;
    TStoredPiece Piece;
    bool New = false; // written by this run (not found in the store)
    int Method = 0;   // for new chunks: the method they were stored with
};

// One file of the build directory.
struct TPublishedFile {
    QString AbsolutePath;
    QString LocalFile; // relative to the build directory, "/" separators
    quint64 Size = 0;
    QByteArray Hash;
    bool Executable = false;
    std::vector<QByteArray> ChunkHashes; // unpacked hashes, in file order
};

struct TPublishResult {
    std::vector<TPublishedFile> Files;            // sorted by local file
    std::map<QByteArray, TPublishedChunk> Chunks; // by unpacked hash
    std::optional<TStoredPiece> EmptyPiece;       // present when an empty file was published
};

// Cuts every file of a build directory into content-defined chunks, hashes
// them, packs each new chunk and stores it content-addressed below the output
// folder. Files are chunked and hashed on a few threads, chunks are packed on
// one thread per processor; at most a bounded number of chunks wait in memory.
class TContentPublisher {
public:
    using TProgressCallback = std::function<void(quint64 BytesDone, quint64 BytesTotal)>;

    TContentPublisher(std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                      TContentPublisherSettings Settings);
    ~TContentPublisher();
    TContentPublisher(const TContentPublisher&) = delete;
    TContentPublisher& operator=(const TContentPublisher&) = delete;

    // Called on the thread that runs publish(), a few times per second.
    void setProgressCallback(TProgressCallback Callback);

    // Throws std::runtime_error when an input cannot be read or the store
    // cannot be written; nothing that was stored is then referenced anywhere.
    TPublishResult publish();

private:
    std::vector<TPublishedFile> listInputFiles() const;
    void chunkOneFile(TPublishedFile& File);
    void packOneChunk(TPublishedFile& File, std::size_t ChunkIndex, const QByteArray& Content);
    void storeChunk(const QByteArray& Hash, const QByteArray& Content);
    void fail(const QString& Message);
    void reportProgress(quint64 Total) const;

    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    TContentPublisherSettings Settings;
    TChunkStore Store;
    TProgressCallback ProgressCallback;
    struct TRunState;
    std::unique_ptr<TRunState> m_pRun;
};

} // namespace publisher
