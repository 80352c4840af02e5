#pragma once

#include <QMap>
#include <QNetworkReply>
#include <QSet>
#include <QTextBrowser>
#include <QUrl>
#include <QVariant>

#include <memory>

namespace shared {

class TDownloadPool;

// A text browser whose documents may name images on web servers: they are
// fetched through the download pool and shown once they arrive.
class QTextBrowserWithNetwork : public QTextBrowser {
    Q_OBJECT

public:
    QTextBrowserWithNetwork(QWidget* parent, std::shared_ptr<TDownloadPool> pDownloadPool);

    QVariant loadResource(int type, const QUrl& name) override;
    QSize sizeHint() const override;
    int heightForWidth(int width) const override;

private slots:
    void onDownloadFinished(QUrl Url, QByteArray Data);
    void onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code, QString ErrorString);

private:
    std::shared_ptr<TDownloadPool> m_pDownloadPool;
    QMap<QUrl, QVariant> m_ResourceCache;
    // Only what this browser asked for is kept: the pool is shared with the
    // launcher's other downloads, which may be large documents.
    QSet<QUrl> m_RequestedUrls;
};

} // namespace shared
