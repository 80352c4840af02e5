#include "support/testnetwork.h"

#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include <QBuffer>
#include <QImage>
#include <QNetworkAccessManager>
#include <QTcpServer>

namespace testsupport {

std::shared_ptr<shared::TDownloadPool> makeDownloadPool(int MaxConcurrentDownloads, bool AutoRelease) {
    auto pAccessManager =
        std::make_shared<shared::QNetworkAccessManagerWrapper>(std::make_shared<QNetworkAccessManager>());
    return std::make_shared<shared::TDownloadPool>(MaxConcurrentDownloads, pAccessManager, nullptr,
                                                   AutoRelease);
}

QUrl closedLoopbackUrl(const QString& Path) {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort()) + Path);
}

QByteArray pngOfSize(int Width, int Height, const QColor& Colour) {
    QImage image(Width, Height, QImage::Format_ARGB32);
    image.fill(Colour);
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

} // namespace testsupport
