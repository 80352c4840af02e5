#pragma once

#include <QAuthenticator>
#include <QNetworkRequest>
#include <QObject>

#include <memory>

class QAbstractNetworkCache;
class QNetworkAccessManager;
class QNetworkReply;

namespace shared {

class QNetworkReplyWrapper;

// Puts QNetworkAccessManager behind virtual operations; each forwards to the
// manager's operation of the same name. Every request made through it fails
// once it has received nothing for the transfer stall time-out, so no server
// that accepts a connection and then stays silent holds a transfer forever.
class QNetworkAccessManagerWrapper : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultTransferStallTimeout = 30000; // milliseconds
    explicit QNetworkAccessManagerWrapper(std::shared_ptr<QNetworkAccessManager> pAccessManager,
                                          QObject* parent = nullptr);

    // The returned wrapper is a child of the new reply (or holds null when the
    // manager gives none).
    // A request that brings no time-out of its own gets the stall time-out.
    virtual QNetworkReplyWrapper* get(const QNetworkRequest& request);
    virtual void setCache(QAbstractNetworkCache* pCache);
    virtual void setRedirectPolicy(QNetworkRequest::RedirectPolicy policy);
    // Milliseconds without a received byte after which a transfer fails; values below 1 keep
    // the current one.
    virtual void setTransferStallTimeout(int Milliseconds);
    int transferStallTimeout() const { return m_transferStallTimeout; }

    std::shared_ptr<QNetworkAccessManager> accessManager() const { return m_pAccessManager; }

signals:
    void authenticationRequired(QNetworkReply* pReply, QAuthenticator* pAuthenticator);

private:
    std::shared_ptr<QNetworkAccessManager> m_pAccessManager;
    int m_transferStallTimeout = DefaultTransferStallTimeout;
};

} // namespace shared
