#include "launcher/package/resolveurl.h"

#include <QString>
#include <QUrl>

namespace mirrel::launcher {

QUrl resolveUrl(const QUrl& baseUrl, const QUrl& url) {
    if (!url.isRelative()) {
        return url;
    }
    const QString basePath = baseUrl.path(QUrl::FullyDecoded);
    const QString urlPath = url.path(QUrl::FullyDecoded);
    const bool needsSeparator = !basePath.endsWith(QLatin1Char('/')) && !urlPath.startsWith(QLatin1Char('/'));

    QUrl resolved = baseUrl;
    resolved.setPath(needsSeparator ? basePath + QLatin1Char('/') + urlPath : basePath + urlPath,
                     QUrl::DecodedMode);
    resolved.setQuery(QString());
    return resolved;
}

} // namespace mirrel::launcher
