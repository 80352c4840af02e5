#include "shared/network/downloadpool.h"

#include "shared/container/bufferpool.h"

#include "shared/network/networkmetatypes.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/network/qnetworkreplywrapper.h"

#include <QNetworkRequest>

#include <algorithm>

namespace shared {

TDownloadPool::TDownloadPool(int maxConcurrentDownloads,
                             std::shared_ptr<QNetworkAccessManagerWrapper> accessManager, QObject* parent,
                             bool autoRelease)
    : QObject(parent)
    , m_pAccessManager(std::move(accessManager))
    , m_maxConcurrentDownloads(maxConcurrentDownloads)
    , m_autoRelease(autoRelease) {
    registerNetworkMetaTypes();
    if (m_pAccessManager)
        m_pAccessManager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

// Transfers still in flight are not aborted; their replies free themselves
// when they finish.
TDownloadPool::~TDownloadPool() = default;

void TDownloadPool::download(const QUrl& Url) {
    // The encoded form: a space or bracket in a path is fine on the wire, and
    // the decoded text would fail the strict parse for no reason.
    const QUrl strict(QString::fromUtf8(Url.toEncoded()), QUrl::StrictMode);
    if (!strict.isValid() || strict.isRelative())
        emit failed(Url, QNetworkReply::ProtocolInvalidOperationError, QStringLiteral("Invalid URL"));
    enqueue(Url, false);
}

void TDownloadPool::downloadFirst(const QUrl& Url) {
    enqueue(Url, true);
}

void TDownloadPool::setMaxConcurrentDownloads(int Max) {
    m_maxConcurrentDownloads = Max;
    if (Max > 0)
        startWhatWeMay();
}

int TDownloadPool::maxConcurrentDownloads() const {
    return m_maxConcurrentDownloads;
}

int TDownloadPool::activeDownloadCount() const {
    return m_activeDownloads.size();
}

int TDownloadPool::outstandingDownloadCount() const {
    return m_activeDownloads.size() + int(m_queue.size());
}

void TDownloadPool::setCache(QAbstractNetworkCache* pCache) {
    if (m_pAccessManager)
        m_pAccessManager->setCache(pCache);
}

void TDownloadPool::releaseDownload(const QUrl& Url) {
    if (m_activeDownloads.remove(Url) > 0)
        startWhatWeMay();
}

void TDownloadPool::clearQueue() {
    m_queue.clear();
    m_queued.clear();
}

void TDownloadPool::setTransferStallTimeout(int Milliseconds) {
    if (m_pAccessManager)
        m_pAccessManager->setTransferStallTimeout(Milliseconds);
}

void TDownloadPool::setMaximumBodySize(qint64 Bytes) {
    m_maximumBodySize = Bytes;
}

void TDownloadPool::setExpectedBodySize(const QUrl& Url, qint64 Bytes) {
    if (Bytes > 0)
        m_expectedBodySizes.insert(Url, Bytes);
    else
        m_expectedBodySizes.remove(Url);
}

void TDownloadPool::setBufferPool(std::shared_ptr<TBufferPool> Buffers) {
    m_pBuffers = std::move(Buffers);
}

void TDownloadPool::enqueue(const QUrl& Url, bool atFront) {
    const bool wasQueued = m_queued.contains(Url);
    if (wasQueued)
        m_queue.erase(std::find(m_queue.begin(), m_queue.end(), Url));
    if (!wasQueued && m_activeDownloads.contains(Url))
        return;
    m_queued.insert(Url);
    if (atFront)
        m_queue.push_front(Url);
    else
        m_queue.push_back(Url);
    startWhatWeMay();
}

void TDownloadPool::startWhatWeMay() {
    while (!m_queue.empty() && activeDownloadCount() < maxConcurrentDownloads()) {
        const QUrl next = m_queue.front();
        m_queue.pop_front();
        m_queued.remove(next);
        startDownload(next);
    }
}

void TDownloadPool::startDownload(const QUrl& Url) {
    QNetworkReplyWrapper* pReply = m_pAccessManager->get(QNetworkRequest(Url));
    const auto expected = m_expectedBodySizes.constFind(Url);
    pReply->setMaximumBodySize(expected != m_expectedBodySizes.constEnd() ? *expected : m_maximumBodySize);
    if (m_pBuffers && expected != m_expectedBodySizes.constEnd())
        pReply->setBodyBuffer(m_pBuffers->take(*expected));
    connect(pReply, &QNetworkReplyWrapper::finished, this, [this, pReply] { onDownloadFinished(pReply); });
    connect(pReply, qOverload<QNetworkReply::NetworkError>(&QNetworkReplyWrapper::error), this,
            [this, pReply] { onDownloadError(pReply); });
    connect(pReply, &QNetworkReplyWrapper::progress, this,
            [this, pReply](qlonglong received) { onDownloadProgress(pReply, received); });
    // Freed once finished even when nobody reports it any more (a failure that
    // was reported already, or a pool that is gone).
    connect(pReply, &QNetworkReplyWrapper::finished, pReply, &QObject::deleteLater);
    m_activeDownloads.insert(Url, pReply);
}

bool TDownloadPool::isActiveReply(const QUrl& Url, const QNetworkReplyWrapper* pReply) const {
    // A reply whose URL was released and requested again is no longer the one
    // its URL stands for; its late notifications must not be taken for the
    // new transfer's result.
    const auto active = m_activeDownloads.constFind(Url);
    return active != m_activeDownloads.constEnd() && active.value() == pReply;
}

void TDownloadPool::onDownloadFinished(QNetworkReplyWrapper* pReply) {
    const QUrl url = pReply->url();
    if (!isActiveReply(url, pReply))
        return;
    if (m_autoRelease)
        m_activeDownloads.remove(url);
    reportResult(url, pReply);
    if (m_autoRelease)
        startWhatWeMay();
}

void TDownloadPool::onDownloadError(QNetworkReplyWrapper* pReply) {
    const QUrl url = pReply->url();
    if (!isActiveReply(url, pReply))
        return;
    if (m_autoRelease)
        m_activeDownloads.remove(url);
    emit failed(url, pReply->error(), pReply->errorString());
    if (m_autoRelease)
        startWhatWeMay();
}

void TDownloadPool::onDownloadProgress(QNetworkReplyWrapper* pReply, qlonglong BytesReceivedFromRequest) {
    emit progress(pReply->url(), BytesReceivedFromRequest);
}

void TDownloadPool::reportResult(const QUrl& Url, QNetworkReplyWrapper* pReply) {
    const QNetworkReply::NetworkError code = pReply->error();
    if (code != QNetworkReply::NoError)
        emit failed(Url, code, pReply->errorString());
    else
        emit success(Url, pReply->readAll());
}

} // namespace shared
