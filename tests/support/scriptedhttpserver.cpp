#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

#include <sys/socket.h>

namespace testsupport {

namespace {

const QByteArray HeaderEnd = QByteArrayLiteral("\r\n\r\n");

QByteArray reasonPhrase(int status) {
    static const QHash<int, QByteArray> phrases = {{200, "OK"},
                                                   {301, "Moved Permanently"},
                                                   {302, "Found"},
                                                   {400, "Bad Request"},
                                                   {403, "Forbidden"},
                                                   {404, "Not Found"},
                                                   {500, "Internal Server Error"},
                                                   {503, "Service Unavailable"}};
    return phrases.value(status, QByteArrayLiteral("Status"));
}

// A close with a zero linger time makes the kernel send RST instead of FIN.
void resetConnection(QTcpSocket* pSocket) {
    const linger hardClose{1, 0};
    ::setsockopt(int(pSocket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hardClose, sizeof(hardClose));
    pSocket->abort();
}

} // namespace

TScriptedAnswer TScriptedAnswer::withStatus(int status, const QByteArray& body) {
    TScriptedAnswer answer;
    answer.status = status;
    answer.body = body;
    return answer;
}

TScriptedAnswer TScriptedAnswer::faulty(EScriptedFault fault, const QByteArray& body, qint64 offset) {
    TScriptedAnswer answer = ok(body);
    answer.fault = fault;
    answer.faultOffset = offset;
    return answer;
}

TScriptedHttpServer::TScriptedHttpServer(QObject* parent)
    : QObject(parent)
    , m_pServer(new QTcpServer(this)) {
    connect(m_pServer, &QTcpServer::newConnection, this, &TScriptedHttpServer::onNewConnection);
}

TScriptedHttpServer::~TScriptedHttpServer() {
    closeAllConnections();
}

bool TScriptedHttpServer::start() {
    return m_pServer->listen(QHostAddress::LocalHost, 0);
}

quint16 TScriptedHttpServer::port() const {
    return m_pServer->serverPort();
}

QUrl TScriptedHttpServer::url(const QString& pathAndQuery) const {
    const QString relative = pathAndQuery.startsWith(u'/') ? pathAndQuery.mid(1) : pathAndQuery;
    return QUrl(u"http://127.0.0.1:%1/%2"_qs.arg(port()).arg(relative));
}

void TScriptedHttpServer::setAnswer(const QString& path, const TScriptedAnswer& answer) {
    setAnswerSequence(path, {answer});
}

void TScriptedHttpServer::setAnswerSequence(const QString& path, const QList<TScriptedAnswer>& answers) {
    m_scripts.insert(path, answers);
    m_answered.remove(path);
}

void TScriptedHttpServer::setFailThenSucceed(const QString& path, int failures, int status,
                                             const QByteArray& body) {
    QList<TScriptedAnswer> answers;
    for (int i = 0; i < failures; ++i)
        answers.append(TScriptedAnswer::withStatus(status));
    answers.append(TScriptedAnswer::ok(body));
    setAnswerSequence(path, answers);
}

QList<TRecordedRequest> TScriptedHttpServer::requestsFor(const QString& path) const {
    QList<TRecordedRequest> matching;
    std::copy_if(m_requests.cbegin(), m_requests.cend(), std::back_inserter(matching),
                 [&path](const TRecordedRequest& request) { return request.path == path; });
    return matching;
}

int TScriptedHttpServer::requestCount(const QString& path) const {
    return requestsFor(path).size();
}

void TScriptedHttpServer::closeAllConnections() {
    const QList<QTcpSocket*> sockets = m_buffers.keys();
    m_buffers.clear();
    for (QTcpSocket* pSocket : sockets) {
        pSocket->abort();
        pSocket->deleteLater();
    }
}

void TScriptedHttpServer::onNewConnection() {
    while (QTcpSocket* pSocket = m_pServer->nextPendingConnection()) {
        m_buffers.insert(pSocket, QByteArray());
        connect(pSocket, &QTcpSocket::readyRead, this, [this, pSocket] { onReadyRead(pSocket); });
        connect(pSocket, &QTcpSocket::disconnected, this, [this, pSocket] {
            if (m_buffers.remove(pSocket) > 0)
                pSocket->deleteLater();
        });
    }
}

void TScriptedHttpServer::onReadyRead(QTcpSocket* pSocket) {
    auto buffer = m_buffers.find(pSocket);
    if (buffer == m_buffers.end())
        return;
    buffer->append(pSocket->readAll());
    TRecordedRequest request;
    // A client sends its next request only after the answer to the previous
    // one, so one complete request at a time is enough.
    if (!takeRequest(*buffer, request))
        return;
    m_requests.append(request);
    const TScriptedAnswer scripted = nextAnswer(request.path);
    if (m_holdAnswers)
        m_heldAnswers.append(qMakePair(QPointer<QTcpSocket>(pSocket), scripted));
    else
        answer(pSocket, scripted);
    emit requestReceived(request.path);
}

void TScriptedHttpServer::releaseHeldAnswers(int count) {
    for (int released = 0; !m_heldAnswers.isEmpty() && released != count; ++released) {
        const auto held = m_heldAnswers.takeFirst();
        if (held.first)
            answer(held.first, held.second);
    }
}

bool TScriptedHttpServer::takeRequest(QByteArray& buffer, TRecordedRequest& request) const {
    const int headerEnd = buffer.indexOf(HeaderEnd);
    if (headerEnd < 0)
        return false;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.target = requestLine.value(1);
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines.at(i).indexOf(':');
        if (colon > 0)
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(),
                                   lines.at(i).mid(colon + 1).trimmed());
    }
    const int bodySize = request.headers.value(QByteArrayLiteral("content-length")).toInt();
    const int requestSize = headerEnd + HeaderEnd.size() + bodySize;
    if (buffer.size() < requestSize)
        return false;
    request.body = buffer.mid(headerEnd + HeaderEnd.size(), bodySize);
    request.path = QUrl::fromEncoded(QByteArrayLiteral("http://host") + request.target).path();
    buffer.remove(0, requestSize);
    return true;
}

TScriptedAnswer TScriptedHttpServer::nextAnswer(const QString& path) {
    const auto script = m_scripts.constFind(path);
    if (script == m_scripts.constEnd() || script->isEmpty())
        return TScriptedAnswer::withStatus(404, QByteArrayLiteral("not scripted"));
    const int index = m_answered[path]++;
    return script->value(qMin(index, script->size() - 1));
}

void TScriptedHttpServer::answer(QTcpSocket* pSocket, const TScriptedAnswer& answer) {
    if (answer.fault == EScriptedFault::StallBeforeHeaders)
        return;
    if (answer.delayBeforeHeadersMs > 0) {
        QTimer::singleShot(answer.delayBeforeHeadersMs, pSocket,
                           [this, pSocket, answer] { sendHeadersAndBody(pSocket, answer); });
        return;
    }
    sendHeadersAndBody(pSocket, answer);
}

void TScriptedHttpServer::sendHeadersAndBody(QTcpSocket* pSocket, const TScriptedAnswer& answer) {
    QByteArray head = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonPhrase(answer.status) +
                      "\r\nContent-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
    for (const auto& header : answer.headers)
        head += header.first + ": " + header.second + "\r\n";
    pSocket->write(head + "\r\n");

    const bool splitsBody = answer.fault != EScriptedFault::None || answer.delayMidBodyMs > 0;
    if (!splitsBody) {
        pSocket->write(answer.body);
        return;
    }
    const qint64 offset = answer.faultOffset < 0 ? answer.body.size() / 2 : answer.faultOffset;
    pSocket->write(answer.body.left(int(offset)));
    pSocket->flush();
    const int pauseMs = qMax(answer.delayMidBodyMs, 100);
    QTimer::singleShot(pauseMs, pSocket, [this, pSocket, answer, offset] {
        switch (answer.fault) {
        case EScriptedFault::ResetMidBody:
            m_buffers.remove(pSocket);
            resetConnection(pSocket);
            pSocket->deleteLater();
            break;
        case EScriptedFault::CloseMidBody:
            pSocket->disconnectFromHost();
            break;
        case EScriptedFault::StallMidBody:
        case EScriptedFault::StallBeforeHeaders:
            break;
        case EScriptedFault::None:
            pSocket->write(answer.body.mid(int(offset)));
            break;
        }
    });
}

} // namespace testsupport
