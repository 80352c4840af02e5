#pragma once

#include "shared/crypto/signatureverifier.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

namespace mirrel::launcher {

// Decides whether a downloaded document may be believed. Without a public key in the settings
// every document is; with one, a document counts only with a detached Ed25519 signature (base64
// text, a trailing newline allowed) that verifies with that key, and a configuration past the
// time in its "expires" member does not count at all.
class TDocumentTrust {
public:
    explicit TDocumentTrust(const QString& PublicKeyBase64);

    // Whether documents need signatures at all.
    bool isRequired() const { return m_Required; }

    // Empty when Document can be trusted with SignatureText, otherwise why not.
    QString signatureProblem(const QByteArray& Document, const QByteArray& SignatureText) const;
    // Empty when the configuration Document has not expired at Now, otherwise why it is refused.
    QString expiryProblem(const QByteArray& Document, const QDateTime& Now) const;

    // Where a document's signature lives: its path with ".sig" appended, the query kept.
    static QUrl signatureUrl(const QUrl& DocumentUrl);
    static QString signaturePath(const QString& DocumentPath);

private:
    bool m_Required = false;
    shared::TSignatureVerifier m_Verifier;
};

} // namespace mirrel::launcher
