#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>

#include <memory>

namespace shared {

class TRateLimiter;

// The engine's only view of one reply. The wrapper is a child of its reply;
// deleting the wrapper frees the reply as well, so whoever is done with a
// wrapper (the download pool after reporting it) leaves nothing behind.
//
// With a rate limiter the body is taken out of the reply as it arrives, as fast as the limiter
// allows; without one it stays in the reply until the end. Either way a transfer that is given up
// hands over what came so far, for a later range request.
class QNetworkReplyWrapper : public QObject {
    Q_OBJECT
public:
    // A null reply gives a wrapper without parent and without notifications.
    explicit QNetworkReplyWrapper(QNetworkReply* pReply);
    ~QNetworkReplyWrapper() override;

    virtual QNetworkReply::NetworkError error() const;
    virtual QString errorString() const;
    virtual QByteArray readAll();
    // The address that was asked for, not the one reached after redirects.
    virtual QUrl url() const;
    // A body that grows beyond this many bytes is cut off at once and the transfer fails; without
    // a limit an endless stream would fill the memory.
    virtual void setMaximumBodySize(qint64 Bytes);
    // From now on the body is read into this buffer as it arrives (an empty one with room for the
    // expected size, taken from a shared::TBufferPool), so a large body fills memory that is there
    // already instead of piling up in pieces that are joined at the end.
    void setBodyBuffer(QByteArray Buffer);
    // Reads go through the limiter; a transfer that goes first never waits for it.
    void setRateLimiter(std::shared_ptr<TRateLimiter> pLimiter, bool GoesFirst);
    // The request asked for the rest of a body whose first bytes are these; the answer is taken as
    // that rest only when the server confirms the range, else as the whole body.
    void setResumedPrefix(const QByteArray& Prefix);
    // Whether the server said it serves byte ranges of this body.
    bool acceptsRanges() const { return m_AcceptsRanges; }
    // What arrived of the whole body so far, a confirmed prefix included.
    QByteArray receivedBody();
    // Ends the transfer without a word: the wrapper's owner has given it up.
    void abandon();

signals:
    void error(QNetworkReply::NetworkError code);
    void finished();
    void progress(qlonglong BytesReceivedFromRequest);

private:
    void onReplyFinished();
    void onReplyReadyRead();
    void onReplyMetaData();
    void onReplyError(QNetworkReply::NetworkError Code);
    void drain(bool Everything);
    void waitForTokens();
    void finishWhenDrained();
    void finish();
    bool isThrottled() const;
    bool isBodyCutShort() const;
    bool hasStalled() const;
    qint64 prefixSize() const;

    QPointer<QNetworkReply> m_pReply;
    // Set when the connection ended before the body announced by Content-Length
    // arrived although the network layer saw no error.
    bool m_bodyCutShort = false;
    qint64 m_maximumBodySize = -1; // no limit
    // Set when this wrapper aborted the transfer because the body outgrew its limit.
    bool m_bodyTooLarge = false;
    qint64 m_reportedBytes = 0;
    // Set when the network layer gave up on a transfer that stayed silent too long.
    bool m_stalled = false;
    // Since the last headers or body bytes arrived.
    QElapsedTimer m_lastArrival;
    QByteArray m_Body;
    bool m_readsAsItArrives = false;
    QByteArray m_ResumedPrefix;
    bool m_PrefixConfirmed = false;
    bool m_AcceptsRanges = false;
    std::shared_ptr<TRateLimiter> m_pRateLimiter;
    bool m_GoesFirst = true;
    bool m_WaitingForTokens = false;
    bool m_ReplyFinished = false;
    bool m_FinishReported = false;
};

} // namespace shared
