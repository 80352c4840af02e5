#include "shared/network/qnetworkreplywrapper.h"

namespace shared {

QNetworkReplyWrapper::QNetworkReplyWrapper(QNetworkReply* pReply)
    : QObject(pReply)
    , m_pReply(pReply) {
    if (!pReply)
        return;
    connect(pReply, &QNetworkReply::errorOccurred, this,
            qOverload<QNetworkReply::NetworkError>(&QNetworkReplyWrapper::error));
    connect(pReply, &QNetworkReply::finished, this, &QNetworkReplyWrapper::onReplyFinished);
    connect(pReply, &QNetworkReply::downloadProgress, this,
            [this](qint64 received, qint64) { emit progress(received); });
}

QNetworkReplyWrapper::~QNetworkReplyWrapper() {
    // When the reply itself is being destroyed the guarded pointer is already null.
    if (m_pReply)
        m_pReply->deleteLater();
}

QNetworkReply::NetworkError QNetworkReplyWrapper::error() const {
    if (!m_pReply)
        return QNetworkReply::UnknownNetworkError;
    if (m_bodyCutShort)
        return QNetworkReply::RemoteHostClosedError;
    return m_pReply->error();
}

QString QNetworkReplyWrapper::errorString() const {
    if (!m_pReply)
        return QStringLiteral("No reply");
    if (m_bodyCutShort)
        return QStringLiteral("Connection closed after %1 of %2 bytes")
            .arg(m_pReply->bytesAvailable())
            .arg(m_pReply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    return m_pReply->errorString();
}

QByteArray QNetworkReplyWrapper::readAll() {
    return m_pReply ? m_pReply->readAll() : QByteArray();
}

QUrl QNetworkReplyWrapper::url() const {
    return m_pReply ? m_pReply->request().url() : QUrl();
}

void QNetworkReplyWrapper::onReplyFinished() {
    // The HTTP layer may report a connection that broke mid-body as a plain,
    // short success. A cut body is a failed transfer, reported like any other
    // network failure: an error first, then finished.
    if (m_pReply->error() == QNetworkReply::NoError && isBodyCutShort()) {
        m_bodyCutShort = true;
        emit error(QNetworkReply::RemoteHostClosedError);
    }
    emit finished();
}

bool QNetworkReplyWrapper::isBodyCutShort() const {
    // Nothing reads the body before the end, so what is buffered is all that came.
    // For a body the network layer decompressed itself, the length header is gone.
    const QVariant announced = m_pReply->header(QNetworkRequest::ContentLengthHeader);
    return announced.isValid() && m_pReply->bytesAvailable() < announced.toLongLong();
}

} // namespace shared
