#include "shared/network/qnetworkreplywrapper.h"

#include "shared/network/ratelimiter.h"

#include <QNetworkRequest>
#include <QtDebug>

#include <algorithm>
#include <limits>

namespace shared {

namespace {

// What a throttled reply may hold unread; the network layer stops reading from the connection
// beyond it, so the server is slowed down rather than buffered.
constexpr qint64 ThrottledReadBufferSize = 256 * 1024;
// Without a limit of its own a body still has to fit one byte array.
constexpr qint64 LargestBody = std::numeric_limits<int>::max() - 64;

} // namespace

QNetworkReplyWrapper::QNetworkReplyWrapper(QNetworkReply* pReply)
    : QObject(pReply)
    , m_pReply(pReply) {
    if (!pReply)
        return;
    connect(pReply, &QNetworkReply::errorOccurred, this, &QNetworkReplyWrapper::onReplyError);
    connect(pReply, &QNetworkReply::readyRead, this, &QNetworkReplyWrapper::onReplyReadyRead);
    connect(pReply, &QNetworkReply::metaDataChanged, this, &QNetworkReplyWrapper::onReplyMetaData);
    m_lastArrival.start();
    connect(pReply, &QNetworkReply::finished, this, &QNetworkReplyWrapper::onReplyFinished);
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
            .arg(m_Body.size() + m_pReply->bytesAvailable())
            .arg(m_pReply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    return m_pReply->errorString();
}

QByteArray QNetworkReplyWrapper::readAll() {
    QByteArray body = receivedBody();
    // The caller becomes the body's only holder, so it can hand the buffer back to its pool.
    m_Body = QByteArray();
    return body;
}

QByteArray QNetworkReplyWrapper::receivedBody() {
    drain(true);
    return m_PrefixConfirmed ? m_ResumedPrefix + m_Body : m_Body;
}

QUrl QNetworkReplyWrapper::url() const {
    return m_pReply ? m_pReply->request().url() : QUrl();
}

void QNetworkReplyWrapper::setMaximumBodySize(qint64 Bytes) {
    m_maximumBodySize = Bytes;
}

void QNetworkReplyWrapper::setRateLimiter(std::shared_ptr<TRateLimiter> pLimiter, bool GoesFirst) {
    m_pRateLimiter = std::move(pLimiter);
    m_GoesFirst = GoesFirst;
    if (m_pReply && m_pRateLimiter && !m_GoesFirst)
        m_pReply->setReadBufferSize(ThrottledReadBufferSize);
}

void QNetworkReplyWrapper::setBodyBuffer(QByteArray Buffer) {
    m_Body = std::move(Buffer);
    m_Body.resize(0);
    m_readsAsItArrives = true;
}

void QNetworkReplyWrapper::setResumedPrefix(const QByteArray& Prefix) {
    m_ResumedPrefix = Prefix;
}

void QNetworkReplyWrapper::abandon() {
    if (!m_pReply)
        return;
    // Nobody waits for this transfer's end any more; its finished signal only frees it.
    disconnect(m_pReply, nullptr, this, nullptr);
    connect(m_pReply, &QNetworkReply::finished, this, &QNetworkReplyWrapper::finished);
    m_pReply->abort();
}

qint64 QNetworkReplyWrapper::prefixSize() const {
    return m_PrefixConfirmed ? m_ResumedPrefix.size() : 0;
}

bool QNetworkReplyWrapper::isThrottled() const {
    return m_pRateLimiter && !m_GoesFirst && m_pRateLimiter->isLimited();
}

void QNetworkReplyWrapper::onReplyMetaData() {
    m_lastArrival.restart();
    const int status = m_pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_AcceptsRanges = status == 206 || m_pReply->rawHeader("Accept-Ranges").trimmed() == "bytes";
    if (m_ResumedPrefix.isEmpty())
        return;
    const QByteArray expected = "bytes " + QByteArray::number(m_ResumedPrefix.size()) + '-';
    m_PrefixConfirmed = status == 206 && m_pReply->rawHeader("Content-Range").startsWith(expected);
    if (!m_PrefixConfirmed)
        qInfo().noquote() << "The server sends the whole body of " + url().toString() + " again (status " +
                                 QString::number(status) + ")";
}

void QNetworkReplyWrapper::onReplyReadyRead() {
    m_lastArrival.restart();
    // Checked on every arrival rather than on the (throttled) progress notification, so a fast
    // endless stream cannot pile up in between.
    const qint64 arrived = prefixSize() + m_Body.size() + m_pReply->bytesAvailable();
    const qint64 limit = m_maximumBodySize >= 0 ? m_maximumBodySize : LargestBody;
    if (arrived > limit && !m_bodyTooLarge) {
        // Aborting reports the error and the end at once; the flag makes them say why.
        m_bodyTooLarge = true;
        m_pReply->abort();
        return;
    }
    if (m_pRateLimiter || m_readsAsItArrives) {
        drain(false);
    } else if (arrived > m_reportedBytes) {
        // Without a limiter or a body buffer the body stays in the reply until the end.
        m_reportedBytes = arrived;
        emit progress(arrived);
    }
}

void QNetworkReplyWrapper::drain(bool Everything) {
    if (!m_pReply)
        return;
    const qint64 available = m_pReply->bytesAvailable();
    if (available <= 0)
        return;
    qint64 allowed = available;
    if (m_pRateLimiter && (m_GoesFirst || Everything))
        m_pRateLimiter->charge(available);
    else if (m_pRateLimiter)
        allowed = m_pRateLimiter->grant(available);
    if (allowed > 0) {
        // Read straight into the body's own memory: with a buffer from a pool, nothing is allocated.
        const int held = m_Body.size();
        m_Body.resize(held + static_cast<int>(allowed));
        const qint64 read = m_pReply->read(m_Body.data() + held, allowed);
        m_Body.resize(held + static_cast<int>(std::max<qint64>(read, 0)));
        const qint64 received = prefixSize() + m_Body.size();
        if (received > m_reportedBytes) {
            m_reportedBytes = received;
            emit progress(received);
        }
    }
    if (m_pReply->bytesAvailable() > 0)
        waitForTokens();
}

void QNetworkReplyWrapper::waitForTokens() {
    if (m_WaitingForTokens || !m_pRateLimiter)
        return;
    m_WaitingForTokens = true;
    m_pRateLimiter->waitForTokens(this, [this] {
        m_WaitingForTokens = false;
        drain(false);
        finishWhenDrained();
    });
}

void QNetworkReplyWrapper::onReplyError(QNetworkReply::NetworkError Code) {
    m_stalled = hasStalled();
    // Whoever weighs a failure learns how far the transfer got.
    if (m_pRateLimiter) {
        drain(true);
    } else if (m_pReply->bytesAvailable() > m_reportedBytes - prefixSize()) {
        m_reportedBytes = prefixSize() + m_pReply->bytesAvailable();
        emit progress(m_reportedBytes);
    }
    emit error(Code);
}

void QNetworkReplyWrapper::onReplyFinished() {
    m_ReplyFinished = true;
    // A throttled body still waiting in the reply is read out first: the transfer ends for its
    // owner when the last byte has been let through.
    if (m_pReply->error() == QNetworkReply::NoError && m_pReply->bytesAvailable() > 0 && isThrottled()) {
        waitForTokens();
        return;
    }
    finish();
}

void QNetworkReplyWrapper::finishWhenDrained() {
    if (m_ReplyFinished && !m_FinishReported && (m_pReply->bytesAvailable() == 0 || !isThrottled()))
        finish();
}

void QNetworkReplyWrapper::finish() {
    if (m_FinishReported)
        return;
    m_FinishReported = true;
    if (m_pRateLimiter)
        drain(true);
    // The HTTP layer may report a connection that broke mid-body as a plain,
    // short success. A cut body is a failed transfer, reported like any other
    // network failure: an error first, then finished.
    if (m_pReply->error() == QNetworkReply::NoError && isBodyCutShort()) {
        m_bodyCutShort = true;
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
    return announced.isValid() && m_Body.size() + m_pReply->bytesAvailable() < announced.toLongLong();
}

} // namespace shared
