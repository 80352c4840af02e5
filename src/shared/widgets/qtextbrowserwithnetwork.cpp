#include "shared/widgets/qtextbrowserwithnetwork.h"

#include "shared/network/downloadpool.h"

#include <QDebug>
#include <QImage>
#include <QMetaEnum>
#include <QTextDocument>

namespace shared {

namespace {

bool isNetworkScheme(const QUrl& Url) {
    const QString scheme = Url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("ftp");
}

QVariant placeholderFor(int Type) {
    if (Type == QTextDocument::ImageResource) {
        QImage transparent(32, 32, QImage::Format_ARGB32_Premultiplied);
        transparent.fill(Qt::transparent);
        return transparent;
    }
    return Type;
}

} // namespace

QTextBrowserWithNetwork::QTextBrowserWithNetwork(QWidget* parent,
                                                 std::shared_ptr<TDownloadPool> pDownloadPool)
    : QTextBrowser(parent)
    , m_pDownloadPool(std::move(pDownloadPool)) {
    connect(m_pDownloadPool.get(), &TDownloadPool::success, this,
            &QTextBrowserWithNetwork::onDownloadFinished);
    connect(m_pDownloadPool.get(), &TDownloadPool::failed, this, &QTextBrowserWithNetwork::onDownloadFailed);
}

QVariant QTextBrowserWithNetwork::loadResource(int type, const QUrl& name) {
    const auto cached = m_ResourceCache.constFind(name);
    if (cached != m_ResourceCache.constEnd()) {
        return cached.value();
    }
    if (isNetworkScheme(name)) {
        const QVariant placeholder = placeholderFor(type);
        m_ResourceCache.insert(name, placeholder);
        m_RequestedUrls.insert(name);
        m_pDownloadPool->download(name);
        return placeholder;
    }
    const QVariant resource = QTextBrowser::loadResource(type, name);
    m_ResourceCache.insert(name, resource);
    return resource;
}

QSize QTextBrowserWithNetwork::sizeHint() const {
    return document()->size().toSize();
}

int QTextBrowserWithNetwork::heightForWidth(int width) const {
    Q_UNUSED(width)
    return static_cast<int>(document()->size().height());
}

void QTextBrowserWithNetwork::onDownloadFinished(QUrl Url, QByteArray Data) {
    if (!m_RequestedUrls.contains(Url)) {
        return;
    }
    m_ResourceCache.insert(Url, Data);
    // Laying the document out again makes it ask for its resources once more,
    // and this time they come from the cache.
    setHtml(toHtml());
    updateGeometry();
}

void QTextBrowserWithNetwork::onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code,
                                               QString ErrorString) {
    if (!m_RequestedUrls.contains(Url)) {
        return;
    }
    qWarning() << "Download failed:" << Url
               << QMetaEnum::fromType<QNetworkReply::NetworkError>().valueToKey(Code) << ErrorString;
}

} // namespace shared
