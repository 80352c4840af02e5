#pragma once

#include "launcher/package/chunkinpackage.h"
#include "launcher/package/fileinpackage.h"
#include "launcher/package/filetodownload.h"

#include <QDir>
#include <QMutex>
#include <QSemaphore>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace shared {
class TFileSystemHelper;
}

namespace mirrel::launcher {

class TChunker;
class TChunkHasher;
class TChunkMatcher;
class TStopRequest;

// Works out, file by file, what an installation directory lacks compared with the configuration
// to install, and rebuilds partly matching files in place on the way. Six workers on the global
// thread pool take the files from one queue, biggest first.
class TDifferenceScan {
public:
    static constexpr int WorkerCount = 6;
    using TProgressCallback = std::function<void(TFileSize Scanned, TFileSize Total)>;

    // OnProgress is called from the workers' threads, one at a time.
    TDifferenceScan(const QDir& InstallationDirectory,
                    std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                    TProgressCallback OnProgress);

    // While the launcher replaces itself, no local file is written, cut or deleted: a partly
    // matching file is built anew beside it (TReplacementBuilder) and takes its place in one rename
    // once complete; the downloader finishes files that still lack chunks the same way.
    void setSelfUpdateMode(bool SelfUpdateMode) { m_SelfUpdateMode = SelfUpdateMode; }
    // Once a stop is requested the workers leave every file as it is at the next block they read
    // or move, and the run reports that it was stopped.
    void setStopRequest(std::shared_ptr<const TStopRequest> Stop) { m_pStop = std::move(Stop); }

    // The installed lists are only used for the fast scan: a file that the installed configuration
    // describes by its chunks is then matched against that description instead of being read.
    // Returns the files that still need chunks, each with a non-empty list of chunks to download.
    // When the disk refuses a write the scan stops early: errorText() then tells why, and the
    // result must not be acted on.
    TFileToDownloadVector run(const TFileInPackageVector& TargetFiles,
                              const TChunkInPackageVector& TargetChunks,
                              const TFileInPackageVector& InstalledFiles,
                              const TChunkInPackageVector& InstalledChunks);

    // The first disk failure of the run, in the system's words; empty when there was none.
    QString errorText() const;

private:
    struct TQueuedFile {
        const TFileInPackage* Entry = nullptr;
        QString LocalPath;
    };

    void fillQueue(const TFileInPackageVector& TargetFiles);
    TFileToDownloadVector work();
    TFileToDownloadVector checkQueuedFiles(TChunker& Chunker, TChunkHasher& Hasher);
    bool takeNextFile(TQueuedFile& File);
    void stopAfterDiskFailure(const QString& Text);
    void addScanned(TFileSize Length);
    std::optional<TFileToDownload> checkFile(const TQueuedFile& File, TChunker& Chunker,
                                             TChunkHasher& Hasher);
    std::optional<TFileToDownload> checkWholeFile(const TQueuedFile& File, TFileToDownload Entry);
    std::optional<TFileToDownload> checkChunks(const TQueuedFile& File, TFileToDownload Entry,
                                               TChunker& Chunker, TChunkHasher& Hasher);
    std::optional<TFileToDownload> rebuildInPlace(const TQueuedFile& File, TFileToDownload Entry,
                                                  TChunkMatcher& Matcher) const;
    std::optional<TFileToDownload> buildBeside(const TQueuedFile& File, TFileToDownload Entry,
                                               TChunkMatcher& Matcher) const;
    bool feedInstalledChunks(const TQueuedFile& File, TChunkMatcher& Matcher) const;
    bool feedLocalChunks(const TQueuedFile& File, TChunkMatcher& Matcher, TChunker& Chunker,
                         TChunkHasher& Hasher) const;
    std::optional<TFileToDownload> replace(const TQueuedFile& File, TFileToDownload Entry) const;
    const TFileInPackage* installedEntry(const QString& LocalFile) const;

    QDir m_InstallationDirectory;
    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    TProgressCallback m_OnProgress;
    bool m_SelfUpdateMode = false;
    std::shared_ptr<const TStopRequest> m_pStop;
    const TChunkInPackageVector* m_pTargetChunks = nullptr;
    const TFileInPackageVector* m_pInstalledFiles = nullptr;
    const TChunkInPackageVector* m_pInstalledChunks = nullptr;
    // One token per worker that has run out of files: a hasher may take one for a helper thread.
    QSemaphore m_HashHelpers;

    mutable QMutex m_Mutex; // guards everything below
    std::deque<TQueuedFile> m_Queue;
    TFileSize m_Scanned = 0;
    TFileSize m_Total = 0;
    QString m_ErrorText;
};

} // namespace mirrel::launcher
