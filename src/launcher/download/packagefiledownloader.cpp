#include "launcher/download/packagefiledownloader.h"

#include "launcher/chunking/chunker.h"

#include "launcher/download/chunkcache.h"
#include "launcher/download/chunkedfilestate.h"
#include "launcher/download/chunksaver.h"
#include "launcher/download/packagelocalpath.h"
#include "launcher/download/runningstages.h"
#include "launcher/download/stoprequest.h"
#include "launcher/download/siblingchunkindex.h"
#include "launcher/download/siblingsources.h"
#include "launcher/logging/logging.h"
#include "launcher/settings/launchersettings.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "shared/container/bufferpool.h"
#include "shared/container/container.h"
#include "shared/crypto/sha256.h"
#include "shared/filesystemhelper/diskerror.h"
#include "shared/network/downloadpool.h"
#include "shared/randomnumbergenerator/randomnumbergenerator.h"

#include <QSet>
#include <QThreadPool>
#include <QtDebug>

#include <algorithm>
#include <limits>
#include <map>
#include <stdexcept>

namespace mirrel::launcher {

namespace {

QString urlText(const QUrl& Url) {
    return Url.toString();
}

// The order of the lists looked up by URL. Comparing the parts of the URLs, not their texts: every
// progress report of a transfer looks its item up, and building texts cost more than the rest.
bool comesBefore(const TChunkToDownload& Item, const QUrl& Url) {
    return Item.Url < Url;
}

// Free buffers kept for the next chunks: about two per transfer (its body and its unpacked
// content), and never more bytes than about a dozen of the largest chunks. Chunks are written as
// they arrive, so this is most of the memory a run holds.
constexpr qint64 MaxKeptBufferBytes = qint64(192) << 20;

std::shared_ptr<shared::TBufferPool> makeBufferPool(const TLauncherSettings& Settings) {
    return std::make_shared<shared::TBufferPool>(2 * std::max(Settings.maxConcurrentDownloads(), 1) + 2,
                                                 MaxKeptBufferBytes);
}

// The smallest offset at which the item's content first appears in one of its files.
TFileSize firstOffset(const TChunkToDownload& Item) {
    TFileSize first = std::numeric_limits<TFileSize>::max();
    for (const std::shared_ptr<TChunkedFileState>& file : Item.Targets) {
        for (std::size_t position = 0; position < file->Chunks.size(); ++position) {
            const TFileSize offset = file->offsetOf(position);
            if (offset >= first) {
                break;
            }
            if (file->Chunks[position].UnpackedHash == Item.UnpackedHash) {
                first = offset;
                break;
            }
        }
    }
    return first;
}

} // namespace

TPackageFileDownloader::TPackageFileDownloader(std::shared_ptr<shared::TDownloadPool> Pool,
                                               std::shared_ptr<TLauncherFilesystemHelper> FileSystem)
    : m_pPool(std::move(Pool))
    , m_pFileSystem(std::move(FileSystem))
    , m_pCache(std::make_shared<TChunkCache>())
    , m_pStop(std::make_shared<TStopRequest>())
    , m_pBuffers(makeBufferPool(*m_pFileSystem->settings()))
    , m_pStages(std::make_shared<TRunningStages>()) {
    m_pPool->setBufferPool(m_pBuffers);
    qRegisterMetaType<TFileSize>("TFileSize");
    qRegisterMetaType<TFileSize>("mirrel::launcher::TFileSize");
    qRegisterMetaType<EPackageDownloaderError>();
    m_ProgressTimer.setInterval(ProgressIntervalMs);
    connect(m_pPool.get(), &shared::TDownloadPool::success, this,
            &TPackageFileDownloader::onDownloadCompleted);
    connect(m_pPool.get(), &shared::TDownloadPool::failed, this, &TPackageFileDownloader::onDownloadFailed);
    connect(m_pPool.get(), &shared::TDownloadPool::progress, this, [this](QUrl Url, qlonglong Bytes) {
        onDownloadProgress(Url, static_cast<TFileSize>(std::max<qlonglong>(Bytes, 0)));
    });
    connect(this, &TPackageFileDownloader::writeProgress, this, &TPackageFileDownloader::onWriteProgress,
            Qt::QueuedConnection);
    connect(&m_ProgressTimer, &QTimer::timeout, this, &TPackageFileDownloader::onProgressTick);
}

TPackageFileDownloader::~TPackageFileDownloader() {
    m_ProgressTimer.stop();
    // Stages still running on the pool use this object's saver and signals.
    m_pStages->waitUntilNone();
    m_pCache->clear();
}

void TPackageFileDownloader::setSiblingIndex(std::shared_ptr<const TSiblingChunkIndex> Index) {
    m_pSiblingIndex = std::move(Index);
}

void TPackageFileDownloader::stopSeedingFrom(const QString& Directory) {
    m_WithdrawnSiblings.append(Directory);
    if (!m_pSiblings || !m_pSiblings->withdraw(Directory)) {
        return;
    }
    qInfo().noquote() << "installed package " + Directory + " is being changed; nothing more is read from it";
    // What this run still wants from it comes from the network now.
    for (const TChunkToDownload& item : m_Requests) {
        const auto seeded = m_SeededUrls.constFind(urlText(item.Url));
        if (seeded != m_SeededUrls.constEnd() && m_pSiblings->isWithdrawn(seeded.value()) &&
            m_pCache->isNeeded(item.UnpackedHash)) {
            downloadInstead(item.Url);
        }
    }
    emitFinishedSignalWhenNoMoreFilesAreOutstanding();
}

TFileSize TPackageFileDownloader::seededBytes() const {
    TFileSize bytes = 0;
    if (m_pSiblings) {
        for (const TFileSize taken : m_pSiblings->takenBytes()) {
            bytes += taken;
        }
    }
    return bytes;
}

void TPackageFileDownloader::setFilesToDownload(const TFileToDownloadVector& Files) {
    m_pCache = std::make_shared<TChunkCache>();
    m_Files.clear();
    std::map<QUrl, TChunkToDownload> items;
    for (const TFileToDownload& file : Files) {
        const QString path = packageLocalPath(*m_pFileSystem, m_TargetDirectory, file.LocalFile);
        auto state = std::make_shared<TChunkedFileState>(file, path);
        if (m_SelfUpdateMode && !path.isEmpty()) {
            state->WritePath = replacementPath(path);
        }
        QSet<QByteArray> given;
        for (const int position : state->PendingPositions) {
            const TChunkInPackage& chunk = state->Chunks[static_cast<std::size_t>(position)];
            m_pCache->addUse(chunk.UnpackedHash);
            if (given.contains(chunk.UnpackedHash)) {
                continue;
            }
            given.insert(chunk.UnpackedHash);
            TChunkToDownload& item = items.try_emplace(chunk.Url, chunk).first->second;
            if (std::find(item.Targets.begin(), item.Targets.end(), state) == item.Targets.end()) {
                item.Targets.push_back(state);
            }
        }
        m_Files.push_back(std::move(state));
    }
    m_Requests.clear();
    std::vector<std::pair<TFileSize, TChunkToDownload>> ordered;
    ordered.reserve(items.size());
    for (auto& [url, item] : items) {
        ordered.emplace_back(firstOffset(item), std::move(item));
    }
    std::sort(ordered.begin(), ordered.end(), [](const auto& A, const auto& B) { return A.first < B.first; });
    m_Requests.reserve(ordered.size());
    for (auto& [offset, item] : ordered) {
        m_Requests.push_back(std::move(item));
    }
    m_SeededUrls.clear();
    m_pSiblings =
        m_pSiblingIndex ? std::make_shared<TSiblingSources>(m_pSiblingIndex, m_pFileSystem) : nullptr;
    if (!m_pSiblings) {
        return;
    }
    for (const QString& directory : qAsConst(m_WithdrawnSiblings)) {
        m_pSiblings->withdraw(directory);
    }
    // The index is kept by the run's positions; every position of a content has the same sibling.
    for (const std::shared_ptr<TChunkedFileState>& file : m_Files) {
        for (const int position : file->PendingPositions) {
            const auto place = m_pSiblings->find(*file, static_cast<std::size_t>(position));
            if (place) {
                m_SeededUrls.insert(urlText(file->Chunks[static_cast<std::size_t>(position)].Url),
                                    place->Sibling);
            }
        }
    }
}

void TPackageFileDownloader::prepareBuffers(const TFileToDownloadVector& Files) const {
    // Sizes come from the package document: a piece claiming more than a chunk can be packed into
    // gets memory only when it arrives, as before.
    constexpr TFileSize LargestPrepared = 2 * chunking::MaximumSize;
    TFileSize largest = 0;
    int pieces = 0;
    for (const TFileToDownload& file : Files) {
        for (const std::int32_t index : file.ChunksToDownload) {
            const TFileSize packed = file.Chunks[static_cast<std::size_t>(index)].PackedSize;
            if (packed <= LargestPrepared) {
                largest = std::max(largest, packed);
                ++pieces;
            }
        }
    }
    const int firstTransfers = std::max(m_pFileSystem->settings()->maxConcurrentDownloads(), 1);
    m_pBuffers->prepare(std::min(pieces, firstTransfers), static_cast<qint64>(largest));
}

void TPackageFileDownloader::startDownloads() {
    qInfo().noquote() << "start download of " + QString::number(m_Requests.size()) +
                             " files Thread: " + currentThreadIdText();
    m_Outstanding = m_Requests;
    sortByUrl(m_Outstanding);
    m_NotYetWritten = m_Outstanding;
    m_AtLeastOneDownloadFailed = false;
    m_AtLeastOneSavingOperationFailed = false;
    m_ErrorText.clear();
    m_DownloadedBytes.clear();
    m_WrittenBytes.clear();
    m_ProgressTimer.start();
    m_PreviousDownloaded = 0;
    m_PreviousWritten = 0;
    m_DownloadRate.resetCount();
    m_WriteRate.resetCount();
    const std::shared_ptr<const TLauncherSettings> settings = m_pFileSystem->settings();
    m_pSaver = std::make_shared<const TChunkSaver>(
        m_pFileSystem, m_pCache, TChunkSaver::TOptions{m_SelfUpdateMode, settings->chunkVerification()},
        [this](const QUrl& Url, TFileSize Bytes) { emit writeProgress(Url, Bytes); }, m_pSiblings);
    m_RetryPause = settings->retryPause();
    m_Running = true;
    m_StoppedAfterDiskFailure = false;
    m_SeedQueue.clear();
    for (const TChunkToDownload& item : m_Requests) {
        if (m_SeededUrls.contains(urlText(item.Url))) {
            m_SeedQueue.push_back(item.Url);
            continue;
        }
        qInfo().noquote() << "start download of " + urlText(item.Url) + " Thread: " + currentThreadIdText();
        // A body larger than the packed piece is cut off at once instead of growing without end.
        m_pPool->setExpectedBodySize(item.Url, static_cast<qint64>(std::min<TFileSize>(
                                                   item.PackedSize, std::numeric_limits<qint64>::max())));
        m_pPool->download(item.Url);
    }
    if (!m_SeedQueue.empty()) {
        qInfo().noquote() << QString::number(m_SeedQueue.size()) +
                                 " of them are read from installed packages";
    }
    startNextSeeds();
    if (m_Requests.empty()) {
        emitFinishedSignalWhenNoMoreFilesAreOutstanding();
    }
}

void TPackageFileDownloader::startNextSeeds() {
    // A few at a time, like downloads: each holds one chunk in memory while it is checked and
    // written, and the pool stays free for the chunks that do come from the network.
    const int limit = std::max(1, QThreadPool::globalInstance()->maxThreadCount());
    while (m_SeedsRunning < limit && !m_SeedQueue.empty()) {
        const QUrl url = m_SeedQueue.front();
        m_SeedQueue.pop_front();
        const auto found = findItem(m_Outstanding, url);
        if (!m_SeededUrls.contains(urlText(url)) || found == m_Outstanding.end()) {
            continue;
        }
        ++m_SeedsRunning;
        const std::shared_ptr<const TChunkSaver> saver = m_pSaver;
        runStage(
            [saver, item = *found] {
                saver->seed(item);
                return TStageResult{true, QString(), false};
            },
            [this, url](const TStageResult& Result) { onSeedFinished(url, Result); });
    }
}

void TPackageFileDownloader::onSeedFinished(const QUrl& Url, const TStageResult& Result) {
    --m_SeedsRunning;
    if (!Result.Succeeded) {
        qWarning().noquote() << "Failed to save file read from installed package " + urlText(Url) + ": " +
                                    Result.Error;
        if (m_ErrorText.isEmpty()) {
            m_ErrorText = Result.Error;
        }
        m_SeededUrls.remove(urlText(Url));
        dropItem(Url);
        m_AtLeastOneSavingOperationFailed = true;
        if (Result.DiskRefused) {
            stopAfterDiskFailure();
        }
    } else if (m_SeededUrls.contains(urlText(Url))) {
        // Written wherever its files had come so far; the rest follows with the chunks before it.
        dropItem(Url);
    }
    startNextSeeds();
    emitFinishedSignalWhenNoMoreFilesAreOutstanding();
}

void TPackageFileDownloader::downloadInstead(const QUrl& Url) {
    if (!m_SeededUrls.remove(urlText(Url)) || !m_Running || m_StoppedAfterDiskFailure) {
        return;
    }
    const auto request = std::find_if(m_Requests.begin(), m_Requests.end(),
                                      [&Url](const TChunkToDownload& Item) { return Item.Url == Url; });
    if (request == m_Requests.end()) {
        return;
    }
    if (findItem(m_Outstanding, Url) == m_Outstanding.end()) {
        const auto place = std::lower_bound(m_Outstanding.begin(), m_Outstanding.end(), Url, comesBefore);
        m_Outstanding.insert(place, *request);
    }
    qInfo().noquote() << "start download of " + urlText(Url) +
                             " instead of reading it Thread: " + currentThreadIdText();
    m_pPool->setExpectedBodySize(Url, static_cast<qint64>(std::min<TFileSize>(
                                          request->PackedSize, std::numeric_limits<qint64>::max())));
    // Files wait for it at the place where it belongs: it goes before everything queued.
    m_pPool->downloadFirst(Url);
}

void TPackageFileDownloader::downloadAlteredSeeds() {
    if (!m_pSiblings) {
        return;
    }
    for (const QUrl& url : m_pSiblings->takeFallbacks()) {
        downloadInstead(url);
    }
}

void TPackageFileDownloader::logSeededBytes() const {
    if (!m_pSiblings) {
        return;
    }
    const std::vector<TFileSize> taken = m_pSiblings->takenBytes();
    for (std::size_t sibling = 0; sibling < taken.size(); ++sibling) {
        const TSiblingPackage& package = m_pSiblings->siblings()[sibling];
        qInfo().noquote() << "read " + QString::number(taken[sibling]) + " bytes from installed package " +
                                 package.Name + " (" + package.Directory + ") instead of downloading them";
    }
    qInfo().noquote() << "downloaded " + QString::number(downloadedBytes()) + " bytes, read " +
                             QString::number(seededBytes()) + " bytes from installed packages";
}

shared::TBufferPool::TCounts TPackageFileDownloader::bufferCounts() const {
    return m_pBuffers->counts();
}

void TPackageFileDownloader::onDownloadCompleted(QUrl Url, QByteArray Data) {
    qInfo().noquote() << "onDownloadCompleted " + urlText(Url) + " Thread: " + currentThreadIdText();
    processDownloadedData(Url, std::move(Data));
}

void TPackageFileDownloader::processDownloadedData(const QUrl& Url, QByteArray Body) {
    const auto found = findItem(m_Outstanding, Url);
    if (found == m_Outstanding.end()) {
        m_pPool->releaseDownload(Url);
        return;
    }
    qInfo().noquote() << "processDownloadedData " + urlText(Url) + " Thread: " + currentThreadIdText();
    runStage(
        [item = *found, Body = std::move(Body), saver = m_pSaver, buffers = m_pBuffers]() mutable {
            return unpackCheckAndSave(item, std::move(Body), *saver, *buffers);
        },
        [this, Url](const TStageResult& Result) { onChunkProcessed(Url, Result); });
}

TPackageFileDownloader::TStageResult
TPackageFileDownloader::unpackCheckAndSave(const TChunkToDownload& Item, QByteArray Body,
                                           const TChunkSaver& Saver, shared::TBufferPool& Buffers) {
    QByteArray content;
    if (Item.Unpack) {
        try {
            content = shared::decompress(Body, Buffers.take(static_cast<qint64>(std::min<TFileSize>(
                                                   Item.UnpackedSize, std::numeric_limits<qint64>::max()))));
        } catch (const std::exception& error) {
            qWarning().noquote() << "unpacking " + urlText(Item.Url) + " failed: " + error.what();
            return TStageResult{false, QString::fromUtf8(error.what()), false, EStep::Unpack};
        }
        // The body is no longer needed once unpacked (a body that was no container is the content).
        Buffers.give(std::move(Body));
    } else {
        content = std::move(Body);
    }
    // The length is checked too: the content is written over exactly its declared length.
    if (static_cast<TFileSize>(content.size()) != Item.UnpackedSize ||
        shared::TSha256::hash(content) != Item.UnpackedHash) {
        qWarning().noquote() << "the content of " + urlText(Item.Url) + " does not have its hash";
        return TStageResult{false, QStringLiteral("invalid hash"), false, EStep::Check};
    }
    Saver.save(Item, content);
    Buffers.give(std::move(content));
    return TStageResult{true, QString(), false, EStep::Save};
}

void TPackageFileDownloader::runStage(TStageWork Work, TStageDone Done) {
    m_pStages->started();
    // The result comes back as a queued call rather than through a watcher object per chunk: Qt
    // sizes every watcher from the processor count, which it reads from the system each time, and
    // that cost the GUI thread more than the call itself.
    QThreadPool::globalInstance()->start(
        [this, stages = m_pStages, stop = m_pStop, Work = std::move(Work), Done = std::move(Done)] {
            const TStageResult result = runGuarded(Work, *stop);
            QMetaObject::invokeMethod(
                this, [Done, result] { Done(result); }, Qt::QueuedConnection);
            stages->finished();
        });
}

TPackageFileDownloader::TStageResult TPackageFileDownloader::runGuarded(const TStageWork& Work,
                                                                        const TStopRequest& Stop) {
    // Exceptions never leave the pool thread: a stage that throws reports failure. A stopped run
    // leaves its remaining stages undone, like a disk that refuses them.
    try {
        Stop.throwIfRequested();
        return Work();
    } catch (const TRunStopped& stopped) {
        return TStageResult{false, QString::fromUtf8(stopped.what()), true};
    } catch (const shared::TDiskError& error) {
        qCritical().noquote() << QStringLiteral("processDownloadedData stage failed: ") + error.what();
        return TStageResult{false, QString::fromUtf8(error.what()), true};
    } catch (const std::exception& error) {
        qWarning().noquote() << QStringLiteral("processDownloadedData stage failed: ") + error.what();
        return TStageResult{false, QString::fromUtf8(error.what()), false};
    } catch (...) {
        qWarning().noquote() << "processDownloadedData stage failed";
    }
    return TStageResult{};
}

void TPackageFileDownloader::onChunkProcessed(const QUrl& Url, const TStageResult& Result) {
    qInfo().noquote() << "processDownloadedData finished " + urlText(Url);
    if (Result.Succeeded) {
        processFinishedData(Url);
        return;
    }
    switch (Result.FailedStep) {
    case EStep::Unpack:
        onUnpackFailed(Url);
        break;
    case EStep::Check:
        onCheckFailed(Url);
        break;
    case EStep::Save:
        onSaveFailed(Url, Result);
        break;
    }
}

void TPackageFileDownloader::onUnpackFailed(const QUrl& Url) {
    qWarning().noquote() << "Failed to decompress file downloaded from " + urlText(Url);
    if (fetchFromNextAddress(Url)) {
        return;
    }
    m_pPool->releaseDownload(Url);
    if (findItem(m_Outstanding, Url) == m_Outstanding.end()) {
        return;
    }
    dropItem(Url);
    m_AtLeastOneDownloadFailed = true;
    emitFinishedSignalWhenNoMoreFilesAreOutstanding();
}

void TPackageFileDownloader::onCheckFailed(const QUrl& Url) {
    qWarning().noquote() << "Failed to verify file downloaded from " + urlText(Url);
    if (fetchFromNextAddress(Url)) {
        return;
    }
    m_pPool->releaseDownload(Url);
    retryOrGiveUp(Url, "Verify of " + urlText(Url) + " failed.", false);
    emitFinishedSignalWhenNoMoreFilesAreOutstanding();
}

bool TPackageFileDownloader::fetchFromNextAddress(const QUrl& Url) {
    if (findItem(m_Outstanding, Url) == m_Outstanding.end() || !m_pPool->rejectBody(Url)) {
        return false;
    }
    // Another server may hold the right content; asking it is no new attempt.
    qInfo().noquote() << "Fetching " + urlText(Url) + " from the next address";
    m_pPool->releaseDownload(Url);
    requestAgain(Url);
    return true;
}

void TPackageFileDownloader::onSaveFailed(const QUrl& Url, const TStageResult& Result) {
    qWarning().noquote() << "Failed to save file downloaded from " + urlText(Url) + ": " + Result.Error;
    if (m_ErrorText.isEmpty()) {
        m_ErrorText = Result.Error;
    }
    m_pPool->releaseDownload(Url);
    if (findItem(m_Outstanding, Url) == m_Outstanding.end()) {
        return;
    }
    dropItem(Url);
    m_AtLeastOneSavingOperationFailed = true;
    if (Result.DiskRefused) {
        stopAfterDiskFailure();
    }
    emitFinishedSignalWhenNoMoreFilesAreOutstanding();
}

void TPackageFileDownloader::stopAfterDiskFailure() {
    // A disk that refused one write refuses the next: fetching more chunks would only waste the
    // network. What was written stays for the next run to reuse.
    qCritical().noquote() << "saving stopped, the run ends: " + m_ErrorText;
    m_StoppedAfterDiskFailure = true;
    m_SeedQueue.clear();
    m_pPool->clearQueue();
    for (const TChunkToDownload& item : m_Outstanding) {
        m_pPool->releaseDownload(item.Url);
    }
    m_Outstanding.clear();
}

void TPackageFileDownloader::processFinishedData(const QUrl& Url) {
    qInfo().noquote() << "processFinishedData: " + urlText(Url);
    m_pPool->releaseDownload(Url);
    if (findItem(m_Outstanding, Url) == m_Outstanding.end()) {
        return;
    }
    qInfo().noquote() << "processFinishedData found: " + urlText(Url);
    dropItem(Url);
    emitFinishedSignalWhenNoMoreFilesAreOutstanding();
}

void TPackageFileDownloader::onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code,
                                              QString ErrorString) {
    qInfo().noquote() << "onDownloadFailed " + urlText(Url) + " (" + ErrorString +
                             ") Thread: " + currentThreadIdText();
    m_pPool->releaseDownload(Url);
    const auto found = findItem(m_Outstanding, Url);
    if (found == m_Outstanding.end()) {
        return;
    }
    // Only a connection that broke or went silent mid-transfer made progress; an answer with an
    // error status did not, whatever its error page held.
    const bool cutOff = Code > QNetworkReply::NoError && Code < QNetworkReply::ProxyConnectionRefusedError;
    retryOrGiveUp(Url, "Download of " + urlText(Url) + " failed: " + ErrorString,
                  cutOff && found->ReceivedBytes);
    emitFinishedSignalWhenNoMoreFilesAreOutstanding();
}

void TPackageFileDownloader::retryOrGiveUp(const QUrl& Url, const QString& FinalMessage, bool MadeProgress) {
    const auto found = findItem(m_Outstanding, Url);
    if (found == m_Outstanding.end()) {
        return;
    }
    const double jitter =
        double(shared::TRandomNumberGenerator::instance()->uniformUnsigned(0, 999)) / 1000.0;
    const TRetryDecision decision = decideRetry(found->RetryBudget, MadeProgress, m_RetryPause, jitter);
    if (!decision.Retry) {
        qCritical().noquote() << FinalMessage;
        if (m_ErrorText.isEmpty()) {
            m_ErrorText = FinalMessage;
        }
        dropItem(Url);
        m_AtLeastOneDownloadFailed = true;
        return;
    }
    qInfo().noquote() << "Retry " + urlText(Url) + " in " + QString::number(decision.PauseMs) +
                             " ms Thread: " + currentThreadIdText();
    // The item stays outstanding during the pause, so the run does not end meanwhile.
    QTimer::singleShot(decision.PauseMs, this, [this, Url] { requestAgain(Url); });
}

void TPackageFileDownloader::requestAgain(const QUrl& Url) {
    const auto found = findItem(m_Outstanding, Url);
    if (found == m_Outstanding.end()) {
        return;
    }
    found->ReceivedBytes = false;
    m_pPool->download(Url);
}

void TPackageFileDownloader::pause() {
    if (m_Running && !m_pPool->isPaused()) {
        qInfo().noquote() << "download paused Thread: " + currentThreadIdText();
        m_pPool->pause();
    }
}

void TPackageFileDownloader::resume() {
    if (m_pPool->isPaused()) {
        qInfo().noquote() << "download resumed Thread: " + currentThreadIdText();
        m_pPool->resume();
    }
}

bool TPackageFileDownloader::isPaused() const {
    return m_pPool->isPaused();
}

void TPackageFileDownloader::dropItem(const QUrl& Url) {
    const auto found = findItem(m_Outstanding, Url);
    if (found != m_Outstanding.end()) {
        m_Outstanding.erase(found);
    }
}

void TPackageFileDownloader::onDownloadProgress(QUrl Url, TFileSize DownloadedBytes) {
    const auto found = findItem(m_Outstanding, Url);
    if (found != m_Outstanding.end()) {
        m_DownloadedBytes[Url] = DownloadedBytes;
        found->ReceivedBytes = found->ReceivedBytes || DownloadedBytes > 0;
    }
}

void TPackageFileDownloader::onWriteProgress(QUrl Url, TFileSize DownloadedBytes) {
    const auto found = findItem(m_NotYetWritten, Url);
    if (found != m_NotYetWritten.end()) {
        m_WrittenBytes[Url] = DownloadedBytes;
        m_NotYetWritten.erase(found);
    }
}

void TPackageFileDownloader::onProgressTick() {
    const TFileSize downloaded = downloadedBytes();
    m_DownloadRate.add(downloaded - std::min(downloaded, m_PreviousDownloaded));
    m_PreviousDownloaded = downloaded;
    const TFileSize written = writtenBytes();
    m_WriteRate.add(written - std::min(written, m_PreviousWritten));
    m_PreviousWritten = written;
    for (TRateStatistic* rate : {&m_DownloadRate, &m_WriteRate}) {
        if (rate->count() > 30) {
            rate->restartFromMean();
        }
    }
    emitProgress();
}

void TPackageFileDownloader::emitFinishedSignalWhenNoMoreFilesAreOutstanding() {
    // Contents a sibling turned out not to hold keep the run going until they are downloaded.
    downloadAlteredSeeds();
    qInfo().noquote() << "emitFinishedSignalWhenNoMoreFilesAreOutstanding ActiveDownloads: " +
                             QString::number(m_pPool->activeDownloadCount()) +
                             " FilesInProgress: " + QString::number(m_Outstanding.size()) +
                             " AtLeastOneDownloadFailed " + QString::number(m_AtLeastOneDownloadFailed) +
                             " AtLeastOneSavingOperationFailed " +
                             QString::number(m_AtLeastOneSavingOperationFailed) +
                             " Thread: " + currentThreadIdText();
    if (!m_Outstanding.empty() || !m_Running) {
        return;
    }
    m_Running = false;
    m_DownloadRate.resetCount();
    m_WriteRate.resetCount();
    m_ProgressTimer.stop();
    emitProgress();
    logSeededBytes();
    m_pCache->clear();
    if (m_AtLeastOneDownloadFailed) {
        emit downloadFailed(EPackageDownloaderError::DownloadFailed);
    } else if (m_AtLeastOneSavingOperationFailed) {
        emit downloadFailed(EPackageDownloaderError::SavingFailed);
    } else if (!allFilesComplete()) {
        emit downloadFailed(EPackageDownloaderError::DownloadFailed);
    } else {
        emit downloadCompleted();
    }
}

bool TPackageFileDownloader::allFilesComplete() const {
    for (const std::shared_ptr<TChunkedFileState>& file : m_Files) {
        if (!file->isComplete()) {
            // Only a document that names one address for two different contents gets here: the
            // content that was never fetched leaves the file unfinished.
            qCritical().noquote() << "file " + file->LocalFile + " could not be completed";
            return false;
        }
    }
    return true;
}

void TPackageFileDownloader::emitProgress() {
    TFileSize totalUnpacked = 0;
    for (const TChunkToDownload& item : m_Requests) {
        totalUnpacked += item.UnpackedSize;
    }
    emit progress(downloadedBytes(), totalBytesToDownload(), writtenBytes(), totalUnpacked);
}

TFileSize TPackageFileDownloader::totalBytesToDownload() const {
    TFileSize totalPacked = 0;
    for (const TChunkToDownload& item : m_Requests) {
        if (!m_SeededUrls.contains(urlText(item.Url))) {
            totalPacked += item.PackedSize;
        }
    }
    return totalPacked;
}

TFileSize TPackageFileDownloader::downloadedBytes() const {
    TFileSize sum = 0;
    for (const auto& [url, bytes] : m_DownloadedBytes) {
        sum += bytes;
    }
    return sum;
}

TFileSize TPackageFileDownloader::writtenBytes() const {
    TFileSize sum = 0;
    for (const auto& [url, bytes] : m_WrittenBytes) {
        sum += bytes;
    }
    return sum;
}

std::vector<TChunkToDownload>::iterator TPackageFileDownloader::findItem(std::vector<TChunkToDownload>& Items,
                                                                         const QUrl& Url) {
    const auto found = std::lower_bound(Items.begin(), Items.end(), Url, comesBefore);
    if (found == Items.end() || found->Url != Url) {
        return Items.end();
    }
    return found;
}

void TPackageFileDownloader::sortByUrl(std::vector<TChunkToDownload>& Items) {
    std::sort(Items.begin(), Items.end(),
              [](const TChunkToDownload& A, const TChunkToDownload& B) { return A.Url < B.Url; });
}

} // namespace mirrel::launcher
