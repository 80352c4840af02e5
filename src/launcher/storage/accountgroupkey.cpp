#include "launcher/storage/accountgroupkey.h"

#include <QDebug>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace mirrel::launcher {

QString accountGroupKeyFrom(const QJsonObject& accountGroup) {
    const QJsonValue key = accountGroup.value(QStringLiteral("Key"));
    if (key.isString()) {
        return key.toString();
    }
    if (accountGroup.isEmpty()) {
        qWarning().noquote() << "AccountGroupSetting Error: Empty";
    } else if (key.isUndefined()) {
        qWarning().noquote() << "AccountGroupSetting Error: KeyNotExists";
    } else {
        qWarning().noquote() << "AccountGroupSetting Error: KeyNoString";
    }
    return QString();
}

} // namespace mirrel::launcher
