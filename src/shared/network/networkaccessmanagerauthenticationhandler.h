#pragma once

#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>

namespace shared {

// Credentials by realm for servers that ask for authentication. The launcher's
// servers never do, so the table stays empty.
class TNetworkAccessManagerAuthenticationHandler : public QObject {
    Q_OBJECT
public:
    explicit TNetworkAccessManagerAuthenticationHandler(QObject* parent = nullptr);

    bool hasCredentials(const QString& realm) const { return m_credentialsByRealm.contains(realm); }

private:
    // realm -> (user, password)
    QMap<QString, QPair<QString, QString>> m_credentialsByRealm;
};

} // namespace shared
