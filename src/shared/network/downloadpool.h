#pragma once

#include "shared/network/networkaccessmanagerauthenticationhandler.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QNetworkReply>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <memory>

class QAbstractNetworkCache;

namespace shared {

class QNetworkAccessManagerWrapper;
class QNetworkReplyWrapper;
class TBufferPool;
class TMirrorSet;
class TRateLimiter;

// Downloads URLs with at most a given number in flight; the rest wait in
// first-in first-out order. Each URL's result is one success (the whole body)
// or failed (the network layer's code and text).
//
// With auto release a URL frees its slot as soon as its result is reported.
// With manual release the slot stays taken until releaseDownload(), so bodies
// that were handed out but not yet processed never exceed the limit.
//
// No body is read into memory beyond a limit: 64 MiB by default (documents), or
// the size a URL is known to have (chunks); a transfer whose body outgrows it
// fails at once.
// A transfer that receives nothing for the stall time-out (30 s unless set)
// fails as well, so no silent server holds a slot forever.
//
// With a mirror set, a URL below the main server's base may be served by any mirror: a transfer that
// fails on the way (refused, reset, silent, an oversized body or a server error) moves on to the
// next address at once, and only when every address has failed is the URL reported failed, with
// the addresses that were tried. Results are always reported under the URL that was asked for.
//
// Paused, the pool starts nothing and gives up the transfers in flight; what they received stays
// for a range request when the server serves ranges, and they come first when it resumes.
class TDownloadPool : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 DefaultMaximumBodySize = qint64(64) << 20;

    TDownloadPool(int maxConcurrentDownloads, std::shared_ptr<QNetworkAccessManagerWrapper> accessManager,
                  QObject* parent = nullptr, bool autoRelease = true);
    ~TDownloadPool() override;

    // Queues the URL at the back (or moves it there when it is waiting already).
    // An active URL is never queued a second time.
    virtual void download(const QUrl& Url);
    // As download(), but at the front of the queue.
    virtual void downloadFirst(const QUrl& Url);
    virtual void setMaxConcurrentDownloads(int Max);
    virtual int maxConcurrentDownloads() const;
    virtual int activeDownloadCount() const;
    // Active plus queued.
    virtual int outstandingDownloadCount() const;
    virtual void setCache(QAbstractNetworkCache* pCache);
    // Frees the slot of an active URL; the transfer itself is not aborted.
    virtual void releaseDownload(const QUrl& Url);
    // Forgets the URLs that wait for a slot; active ones go on.
    virtual void clearQueue();
    // Milliseconds without a received byte after which a transfer fails.
    void setTransferStallTimeout(int Milliseconds);
    // The limit for bodies of URLs without one of their own.
    void setMaximumBodySize(qint64 Bytes);
    // The body of this URL may not be larger than Bytes; a size of 0 or less means unknown.
    void setExpectedBodySize(const QUrl& Url, qint64 Bytes);
    // Bodies of a known size are read into buffers taken from Buffers; whoever is done with a
    // reported body may give it back there.
    void setBufferPool(std::shared_ptr<TBufferPool> Buffers);
    void setMirrors(std::shared_ptr<TMirrorSet> pMirrors);
    const std::shared_ptr<TMirrorSet>& mirrors() const { return m_pMirrors; }
    // Every transfer reads through the limiter; with GoesFirst (documents) it never waits for it.
    void setRateLimiter(std::shared_ptr<TRateLimiter> pLimiter, bool GoesFirst);
    // The owner found the last body of Url bad (a wrong hash): the address that served it counts
    // as failed. True when another address is left for this URL; a download() then fetches it from
    // there.
    bool rejectBody(const QUrl& Url);
    void pause();
    void resume();
    bool isPaused() const { return m_Paused; }

signals:
    void success(QUrl url, QByteArray data);
    void failed(QUrl url, QNetworkReply::NetworkError code, QString errorString);
    void progress(QUrl Url, qlonglong BytesReceivedFromRequest);

private:
    // The addresses of one request of a URL, tried in order, and what each answered.
    struct TRound {
        QList<QUrl> Addresses;
        int Position = 0;
        QStringList Tried;
    };

    void enqueue(const QUrl& Url, bool atFront);
    static bool isWorthAnotherAddress(QNetworkReply::NetworkError Code);
    bool tryNextAddress(const QUrl& Url, QNetworkReplyWrapper* pReply);
    QString failureText(const QUrl& Url, const QString& ErrorString);
    void startWhatWeMay();
    void startDownload(const QUrl& Url);
    void onDownloadFinished(const QUrl& Url, QNetworkReplyWrapper* pReply);
    void onDownloadError(const QUrl& Url, QNetworkReplyWrapper* pReply);
    bool isActiveReply(const QUrl& Url, const QNetworkReplyWrapper* pReply) const;
    void reportResult(const QUrl& Url, QNetworkReplyWrapper* pReply);

    std::shared_ptr<QNetworkAccessManagerWrapper> m_pAccessManager;
    QMap<QUrl, QNetworkReplyWrapper*> m_activeDownloads;
    int m_maxConcurrentDownloads;
    std::deque<QUrl> m_queue;
    // The URLs in m_queue, so that queueing thousands of them stays linear.
    QSet<QUrl> m_queued;
    TNetworkAccessManagerAuthenticationHandler m_authenticationHandler;
    const bool m_autoRelease;
    qint64 m_maximumBodySize = DefaultMaximumBodySize;
    QMap<QUrl, qint64> m_expectedBodySizes;
    std::shared_ptr<TBufferPool> m_pBuffers;
    std::shared_ptr<TMirrorSet> m_pMirrors;
    std::shared_ptr<TRateLimiter> m_pRateLimiter;
    bool m_GoesFirst = true;
    QMap<QUrl, TRound> m_Rounds;
    // The round whose address delivered the last body of a URL, until the owner accepts or
    // rejects it.
    QMap<QUrl, TRound> m_Served;
    // Bodies received in part before a pause; the URL's round keeps the address they came from.
    QMap<QUrl, QByteArray> m_PartialBodies;
    bool m_Paused = false;
};

} // namespace shared
