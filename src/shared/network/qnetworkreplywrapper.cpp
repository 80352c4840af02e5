#include "shared/network/qnetworkreplywrapper.h"

#include <algorithm>
#include <limits>

namespace shared {

namespace {

constexpr qint64 LargestBody = std::numeric_limits<int>::max() - 64;

} // namespace

QNetworkReplyWrapper::QNetworkReplyWrapper(QNetworkReply* pReply)
    : QObject(pReply)
    , m_pReply(pReply) {
    if (!pReply)
        return;
    connect(pReply, &QNetworkReply::errorOccurred, this, &QNetworkReplyWrapper::onReplyError);
    connect(pReply, &QNetworkReply::readyRead, this, &QNetworkReplyWrapper::onReplyReadyRead);
    connect(pReply, &QNetworkReply::metaDataChanged, this, [this] { m_lastArrival.restart(); });
    m_lastArrival.start();
    connect(pReply, &QNetworkReply::finished, this, &QNetworkReplyWrapper::onReplyFinished);
    connect(pReply, &QNetworkReply::downloadProgress, this,
            [this](qint64 received, qint64) { onReplyProgress(received); });
}

QNetworkReplyWrapper::~QNetworkReplyWrapper() {
    // When the reply itself is being destroyed the guarded pointer is already null.
    if (m_pReply)
        m_pReply->deleteLater();
}

QNetworkReply::NetworkError QNetworkReplyWrapper::error() const {
    if (!m_pReply)
        return QNetworkReply::UnknownNetworkError;
    if (m_bodyTooLarge)
        return QNetworkReply::UnknownContentError;
    if (m_bodyCutShort)
        return QNetworkReply::RemoteHostClosedError;
    if (m_stalled)
        return QNetworkReply::TimeoutError;
    return m_pReply->error();
}

QString QNetworkReplyWrapper::errorString() const {
    if (!m_pReply)
        return QStringLiteral("No reply");
    if (m_bodyTooLarge)
        return QStringLiteral("Body larger than the expected %1 bytes").arg(m_maximumBodySize);
    if (m_stalled)
        return QStringLiteral("No data received for %1 ms").arg(m_pReply->request().transferTimeout());
    if (m_bodyCutShort)
        return QStringLiteral("Connection closed after %1 of %2 bytes")
            .arg(receivedBytes())
            .arg(m_pReply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    return m_pReply->errorString();
}

QByteArray QNetworkReplyWrapper::readAll() {
    QByteArray body = std::move(m_body);
    m_body = QByteArray();
    if (m_pReply && m_pReply->bytesAvailable() > 0)
        body.append(m_pReply->readAll());
    return body;
}

QUrl QNetworkReplyWrapper::url() const {
    return m_pReply ? m_pReply->request().url() : QUrl();
}

void QNetworkReplyWrapper::setMaximumBodySize(qint64 Bytes) {
    m_maximumBodySize = Bytes;
}

void QNetworkReplyWrapper::setBodyBuffer(QByteArray Buffer) {
    m_body = std::move(Buffer);
    m_body.resize(0);
    m_readsAsItArrives = true;
}

void QNetworkReplyWrapper::onReplyReadyRead() {
    m_lastArrival.restart();
    // Checked on every arrival rather than on the (throttled) progress notification, so a fast
    // endless stream cannot pile up in between.
    // Without a limit of its own a body still has to fit one byte array.
    const qint64 limit = m_maximumBodySize >= 0 ? m_maximumBodySize : LargestBody;
    if (receivedBytes() > limit && !m_bodyTooLarge) {
        // Aborting reports the error and the end at once; the flag makes them say why.
        m_bodyTooLarge = true;
        m_pReply->abort();
        return;
    }
    const qint64 waiting = m_pReply->bytesAvailable();
    if (!m_readsAsItArrives || waiting <= 0 || m_bodyTooLarge)
        return;
    const int held = m_body.size();
    m_body.resize(held + static_cast<int>(waiting));
    const qint64 read = m_pReply->read(m_body.data() + held, waiting);
    m_body.resize(held + static_cast<int>(std::max<qint64>(read, 0)));
}

qint64 QNetworkReplyWrapper::receivedBytes() const {
    return m_body.size() + (m_pReply ? m_pReply->bytesAvailable() : 0);
}

void QNetworkReplyWrapper::onReplyProgress(qint64 Received) {
    m_reportedBytes = std::max(m_reportedBytes, Received);
    emit progress(Received);
}

void QNetworkReplyWrapper::onReplyError(QNetworkReply::NetworkError Code) {
    m_stalled = hasStalled();
    reportArrivedBytes();
    emit error(Code);
}

void QNetworkReplyWrapper::reportArrivedBytes() {
    // Progress notifications are throttled by the network layer; whoever weighs a failure learns
    // how far the transfer got.
    const qint64 arrived = receivedBytes();
    if (arrived > m_reportedBytes)
        onReplyProgress(arrived);
}

void QNetworkReplyWrapper::onReplyFinished() {
    // The HTTP layer may report a connection that broke mid-body as a plain,
    // short success. A cut body is a failed transfer, reported like any other
    // network failure: an error first, then finished.
    if (m_pReply->error() == QNetworkReply::NoError && isBodyCutShort()) {
        m_bodyCutShort = true;
        reportArrivedBytes();
        emit error(QNetworkReply::RemoteHostClosedError);
    }
    emit finished();
}

bool QNetworkReplyWrapper::hasStalled() const {
    // The network layer's transfer time-out cancels the reply like any other abort; it is told
    // apart by the silence before it (a timer may fire a little early).
    const qint64 timeout = m_pReply->request().transferTimeout();
    return m_pReply->error() == QNetworkReply::OperationCanceledError && !m_bodyTooLarge && timeout > 0 &&
           m_lastArrival.elapsed() >= timeout * 9 / 10;
}

bool QNetworkReplyWrapper::isBodyCutShort() const {
    // For a body the network layer decompressed itself, the length header is gone.
    const QVariant announced = m_pReply->header(QNetworkRequest::ContentLengthHeader);
    return announced.isValid() && receivedBytes() < announced.toLongLong();
}

} // namespace shared
