#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

#include <map>
#include <memory>
#include <optional>

namespace shared {
class TDownloadPool;
}

namespace mirrel::launcher {

class TDocumentTrust;

// Fetches documents through the application's download pool so that, when signatures are
// required, a document is handed on only together with a signature that verifies: each document
// is requested with its ".sig" beside it, and a document whose signature is missing, unreadable
// or wrong (or a configuration past its expiry) is reported as failed, as if it never arrived.
// Answers to addresses it did not request pass through unchanged, so it can stand in for the pool.
class TSignedDocumentFetcher : public QObject {
    Q_OBJECT

public:
    TSignedDocumentFetcher(std::shared_ptr<::shared::TDownloadPool> pDownloadPool,
                           std::shared_ptr<const TDocumentTrust> pTrust, QObject* parent = nullptr);
    ~TSignedDocumentFetcher() override;

    // Requests Url (and its signature when needed). CarriesExpiry: the document is a launcher
    // configuration, whose "expires" time is checked too.
    void download(const QUrl& Url, bool CarriesExpiry = false);
    // The signature text with which Url was last handed on (empty without signatures).
    QByteArray acceptedSignature(const QUrl& Url) const;
    // Whether any document was refused as untrusted.
    bool refusedAny() const { return m_RefusedAny; }

signals:
    void success(QUrl Url, QByteArray Data);
    void failed(QUrl Url, QNetworkReply::NetworkError Code, QString ErrorString);

private slots:
    void onDownloadSucceeded(QUrl Url, QByteArray Data);
    void onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code, QString ErrorString);

private:
    // One document awaited with its signature; settled once both have answered.
    struct TPendingDocument {
        bool CarriesExpiry = false;
        std::optional<QByteArray> Document;
        std::optional<QByteArray> Signature;
        bool DocumentFailed = false;
        bool SignatureFailed = false;
        QString SignatureError;
        bool Decided = false;
    };

    std::map<QUrl, TPendingDocument>::iterator findBySignature(const QUrl& SignatureUrl);
    void decide(const QUrl& Url, TPendingDocument& Pending);
    void refuse(const QUrl& Url, const QString& Reason);
    void forgetWhenSettled(std::map<QUrl, TPendingDocument>::iterator Entry);

    std::shared_ptr<::shared::TDownloadPool> m_pDownloadPool;
    std::shared_ptr<const TDocumentTrust> m_pTrust;
    std::map<QUrl, TPendingDocument> m_Pending;
    std::map<QUrl, QByteArray> m_AcceptedSignatures;
    bool m_RefusedAny = false;
};

} // namespace mirrel::launcher
