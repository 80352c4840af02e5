#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct evp_pkey_st;

namespace shared {
class TFileSystemHelper;
}

namespace publisher {

// Signs documents with a studio's Ed25519 private key (a PEM file as
// "openssl genpkey -algorithm ed25519" writes it), so that a launcher holding
// the public half trusts them. Throws std::runtime_error for a key file that
// cannot be read or is not an Ed25519 key.
class TDocumentSigner {
public:
    explicit TDocumentSigner(const QString& KeyFile);
    ~TDocumentSigner();
    TDocumentSigner(const TDocumentSigner&) = delete;
    TDocumentSigner& operator=(const TDocumentSigner&) = delete;

    // The base64 text of the 64-byte signature over Document, with a newline.
    QByteArray signatureText(const QByteArray& Document) const;
    // The base64 text of the 32-byte public key: the launcher's [SECURITY] publicKey.
    QString publicKeyText() const;
    // Writes DocumentPath + ".sig" for the document's current bytes.
    void signFile(const shared::TFileSystemHelper& FileSystem, const QString& DocumentPath) const;

    static QString signaturePath(const QString& DocumentPath);

private:
    struct TKeyDeleter {
        void operator()(evp_pkey_st* Key) const;
    };
    std::unique_ptr<evp_pkey_st, TKeyDeleter> m_pKey;
};

} // namespace publisher
