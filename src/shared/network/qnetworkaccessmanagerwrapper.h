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
// manager's operation of the same name.
class QNetworkAccessManagerWrapper : public QObject {
    Q_OBJECT
public:
    explicit QNetworkAccessManagerWrapper(std::shared_ptr<QNetworkAccessManager> pAccessManager,
                                          QObject* parent = nullptr);

    // The returned wrapper is a child of the new reply (or holds null when the
    // manager gives none).
    virtual QNetworkReplyWrapper* get(const QNetworkRequest& request);
    virtual void setCache(QAbstractNetworkCache* pCache);
    virtual void setRedirectPolicy(QNetworkRequest::RedirectPolicy policy);

    std::shared_ptr<QNetworkAccessManager> accessManager() const { return m_pAccessManager; }

signals:
    void authenticationRequired(QNetworkReply* pReply, QAuthenticator* pAuthenticator);

private:
    std::shared_ptr<QNetworkAccessManager> m_pAccessManager;
};

} // namespace shared
