#include "shared/network/downloadpool.h"

#include "shared/container/bufferpool.h"

#include "shared/network/mirrorset.h"
#include "shared/network/networkmetatypes.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/network/qnetworkreplywrapper.h"
#include "shared/network/ratelimiter.h"

#include <QNetworkRequest>
#include <QtDebug>

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
    while (!m_Paused && !m_queue.empty() && activeDownloadCount() < maxConcurrentDownloads()) {
        const QUrl next = m_queue.front();
        m_queue.pop_front();
        m_queued.remove(next);
        startDownload(next);
    }
}

void TDownloadPool::startDownload(const QUrl& Url) {
    m_Served.remove(Url);
    auto round = m_Rounds.find(Url);
    if (round == m_Rounds.end()) {
        const QList<QUrl> addresses = m_pMirrors ? m_pMirrors->addressesFor(Url) : QList<QUrl>{Url};
        round = m_Rounds.insert(Url, TRound{addresses, 0, {}});
    }
    const QUrl address = round->Addresses.value(round->Position, Url);
    QNetworkRequest request(address);
    const QByteArray partial = m_PartialBodies.take(Url);
    if (!partial.isEmpty())
        request.setRawHeader("Range", "bytes=" + QByteArray::number(partial.size()) + '-');
    QNetworkReplyWrapper* pReply = m_pAccessManager->get(request);
    const auto expected = m_expectedBodySizes.constFind(Url);
    pReply->setMaximumBodySize(expected != m_expectedBodySizes.constEnd() ? *expected : m_maximumBodySize);
    if (m_pBuffers && expected != m_expectedBodySizes.constEnd())
        pReply->setBodyBuffer(m_pBuffers->take(*expected));
    pReply->setRateLimiter(m_pRateLimiter, m_GoesFirst);
    pReply->setResumedPrefix(partial);
    connect(pReply, &QNetworkReplyWrapper::finished, this,
            [this, Url, pReply] { onDownloadFinished(Url, pReply); });
    connect(pReply, qOverload<QNetworkReply::NetworkError>(&QNetworkReplyWrapper::error), this,
            [this, Url, pReply] { onDownloadError(Url, pReply); });
    connect(pReply, &QNetworkReplyWrapper::progress, this,
            [this, Url](qlonglong received) { emit progress(Url, received); });
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

void TDownloadPool::onDownloadFinished(const QUrl& Url, QNetworkReplyWrapper* pReply) {
    if (!isActiveReply(Url, pReply))
        return;
    if (pReply->error() != QNetworkReply::NoError && tryNextAddress(Url, pReply))
        return;
    if (m_autoRelease)
        m_activeDownloads.remove(Url);
    reportResult(Url, pReply);
    if (m_autoRelease)
        startWhatWeMay();
}

void TDownloadPool::onDownloadError(const QUrl& Url, QNetworkReplyWrapper* pReply) {
    if (!isActiveReply(Url, pReply))
        return;
    if (tryNextAddress(Url, pReply))
        return;
    if (m_autoRelease)
        m_activeDownloads.remove(Url);
    emit failed(Url, pReply->error(), failureText(Url, pReply->errorString()));
    if (m_autoRelease)
        startWhatWeMay();
}

bool TDownloadPool::isWorthAnotherAddress(QNetworkReply::NetworkError Code) {
    // The connection failed (refused, reset, silent), the body outgrew its size or made no sense, or
    // the server failed: another copy may do better. A refusal of the content itself (not found,
    // access denied) is the same everywhere.
    return (Code > QNetworkReply::NoError && Code < QNetworkReply::ProxyConnectionRefusedError) ||
           Code == QNetworkReply::UnknownContentError || Code == QNetworkReply::ProtocolFailure ||
           (Code >= QNetworkReply::InternalServerError && Code <= QNetworkReply::UnknownServerError);
}

bool TDownloadPool::tryNextAddress(const QUrl& Url, QNetworkReplyWrapper* pReply) {
    const auto round = m_Rounds.find(Url);
    if (round == m_Rounds.end())
        return false;
    const QUrl address = round->Addresses.value(round->Position);
    round->Tried.append(address.toString() + QStringLiteral(" (") + pReply->errorString() + QLatin1Char(')'));
    if (m_pMirrors)
        m_pMirrors->recordFailure(address);
    if (!isWorthAnotherAddress(pReply->error()) || round->Position + 1 >= round->Addresses.size())
        return false;
    ++round->Position;
    qInfo().noquote() << "Download of " + address.toString() + " failed (" + pReply->errorString() +
                             "); trying " + round->Addresses.at(round->Position).toString();
    // The failed reply's remaining notifications find another reply active and are ignored.
    m_activeDownloads.remove(Url);
    startDownload(Url);
    return true;
}

QString TDownloadPool::failureText(const QUrl& Url, const QString& ErrorString) {
    const TRound round = m_Rounds.take(Url);
    // A single address is named by the URL itself.
    if (round.Addresses.size() < 2)
        return ErrorString;
    return ErrorString + QStringLiteral("; addresses tried: ") + round.Tried.join(QStringLiteral(", "));
}

bool TDownloadPool::rejectBody(const QUrl& Url) {
    const auto served = m_Served.find(Url);
    if (served == m_Served.end())
        return false;
    TRound round = served.value();
    m_Served.erase(served);
    const QUrl address = round.Addresses.value(round.Position);
    if (m_pMirrors)
        m_pMirrors->recordFailure(address);
    round.Tried.append(address.toString() + QStringLiteral(" (wrong content)"));
    if (round.Position + 1 >= round.Addresses.size())
        return false;
    ++round.Position;
    m_Rounds.insert(Url, round);
    return true;
}

void TDownloadPool::setMirrors(std::shared_ptr<TMirrorSet> pMirrors) {
    m_pMirrors = std::move(pMirrors);
}

void TDownloadPool::setRateLimiter(std::shared_ptr<TRateLimiter> pLimiter, bool GoesFirst) {
    m_pRateLimiter = std::move(pLimiter);
    m_GoesFirst = GoesFirst;
}

void TDownloadPool::pause() {
    if (m_Paused)
        return;
    m_Paused = true;
    std::deque<QUrl> interrupted;
    for (auto active = m_activeDownloads.begin(); active != m_activeDownloads.end();) {
        QNetworkReplyWrapper* pReply = active.value();
        // A reply that was reported already is being processed by the owner; it keeps its slot.
        if (pReply->property("reported").toBool()) {
            ++active;
            continue;
        }
        const QByteArray received = pReply->receivedBody();
        if (pReply->acceptsRanges() && !received.isEmpty())
            m_PartialBodies.insert(active.key(), received);
        disconnect(pReply, nullptr, this, nullptr);
        pReply->abandon();
        interrupted.push_back(active.key());
        active = m_activeDownloads.erase(active);
    }
    m_queue.insert(m_queue.begin(), interrupted.begin(), interrupted.end());
}

void TDownloadPool::resume() {
    if (!m_Paused)
        return;
    m_Paused = false;
    startWhatWeMay();
}

void TDownloadPool::reportResult(const QUrl& Url, QNetworkReplyWrapper* pReply) {
    pReply->setProperty("reported", true);
    const QNetworkReply::NetworkError code = pReply->error();
    if (code != QNetworkReply::NoError) {
        emit failed(Url, code, failureText(Url, pReply->errorString()));
        return;
    }
    const TRound round = m_Rounds.take(Url);
    if (m_pMirrors)
        m_pMirrors->recordSuccess(round.Addresses.value(round.Position));
    m_Served.insert(Url, round);
    emit success(Url, pReply->readAll());
}

} // namespace shared
