#pragma once

#include <QByteArray>

#include <memory>

struct evp_pkey_st;

namespace shared {

// Checks Ed25519 signatures made over a document's exact bytes with the private half of one
// public key. A key that is not 32 bytes, or that libcrypto refuses, makes an unusable verifier
// that accepts nothing.
class TSignatureVerifier {
public:
    static constexpr int PublicKeySize = 32;
    static constexpr int SignatureSize = 64;

    explicit TSignatureVerifier(const QByteArray& PublicKey);
    ~TSignatureVerifier();
    TSignatureVerifier(TSignatureVerifier&& other) noexcept;
    TSignatureVerifier& operator=(TSignatureVerifier&& other) noexcept;
    TSignatureVerifier(const TSignatureVerifier&) = delete;
    TSignatureVerifier& operator=(const TSignatureVerifier&) = delete;

    bool isUsable() const { return m_pKey != nullptr; }
    // Whether Signature (64 raw bytes) was made over exactly Document.
    bool verify(const QByteArray& Document, const QByteArray& Signature) const;

private:
    struct TKeyDeleter {
        void operator()(evp_pkey_st* Key) const;
    };
    std::unique_ptr<evp_pkey_st, TKeyDeleter> m_pKey;
};

} // namespace shared
