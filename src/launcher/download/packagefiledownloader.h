#pragma once

#include "launcher/download/chunktodownload.h"
#include "launcher/download/packagedownloadererror.h"
#include "launcher/download/ratestatistic.h"
#include "launcher/package/filetodownload.h"
#include "shared/container/bufferpool.h"

#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QNetworkReply>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace shared {
class TDownloadPool;
} // namespace shared

namespace mirrel::launcher {

class TChunkCache;
class TChunkSaver;
class TLauncherFilesystemHelper;
class TRunningStages;
class TStopRequest;
class TSiblingChunkIndex;
class TSiblingSources;

// Turns the files an installation must (re)write into finished files: every distinct chunk
// address is fetched once through the pool, unpacked, checked by SHA-256 and written at its offset
// into every file that contains it. Unpacking, checking and writing run on the global thread pool;
// everything else on the thread that owns the downloader. A run ends with exactly one
// downloadCompleted() or downloadFailed().
//
// Contents that installed sibling packages hold (setSiblingIndex) are read from their files
// instead of being fetched, a few items at a time on the pool; they are checked like downloads,
// and one that a sibling no longer holds as described is downloaded after all. They count as
// written, never as downloaded.
class TPackageFileDownloader : public QObject {
    Q_OBJECT

public:
    static constexpr int ProgressIntervalMs = 100;

    TPackageFileDownloader(std::shared_ptr<shared::TDownloadPool> Pool,
                           std::shared_ptr<TLauncherFilesystemHelper> FileSystem);
    // Waits for the chunks being unpacked, checked or written.
    ~TPackageFileDownloader() override;

    void setTargetDirectory(const QDir& Directory) { m_TargetDirectory = Directory; }
    void setSelfUpdateMode(bool SelfUpdateMode) { m_SelfUpdateMode = SelfUpdateMode; }
    // Where installed siblings hold contents of the next run; null: everything is downloaded.
    void setSiblingIndex(std::shared_ptr<const TSiblingChunkIndex> Index);
    // The package in Directory is being changed by another run: nothing more is read from it, and
    // what this run still wanted from it is downloaded.
    void stopSeedingFrom(const QString& Directory);
    void setFilesToDownload(const TFileToDownloadVector& Files);
    // Readies the memory the first transfers of Files read their bodies into. May be called from
    // any thread, ahead of the run: the scan does it on the pool, so the GUI thread, which reads the
    // network, finds the pages there instead of waiting for the system to supply them.
    void prepareBuffers(const TFileToDownloadVector& Files) const;
    void startDownloads();
    // The run's stop request: once it is made, no chunk is unpacked, checked or written any more.
    void setStopRequest(std::shared_ptr<const TStopRequest> Stop) { m_pStop = std::move(Stop); }
    // Holds the run: nothing new is requested and transfers in flight are given up, keeping what
    // they received for a range request. Saved chunks stay saved.
    void pause();
    void resume();
    bool isPaused() const;

    // Bytes received so far, over all downloads of the run, and the packed size of all of them.
    TFileSize downloadedBytes() const;
    TFileSize totalBytesToDownload() const;
    // Bytes per progress tick, for the speed shown to the player.
    const TRateStatistic& downloadRate() const { return m_DownloadRate; }
    const TRateStatistic& writeRate() const { return m_WriteRate; }
    // How the buffers for bodies and unpacked chunks were found, over the downloader's life.
    shared::TBufferPool::TCounts bufferCounts() const;
    // Bytes of the last run written from installed siblings instead of being downloaded.
    TFileSize seededBytes() const;
    // The first saving error of the run in the system's words ("No space left on device"), or the
    // first chunk given up, with the addresses tried.
    const QString& errorText() const { return m_ErrorText; }

signals:
    void downloadCompleted();
    void writeProgress(QUrl Url, mirrel::launcher::TFileSize DownloadedBytes);
    void progress(mirrel::launcher::TFileSize BytesDownloaded,
                  mirrel::launcher::TFileSize BytesTotalToDownload, mirrel::launcher::TFileSize BytesWritten,
                  mirrel::launcher::TFileSize BytesTotalToWrite);
    void downloadFailed(mirrel::launcher::EPackageDownloaderError ErrorReason);

private slots:
    void onDownloadCompleted(QUrl Url, QByteArray Data);
    void onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code, QString ErrorString);
    void onDownloadProgress(QUrl Url, mirrel::launcher::TFileSize DownloadedBytes);
    void onWriteProgress(QUrl Url, mirrel::launcher::TFileSize DownloadedBytes);
    void onProgressTick();

private:
    // Where a chunk's work on the pool stopped: its body did not unpack, its content was not the
    // described one, or it could not be written.
    enum class EStep { Unpack, Check, Save };
    struct TStageResult {
        bool Succeeded = false;
        QString Error;
        // The disk refused data (shared::TDiskError): the whole run stops.
        bool DiskRefused = false;
        EStep FailedStep = EStep::Save;
    };
    using TStageWork = std::function<TStageResult()>;
    using TStageDone = std::function<void(const TStageResult&)>;

    void processDownloadedData(const QUrl& Url, QByteArray Body);
    void processFinishedData(const QUrl& Url);
    void runStage(TStageWork Work, TStageDone Done);
    static TStageResult runGuarded(const TStageWork& Work, const TStopRequest& Stop);
    // One task on the pool per chunk: unpacked, checked and written without a trip back to this
    // thread, its buffers handed back to the pool by the thread that used them last.
    static TStageResult unpackCheckAndSave(const TChunkToDownload& Item, QByteArray Body,
                                           const TChunkSaver& Saver, shared::TBufferPool& Buffers);
    void onChunkProcessed(const QUrl& Url, const TStageResult& Result);
    void onUnpackFailed(const QUrl& Url);
    void onCheckFailed(const QUrl& Url);
    void onSaveFailed(const QUrl& Url, const TStageResult& Result);
    void onSeedFinished(const QUrl& Url, const TStageResult& Result);
    void startNextSeeds();
    // The item is fetched from the network after all (its sibling changed or was withdrawn).
    void downloadInstead(const QUrl& Url);
    void downloadAlteredSeeds();
    void logSeededBytes() const;
    // The one place that decides between another attempt and giving up on an item.
    void retryOrGiveUp(const QUrl& Url, const QString& FinalMessage, bool MadeProgress);
    void requestAgain(const QUrl& Url);
    // A body that proved wrong is asked from the next address of its URL, if there is one.
    bool fetchFromNextAddress(const QUrl& Url);
    void dropItem(const QUrl& Url);
    void stopAfterDiskFailure();
    void emitFinishedSignalWhenNoMoreFilesAreOutstanding();
    bool allFilesComplete() const;
    void emitProgress();
    TFileSize writtenBytes() const;

    static std::vector<TChunkToDownload>::iterator findItem(std::vector<TChunkToDownload>& Items,
                                                            const QUrl& Url);
    static void sortByUrl(std::vector<TChunkToDownload>& Items);

    std::shared_ptr<shared::TDownloadPool> m_pPool;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
    QDir m_TargetDirectory;
    bool m_AtLeastOneDownloadFailed = false;
    bool m_AtLeastOneSavingOperationFailed = false;
    QString m_ErrorText;
    bool m_SelfUpdateMode = false;
    bool m_Running = false;
    int m_RetryPause = 0;
    std::vector<TChunkToDownload> m_Requests;      // request order
    std::vector<TChunkToDownload> m_Outstanding;   // sorted by URL text
    std::vector<TChunkToDownload> m_NotYetWritten; // sorted by URL text
    std::vector<std::shared_ptr<TChunkedFileState>> m_Files;
    std::map<QUrl, TFileSize> m_DownloadedBytes;
    std::map<QUrl, TFileSize> m_WrittenBytes;
    QTimer m_ProgressTimer;
    TFileSize m_PreviousDownloaded = 0;
    TFileSize m_PreviousWritten = 0;
    TRateStatistic m_DownloadRate;
    TRateStatistic m_WriteRate;
    std::shared_ptr<TChunkCache> m_pCache;
    std::shared_ptr<const TChunkSaver> m_pSaver;
    std::shared_ptr<const TStopRequest> m_pStop;
    // Chunk bodies and unpacked chunks: written, the buffers serve the next chunks.
    std::shared_ptr<shared::TBufferPool> m_pBuffers;
    std::shared_ptr<TRunningStages> m_pStages;
    std::shared_ptr<const TSiblingChunkIndex> m_pSiblingIndex;
    std::shared_ptr<TSiblingSources> m_pSiblings;
    QStringList m_WithdrawnSiblings;
    QHash<QString, int> m_SeededUrls; // URL texts of the items taken from siblings, and which
    std::deque<QUrl> m_SeedQueue;
    int m_SeedsRunning = 0;
    bool m_StoppedAfterDiskFailure = false;
};

} // namespace mirrel::launcher
