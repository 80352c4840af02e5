#include "launcher/config/signeddocumentfetcher.h"

#include "launcher/config/documenttrust.h"
#include "shared/network/downloadpool.h"

#include <QDateTime>
#include <QDebug>

namespace mirrel::launcher {

TSignedDocumentFetcher::TSignedDocumentFetcher(std::shared_ptr<::shared::TDownloadPool> pDownloadPool,
                                               std::shared_ptr<const TDocumentTrust> pTrust, QObject* parent)
    : QObject(parent)
    , m_pDownloadPool(std::move(pDownloadPool))
    , m_pTrust(std::move(pTrust)) {
    connect(m_pDownloadPool.get(), &::shared::TDownloadPool::success, this,
            &TSignedDocumentFetcher::onDownloadSucceeded);
    connect(m_pDownloadPool.get(), &::shared::TDownloadPool::failed, this,
            &TSignedDocumentFetcher::onDownloadFailed);
}

TSignedDocumentFetcher::~TSignedDocumentFetcher() = default;

void TSignedDocumentFetcher::download(const QUrl& Url, bool CarriesExpiry) {
    if (!m_pTrust->isRequired()) {
        m_pDownloadPool->download(Url);
        return;
    }
    if (const auto waiting = m_Pending.find(Url); waiting != m_Pending.end()) {
        if (!waiting->second.Decided) {
            return;
        }
        m_Pending.erase(waiting);
    }
    TPendingDocument& pending = m_Pending[Url];
    pending.CarriesExpiry = CarriesExpiry;
    // The pool may answer inside download() (an address it refuses): the entry is in place, and
    // the signature is asked for first so that the document's answer always finds it awaited.
    m_pDownloadPool->download(TDocumentTrust::signatureUrl(Url));
    if (m_Pending.count(Url) != 0) {
        m_pDownloadPool->download(Url);
    }
}

QByteArray TSignedDocumentFetcher::acceptedSignature(const QUrl& Url) const {
    const auto found = m_AcceptedSignatures.find(Url);
    return found == m_AcceptedSignatures.end() ? QByteArray() : found->second;
}

std::map<QUrl, TSignedDocumentFetcher::TPendingDocument>::iterator
TSignedDocumentFetcher::findBySignature(const QUrl& SignatureUrl) {
    for (auto entry = m_Pending.begin(); entry != m_Pending.end(); ++entry) {
        if (TDocumentTrust::signatureUrl(entry->first) == SignatureUrl) {
            return entry;
        }
    }
    return m_Pending.end();
}

void TSignedDocumentFetcher::onDownloadSucceeded(QUrl Url, QByteArray Data) {
    if (const auto document = m_Pending.find(Url); document != m_Pending.end()) {
        document->second.Document = Data;
        decide(Url, document->second);
        forgetWhenSettled(document);
        return;
    }
    if (const auto signed_ = findBySignature(Url); signed_ != m_Pending.end()) {
        signed_->second.Signature = Data;
        decide(signed_->first, signed_->second);
        forgetWhenSettled(signed_);
        return;
    }
    emit success(Url, Data);
}

void TSignedDocumentFetcher::onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code,
                                              QString ErrorString) {
    if (const auto document = m_Pending.find(Url); document != m_Pending.end()) {
        TPendingDocument& pending = document->second;
        pending.DocumentFailed = true;
        if (!pending.Decided) {
            // The document's own failure is told as it is: a refused configuration still means
            // maintenance, an unreachable server still means the stored copy.
            pending.Decided = true;
            emit failed(Url, Code, ErrorString);
        }
        forgetWhenSettled(document);
        return;
    }
    if (const auto signed_ = findBySignature(Url); signed_ != m_Pending.end()) {
        signed_->second.SignatureFailed = true;
        signed_->second.SignatureError = ErrorString;
        decide(signed_->first, signed_->second);
        forgetWhenSettled(signed_);
        return;
    }
    emit failed(Url, Code, ErrorString);
}

void TSignedDocumentFetcher::decide(const QUrl& Url, TPendingDocument& Pending) {
    // Decided only once the document itself has answered: its own failure comes first.
    if (Pending.Decided || !Pending.Document || (!Pending.Signature && !Pending.SignatureFailed)) {
        return;
    }
    Pending.Decided = true;
    if (Pending.Document->isEmpty()) {
        // Nothing to trust or distrust: the receiver treats an empty answer as a refusal.
        emit success(Url, *Pending.Document);
        return;
    }
    if (Pending.SignatureFailed) {
        refuse(Url, QStringLiteral("the signature could not be downloaded (%1)").arg(Pending.SignatureError));
        return;
    }
    QString problem = m_pTrust->signatureProblem(*Pending.Document, *Pending.Signature);
    if (problem.isEmpty() && Pending.CarriesExpiry) {
        problem = m_pTrust->expiryProblem(*Pending.Document, QDateTime::currentDateTimeUtc());
    }
    if (!problem.isEmpty()) {
        refuse(Url, problem);
        return;
    }
    m_AcceptedSignatures[Url] = *Pending.Signature;
    emit success(Url, *Pending.Document);
}

void TSignedDocumentFetcher::refuse(const QUrl& Url, const QString& Reason) {
    m_RefusedAny = true;
    const QString text = QStringLiteral("the download could not be trusted: ") + Reason;
    qCritical().noquote() << "Download of" << Url.toString() << "refused:" << text;
    // Not one of the refusal codes of a server: the document counts as not received.
    emit failed(Url, QNetworkReply::UnknownContentError, text);
}

void TSignedDocumentFetcher::forgetWhenSettled(std::map<QUrl, TPendingDocument>::iterator Entry) {
    const TPendingDocument& pending = Entry->second;
    const bool documentSettled = pending.Document || pending.DocumentFailed;
    const bool signatureSettled = pending.Signature || pending.SignatureFailed;
    if (pending.Decided && documentSettled && signatureSettled) {
        m_Pending.erase(Entry);
    }
}

} // namespace mirrel::launcher
