#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrl>

class QTcpServer;
class QTcpSocket;

namespace testsupport {

// What the scripted server does to one answer beyond sending it plainly.
enum class EScriptedFault {
    None,
    ResetMidBody,       // sends the headers and faultOffset body bytes, then a TCP reset
    CloseMidBody,       // same, but closes the connection normally (a short body)
    StallBeforeHeaders, // reads the request and never answers
    StallMidBody,       // sends the headers and faultOffset body bytes, then nothing more
};

struct TScriptedAnswer {
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers; // sent in addition to Content-Length
    int delayBeforeHeadersMs = 0;
    int delayMidBodyMs = 0; // pause after faultOffset body bytes, then the rest follows
    EScriptedFault fault = EScriptedFault::None;
    qint64 faultOffset = -1; // body bytes sent before a pause or fault; -1: half the body

    static TScriptedAnswer ok(const QByteArray& body) { return withStatus(200, body); }
    static TScriptedAnswer withStatus(int status, const QByteArray& body = QByteArray());
    static TScriptedAnswer faulty(EScriptedFault fault, const QByteArray& body, qint64 offset = -1);
};

struct TRecordedRequest {
    QByteArray method;
    QByteArray target;                    // path and query as sent
    QString path;                         // decoded path without query
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// A small HTTP/1.1 server on 127.0.0.1 for what nginx cannot do on demand:
// answers scripted per path (fixed statuses, a sequence such as "twice 503, then
// 200", delays, resets, stalls), and a record of every request with its headers
// and body. Paths without a script get 404. Keep-alive connections are served
// one request after the other, as clients send them.
class TScriptedHttpServer : public QObject {
    Q_OBJECT
public:
    explicit TScriptedHttpServer(QObject* parent = nullptr);
    ~TScriptedHttpServer() override;

    bool start();
    quint16 port() const;
    QUrl url(const QString& pathAndQuery) const;

    // Every request for the path gets this answer.
    void setAnswer(const QString& path, const TScriptedAnswer& answer);
    // The n-th request gets the n-th answer; the last one repeats.
    void setAnswerSequence(const QString& path, const QList<TScriptedAnswer>& answers);
    // "failures times status, then body with 200"
    void setFailThenSucceed(const QString& path, int failures, int status, const QByteArray& body);

    QList<TRecordedRequest> requests() const { return m_requests; }
    QList<TRecordedRequest> requestsFor(const QString& path) const;
    int requestCount(const QString& path) const;
    int totalRequestCount() const { return m_requests.size(); }
    // Drops every open connection (stalled ones included).
    void closeAllConnections();

    // While held, requests are recorded but not answered, so a test decides
    // when each transfer ends. Releasing answers the oldest held requests first.
    void setHoldAnswers(bool hold) { m_holdAnswers = hold; }
    int heldAnswerCount() const { return m_heldAnswers.size(); }
    void releaseHeldAnswers(int count = -1);

signals:
    void requestReceived(const QString& path);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket* pSocket);
    bool takeRequest(QByteArray& buffer, TRecordedRequest& request) const;
    TScriptedAnswer nextAnswer(const QString& path);
    void answer(QTcpSocket* pSocket, const TScriptedAnswer& answer);
    void sendHeadersAndBody(QTcpSocket* pSocket, const TScriptedAnswer& answer);

    QTcpServer* m_pServer;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QHash<QString, QList<TScriptedAnswer>> m_scripts;
    QHash<QString, int> m_answered;
    QList<TRecordedRequest> m_requests;
    QList<QPair<QPointer<QTcpSocket>, TScriptedAnswer>> m_heldAnswers;
    bool m_holdAnswers = false;
};

} // namespace testsupport
