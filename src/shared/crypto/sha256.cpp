#include "shared/crypto/sha256.h"

#include "shared/filesystemhelper/ioerror.h"

#include <QFile>

#include <stdexcept>

#include <openssl/evp.h>

namespace shared {

namespace {

[[noreturn]] void throwCryptoFailure(const char* operation) {
    throw std::runtime_error(std::string("SHA-256 failure in ") + operation);
}

} // namespace

void TSha256::TContextDeleter::operator()(evp_md_ctx_st* context) const {
    EVP_MD_CTX_free(context);
}

TSha256::TSha256()
    : m_pContext(EVP_MD_CTX_new()) {
    if (!m_pContext)
        throwCryptoFailure("EVP_MD_CTX_new");
    reset();
}

TSha256::~TSha256() = default;
TSha256::TSha256(TSha256&& other) noexcept = default;
TSha256& TSha256::operator=(TSha256&& other) noexcept = default;

void TSha256::reset() {
    if (!m_pContext)
        m_pContext.reset(EVP_MD_CTX_new());
    if (!m_pContext || EVP_DigestInit_ex(m_pContext.get(), EVP_sha256(), nullptr) != 1)
        throwCryptoFailure("EVP_DigestInit_ex");
}

void TSha256::addData(const char* data, qint64 length) {
    if (length <= 0)
        return;
    if (!m_pContext)
        reset();
    if (EVP_DigestUpdate(m_pContext.get(), data, static_cast<size_t>(length)) != 1)
        throwCryptoFailure("EVP_DigestUpdate");
}

void TSha256::addData(const QByteArray& data) {
    addData(data.constData(), data.size());
}

QByteArray TSha256::result() {
    if (!m_pContext)
        reset();
    QByteArray digest(HashSize, Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_pContext.get(), reinterpret_cast<unsigned char*>(digest.data()), &length) != 1 ||
        length != HashSize)
        throwCryptoFailure("EVP_DigestFinal_ex");
    reset();
    return digest;
}

QByteArray TSha256::hash(const char* data, qint64 length) {
    TSha256 sha;
    sha.addData(data, length);
    return sha.result();
}

QByteArray TSha256::hash(const QByteArray& data) {
    return hash(data.constData(), data.size());
}

QByteArray TSha256::hashFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw ioError(file.fileName(), file.errorString());
    TSha256 sha;
    constexpr qint64 BlockSize = 1 << 20;
    QByteArray block(BlockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(block.data(), BlockSize);
        if (read < 0)
            throw ioError(file.fileName(), file.errorString());
        if (read == 0)
            break;
        sha.addData(block.constData(), read);
    }
    return sha.result();
}

} // namespace shared
