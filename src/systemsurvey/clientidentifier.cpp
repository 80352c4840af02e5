#include "systemsurvey/clientidentifier.h"

#include <QCryptographicHash>
#include <QNetworkInterface>

namespace systemsurvey {

namespace {

// Fixed for all launchers so that one machine always gets the same identifier;
// it keeps the digest from matching a plain hash of the addresses.
const char* const Salt = "5e0c2a7d-3b19-4f6e-a2c4-7d81e9b06f35";

QString computeClientIdentifier() {
    QStringList addresses;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& networkInterface : interfaces) {
        addresses.append(networkInterface.hardwareAddress());
    }
    return clientIdentifierFor(addresses);
}

} // namespace

QString clientIdentifier() {
    static const QString identifier = computeClientIdentifier();
    return identifier;
}

QString clientIdentifierFor(const QStringList& HardwareAddresses) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(QString::fromLatin1(Salt).toLocal8Bit());
    for (const QString& address : HardwareAddresses) {
        hash.addData(address.toLocal8Bit());
    }
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace systemsurvey
