#include "shared/upload/jsondocumentuploaderbase.h"

#include "shared/upload/jsondocumenthttppostsender.h"

#include <QJsonObject>
#include <QJsonParseError>
#include <QThread>
#include <QUrl>

namespace shared {

namespace {

// Operation log lines end with the thread they ran on, as everywhere else in the log.
QString threadText() {
    return QStringLiteral(" Thread: 0x") +
           QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
}

} // namespace

TJsonDocumentUploaderBase::TJsonDocumentUploaderBase(std::shared_ptr<TJsonDocumentHttpPostSender> pSender,
                                                     QObject* parent)
    : QObject(parent)
    , m_pSender(std::move(pSender)) {
    if (m_pSender) {
        connect(m_pSender.get(), &TJsonDocumentHttpPostSender::finished, this,
                &TJsonDocumentUploaderBase::onFinished);
    }
}

TJsonDocumentUploaderBase::~TJsonDocumentUploaderBase() {
    // A sender shared with others may still answer later; this uploader is gone by then.
    if (m_pSender) {
        m_pSender->disconnect(this);
    }
}

void TJsonDocumentUploaderBase::upload(const QUrl& Url, const QJsonDocument& Document) {
    if (!m_pSender) {
        // Nothing can be sent; say so the way any other failed upload does.
        m_LastErrorMessage = QStringLiteral("No sender to post the document with");
        m_LastErrorCode = 0;
        qWarning().noquote() << QStringLiteral("upload: ") + Url.toDisplayString() + QStringLiteral(": ") +
                                    m_LastErrorMessage + threadText();
        emit finished(false, QJsonDocument());
        return;
    }
    m_pSender->post(Url, Document);
}

void TJsonDocumentUploaderBase::onFinished(QNetworkReply::NetworkError NetworkErrorCode,
                                           QString NetworkErrorString, QByteArray ReplyFromServer) {
    m_LastErrorMessage.clear();
    m_LastErrorCode = 0;
    bool success = false;
    QJsonDocument answer;
    if (NetworkErrorCode != QNetworkReply::NoError) {
        m_LastErrorMessage = NetworkErrorString;
    } else {
        success = evaluateAnswer(ReplyFromServer, answer);
    }
    if (!success) {
        qWarning().noquote() << QStringLiteral("onFinished: upload failed (%1): ").arg(m_LastErrorCode) +
                                    m_LastErrorMessage + threadText();
    }
    emit finished(success, answer);
}

bool TJsonDocumentUploaderBase::evaluateAnswer(const QByteArray& ReplyFromServer, QJsonDocument& Answer) {
    QJsonParseError parseError;
    const QJsonDocument parsed = QJsonDocument::fromJson(ReplyFromServer, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        m_LastErrorMessage = parseError.errorString();
        m_LastErrorCode = MalformedAnswerCode;
        return false;
    }
    // An array is valid JSON but no answer of the service; counting it as
    // success would report an unknown reply as a delivered upload.
    if (!parsed.isObject()) {
        m_LastErrorMessage = QStringLiteral("The answer is not a JSON object");
        m_LastErrorCode = MalformedAnswerCode;
        return false;
    }
    Answer = parsed;
    const QJsonObject object = parsed.object();
    const int errorCode = object.value(QLatin1String("errorCode")).toInt();
    if (errorCode != 0) {
        m_LastErrorMessage = object.value(QLatin1String("errorMessage")).toString();
        m_LastErrorCode = errorCode;
        return false;
    }
    return true;
}

} // namespace shared
