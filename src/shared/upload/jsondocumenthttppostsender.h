#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QString>

#include <memory>

class QJsonDocument;
class QNetworkAccessManager;
class QUrl;

namespace shared {

// Posts JSON documents to a service and hands back what it answered. Each
// sender has its own network access manager, so its replies end with it.
class TJsonDocumentHttpPostSender : public QObject {
    Q_OBJECT
public:
    explicit TJsonDocumentHttpPostSender(QObject* parent = nullptr);
    ~TJsonDocumentHttpPostSender() override;

    // Milliseconds without a received byte after which a post fails (30 s unless set).
    void setTransferStallTimeout(int Milliseconds);
    // Sends the document in compact form as the form field "metadata".
    virtual void post(const QUrl& Url, const QJsonDocument& Document);

signals:
    void finished(QNetworkReply::NetworkError NetworkErrorCode, QString NetworkErrorString,
                  QByteArray ReplyFromServer);

public slots:
    void onFinished(QNetworkReply* Reply);

private:
    std::shared_ptr<QNetworkAccessManager> m_pAccessManager;
};

} // namespace shared
