#include "publisher/documentsigner.h"

#include "shared/filesystemhelper/filesystemhelper.h"

#include <QFile>

#include <stdexcept>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

namespace publisher {

namespace {

std::runtime_error failure(const QString& Message) {
    return std::runtime_error(Message.toStdString());
}

struct TBioDeleter {
    void operator()(BIO* Bio) const { BIO_free(Bio); }
};

struct TDigestContextDeleter {
    void operator()(EVP_MD_CTX* Context) const { EVP_MD_CTX_free(Context); }
};

} // namespace

void TDocumentSigner::TKeyDeleter::operator()(evp_pkey_st* Key) const {
    EVP_PKEY_free(Key);
}

TDocumentSigner::TDocumentSigner(const QString& KeyFile) {
    QFile file(KeyFile);
    if (!file.open(QIODevice::ReadOnly)) {
        throw failure(
            QStringLiteral("The signing key '%1' cannot be read: %2").arg(KeyFile, file.errorString()));
    }
    const QByteArray pem = file.readAll();
    const std::unique_ptr<BIO, TBioDeleter> bio(BIO_new_mem_buf(pem.constData(), pem.size()));
    m_pKey.reset(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!m_pKey || EVP_PKEY_id(m_pKey.get()) != EVP_PKEY_ED25519) {
        throw failure(QStringLiteral("'%1' is not an Ed25519 private key in PEM form (make one with "
                                     "'openssl genpkey -algorithm ed25519 -out %1').")
                          .arg(KeyFile));
    }
}

TDocumentSigner::~TDocumentSigner() = default;

QByteArray TDocumentSigner::signatureText(const QByteArray& Document) const {
    const std::unique_ptr<EVP_MD_CTX, TDigestContextDeleter> context(EVP_MD_CTX_new());
    QByteArray signature(64, '\0');
    size_t length = static_cast<size_t>(signature.size());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, m_pKey.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(Document.constData()),
                       static_cast<size_t>(Document.size())) != 1) {
        throw failure(QStringLiteral("The document could not be signed."));
    }
    signature.resize(static_cast<int>(length));
    return signature.toBase64() + '\n';
}

QString TDocumentSigner::publicKeyText() const {
    QByteArray key(32, '\0');
    size_t length = static_cast<size_t>(key.size());
    if (EVP_PKEY_get_raw_public_key(m_pKey.get(), reinterpret_cast<unsigned char*>(key.data()), &length) !=
        1) {
        throw failure(QStringLiteral("The public key could not be derived."));
    }
    key.resize(static_cast<int>(length));
    return QString::fromLatin1(key.toBase64());
}

void TDocumentSigner::signFile(const shared::TFileSystemHelper& FileSystem,
                               const QString& DocumentPath) const {
    const QByteArray document = FileSystem.readFileIfPresent(DocumentPath);
    if (document.isEmpty()) {
        throw failure(QStringLiteral("The document '%1' is missing or empty.").arg(DocumentPath));
    }
    FileSystem.writeFile(signaturePath(DocumentPath), signatureText(document));
}

QString TDocumentSigner::signaturePath(const QString& DocumentPath) {
    return DocumentPath + QStringLiteral(".sig");
}

} // namespace publisher
