#include "shared/crypto/signatureverifier.h"

#include <openssl/evp.h>

namespace shared {

namespace {

struct TDigestContextDeleter {
    void operator()(EVP_MD_CTX* Context) const { EVP_MD_CTX_free(Context); }
};

} // namespace

void TSignatureVerifier::TKeyDeleter::operator()(evp_pkey_st* Key) const {
    EVP_PKEY_free(Key);
}

TSignatureVerifier::TSignatureVerifier(const QByteArray& PublicKey) {
    if (PublicKey.size() != PublicKeySize) {
        return;
    }
    m_pKey.reset(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                             reinterpret_cast<const unsigned char*>(PublicKey.constData()),
                                             static_cast<size_t>(PublicKey.size())));
}

TSignatureVerifier::~TSignatureVerifier() = default;
TSignatureVerifier::TSignatureVerifier(TSignatureVerifier&& other) noexcept = default;
TSignatureVerifier& TSignatureVerifier::operator=(TSignatureVerifier&& other) noexcept = default;

bool TSignatureVerifier::verify(const QByteArray& Document, const QByteArray& Signature) const {
    if (!m_pKey || Signature.size() != SignatureSize) {
        return false;
    }
    const std::unique_ptr<EVP_MD_CTX, TDigestContextDeleter> context(EVP_MD_CTX_new());
    // Ed25519 hashes internally: no digest is named, and the document goes in as one piece.
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, m_pKey.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(Signature.constData()),
                            static_cast<size_t>(Signature.size()),
                            reinterpret_cast<const unsigned char*>(Document.constData()),
                            static_cast<size_t>(Document.size())) == 1;
}

} // namespace shared
