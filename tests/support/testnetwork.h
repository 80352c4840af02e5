#pragma once

#include <QByteArray>
#include <QColor>
#include <QUrl>

#include <memory>

namespace shared {
class TDownloadPool;
}

namespace testsupport {

// A download pool on its own network access manager, as the launcher builds its
// application-wide one (automatic release by default).
std::shared_ptr<shared::TDownloadPool> makeDownloadPool(int MaxConcurrentDownloads = 6,
                                                        bool AutoRelease = true);

// An address on 127.0.0.1 where nothing listens: connections are refused at once.
QUrl closedLoopbackUrl(const QString& Path = QStringLiteral("x"));

// A PNG picture of one colour, as a hints server would send it.
QByteArray pngOfSize(int Width, int Height, const QColor& Colour = QColor(90, 70, 40));

} // namespace testsupport
