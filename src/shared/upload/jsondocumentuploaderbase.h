#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QObject>
#include <QString>

#include <memory>

class QUrl;

namespace shared {

class TJsonDocumentHttpPostSender;

// Uploads a JSON document through a sender and judges the service's answer: a
// JSON object whose "errorCode" is 0 or absent means success; otherwise its
// "errorCode" and "errorMessage" say what went wrong.
class TJsonDocumentUploaderBase : public QObject {
    Q_OBJECT
public:
    // The code recorded when the answer is not a JSON object.
    static constexpr int MalformedAnswerCode = -100;

    explicit TJsonDocumentUploaderBase(std::shared_ptr<TJsonDocumentHttpPostSender> pSender,
                                       QObject* parent = nullptr);
    ~TJsonDocumentUploaderBase() override;

    virtual void upload(const QUrl& Url, const QJsonDocument& Document);

    // About the last answer: empty and 0 after a success. A network failure
    // leaves the code at 0 and records the network layer's text.
    const QString& lastErrorMessage() const { return m_LastErrorMessage; }
    int lastErrorCode() const { return m_LastErrorCode; }

signals:
    void finished(bool UploadSuccessful, QJsonDocument ReplyFromServer);

public slots:
    void onFinished(QNetworkReply::NetworkError NetworkErrorCode, QString NetworkErrorString,
                    QByteArray ReplyFromServer);

private:
    bool evaluateAnswer(const QByteArray& ReplyFromServer, QJsonDocument& Answer);

    std::shared_ptr<TJsonDocumentHttpPostSender> m_pSender;
    QString m_LastErrorMessage;
    int m_LastErrorCode = 0;
};

} // namespace shared
