#include "launcher/settings/downloadratesetting.h"

#include "launcher/telemetry/funneleventsender.h"
#include "shared/network/ratelimiter.h"

#include <QSettings>
#include <QtDebug>

#include <algorithm>

namespace mirrel::launcher {

TDownloadRateSetting::TDownloadRateSetting(int SettingsFileKiBPerSecond,
                                           std::shared_ptr<::shared::TRateLimiter> pLimiter)
    : m_SettingsFileKiBPerSecond(std::max(SettingsFileKiBPerSecond, 0))
    , m_pLimiter(std::move(pLimiter)) {
    apply();
}

QString TDownloadRateSetting::userText() const {
    return TFunnelEventSender::userSettingsStore()
        ->value(QLatin1String(UserSettingsKey))
        .toString()
        .trimmed();
}

int TDownloadRateSetting::kibPerSecond() const {
    bool valid = false;
    const int user = userText().toInt(&valid);
    return valid && user > 0 ? user : m_SettingsFileKiBPerSecond;
}

bool TDownloadRateSetting::setUserText(const QString& Text) {
    const QString trimmed = Text.trimmed();
    bool valid = false;
    const int value = trimmed.toInt(&valid);
    if (!trimmed.isEmpty() && (!valid || value < 0)) {
        return false;
    }
    const std::unique_ptr<QSettings> store = TFunnelEventSender::userSettingsStore();
    if (trimmed.isEmpty() || value == 0) {
        store->remove(QLatin1String(UserSettingsKey));
    } else {
        store->setValue(QLatin1String(UserSettingsKey), value);
    }
    store->sync();
    apply();
    return true;
}

void TDownloadRateSetting::apply() const {
    const int limit = kibPerSecond();
    qInfo().noquote() << (limit > 0 ? QStringLiteral("Download speed limit: %1 KiB/s").arg(limit)
                                    : QStringLiteral("Download speed limit: none"));
    if (m_pLimiter) {
        m_pLimiter->setBytesPerSecond(qint64(limit) * 1024);
    }
}

} // namespace mirrel::launcher
