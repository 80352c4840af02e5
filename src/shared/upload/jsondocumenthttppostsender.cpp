#include "shared/upload/jsondocumenthttppostsender.h"

#include "shared/network/networkmetatypes.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QUrl>

namespace shared {

TJsonDocumentHttpPostSender::TJsonDocumentHttpPostSender(QObject* parent)
    : QObject(parent)
    , m_pAccessManager(std::make_shared<QNetworkAccessManager>()) {
    registerNetworkMetaTypes();
    m_pAccessManager->setTransferTimeout(QNetworkAccessManagerWrapper::DefaultTransferStallTimeout);
    connect(m_pAccessManager.get(), &QNetworkAccessManager::finished, this,
            &TJsonDocumentHttpPostSender::onFinished);
}

TJsonDocumentHttpPostSender::~TJsonDocumentHttpPostSender() {
    // Replies still running are torn down with the manager; none of them may
    // report to a sender that is half destroyed.
    m_pAccessManager->disconnect(this);
}

void TJsonDocumentHttpPostSender::setTransferStallTimeout(int Milliseconds) {
    if (Milliseconds > 0) {
        m_pAccessManager->setTransferTimeout(Milliseconds);
    }
}

void TJsonDocumentHttpPostSender::post(const QUrl& Url, const QJsonDocument& Document) {
    QNetworkRequest request(Url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setHeader(QNetworkRequest::ContentDispositionHeader,
                      QStringLiteral("form-data; name=\"metadata\""));
    m_pAccessManager->post(request, Document.toJson(QJsonDocument::Compact));
}

void TJsonDocumentHttpPostSender::onFinished(QNetworkReply* Reply) {
    if (Reply == nullptr) {
        return;
    }
    const QByteArray body = Reply->readAll();
    const QString errorString = Reply->errorString();
    const QNetworkReply::NetworkError errorCode = Reply->error();
    Reply->deleteLater();
    emit finished(errorCode, errorString, body);
}

} // namespace shared
