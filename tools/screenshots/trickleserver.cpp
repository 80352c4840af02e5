#include "screenshots/trickleserver.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace screenshots {

namespace {

constexpr int TickMs = 50;

QByteArray header(int Status, const QByteArray& Reason, qint64 Length, const QByteArray& Type) {
    return "HTTP/1.1 " + QByteArray::number(Status) + ' ' + Reason + "\r\nContent-Type: " + Type +
           "\r\nContent-Length: " + QByteArray::number(Length) + "\r\nConnection: close\r\n\r\n";
}

} // namespace

TTrickleServer::TTrickleServer(qint64 BytesPerSecond, qint64 ChunkSize, QObject* pParent)
    : QObject(pParent)
    , m_pTicker(new QTimer(this))
    , m_BytesPerTick(BytesPerSecond * TickMs / 1000)
    , m_ChunkSize(ChunkSize) {
    connect(&m_Server, &QTcpServer::newConnection, this, &TTrickleServer::onNewConnection);
    connect(m_pTicker, &QTimer::timeout, this, &TTrickleServer::onTick);
    m_pTicker->start(TickMs);
}

TTrickleServer::~TTrickleServer() {
    // Connections still open are children of the listening server; they report their end
    // while that member is torn down, after the bookkeeping they would update is gone.
    for (QTcpSocket* pSocket : m_Server.findChildren<QTcpSocket*>()) {
        pSocket->disconnect(this);
    }
}

bool TTrickleServer::start() {
    return m_Server.listen(QHostAddress::LocalHost, 0);
}

QUrl TTrickleServer::url(const QString& Path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_Server.serverPort()).arg(Path));
}

void TTrickleServer::onNewConnection() {
    while (QTcpSocket* pSocket = m_Server.nextPendingConnection()) {
        connect(pSocket, &QTcpSocket::readyRead, this, [this, pSocket] { onReadyRead(pSocket); });
        connect(pSocket, &QTcpSocket::disconnected, this, [this, pSocket] {
            m_Trickling.remove(pSocket);
            pSocket->deleteLater();
        });
    }
}

void TTrickleServer::onReadyRead(QTcpSocket* pSocket) {
    if (!pSocket->canReadLine()) {
        return;
    }
    const QList<QByteArray> requestLine = pSocket->readLine().trimmed().split(' ');
    pSocket->readAll();
    const QString path = requestLine.size() >= 2 ? QString::fromLatin1(requestLine[1]) : QString();
    if (path.startsWith(QLatin1String("/chunks/"))) {
        pSocket->write(header(200, "OK", m_ChunkSize, "application/octet-stream"));
        m_Trickling.insert(pSocket, m_ChunkSize);
        return;
    }
    answerFile(pSocket, path);
}

void TTrickleServer::answerFile(QTcpSocket* pSocket, const QString& Path) {
    const auto file = m_Files.constFind(Path);
    if (file == m_Files.constEnd()) {
        pSocket->write(header(404, "Not Found", 0, "text/plain"));
    } else {
        pSocket->write(header(200, "OK", file.value().size(), "image/png"));
        pSocket->write(file.value());
    }
    pSocket->disconnectFromHost();
}

void TTrickleServer::onTick() {
    if (m_Trickling.isEmpty()) {
        return;
    }
    // The rate is shared by all transfers in flight, as on a real line.
    const qint64 slice = std::max<qint64>(1, m_BytesPerTick / m_Trickling.size());
    for (auto transfer = m_Trickling.begin(); transfer != m_Trickling.end(); ++transfer) {
        // The last byte is never sent: the transfer stays in progress.
        const qint64 amount = std::min(slice, transfer.value() - 1);
        if (amount > 0) {
            transfer.key()->write(QByteArray(static_cast<int>(amount), '\x5a'));
            transfer.value() -= amount;
        }
    }
}

} // namespace screenshots
