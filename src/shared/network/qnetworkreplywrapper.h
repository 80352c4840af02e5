#pragma once

#include <QElapsedTimer>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>

namespace shared {

// The engine's only view of one reply. The wrapper is a child of its reply;
// deleting the wrapper frees the reply as well, so whoever is done with a
// wrapper (the download pool after reporting it) leaves nothing behind.
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

signals:
    void error(QNetworkReply::NetworkError code);
    void finished();
    void progress(qlonglong BytesReceivedFromRequest);

private:
    void onReplyFinished();
    void onReplyReadyRead();
    void onReplyProgress(qint64 Received);
    void onReplyError(QNetworkReply::NetworkError Code);
    void reportArrivedBytes();
    bool isBodyCutShort() const;
    bool hasStalled() const;
    // The body bytes that came so far: those read into the body buffer and those still waiting.
    qint64 receivedBytes() const;

    QPointer<QNetworkReply> m_pReply;
    // What was read of the body so far; without a body buffer, the body stays in the reply until
    // readAll().
    QByteArray m_body;
    bool m_readsAsItArrives = false;
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
};

} // namespace shared
