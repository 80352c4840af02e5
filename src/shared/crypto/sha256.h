#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct evp_md_ctx_st;

namespace shared {

// SHA-256 over data fed in any number of pieces. Every hash in the system goes
// through this class, so a single fast implementation (libcrypto's) serves the
// installer, the downloader and the verification alike.
class TSha256 {
public:
    static constexpr int HashSize = 32;

    TSha256();
    ~TSha256();
    TSha256(TSha256&& other) noexcept;
    TSha256& operator=(TSha256&& other) noexcept;
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;

    void addData(const char* data, qint64 length);
    void addData(const QByteArray& data);

    // The 32 raw bytes of the digest. Afterwards the object starts a new hash.
    QByteArray result();

    // Starts over as if freshly constructed.
    void reset();

    static QByteArray hash(const QByteArray& data);
    static QByteArray hash(const char* data, qint64 length);

    // Hashes a whole file; throws std::runtime_error with the usual I/O error
    // text when the file cannot be opened or read.
    static QByteArray hashFile(const QString& path);

private:
    struct TContextDeleter {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, TContextDeleter> m_pContext;
};

} // namespace shared
