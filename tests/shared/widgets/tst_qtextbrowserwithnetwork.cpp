#include "shared/widgets/qtextbrowserwithnetwork.h"

#include "shared/network/downloadpool.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

using testsupport::operator""_qs;

namespace {} // namespace

class TestQTextBrowserWithNetwork : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_Nginx.writeFile(u"hints/picture.png"_qs, testsupport::pngOfSize(64, 48, QColor(0x8e, 0xd8, 0x38)));
        m_Nginx.writeFile(u"other.png"_qs, testsupport::pngOfSize(8, 8, QColor(0x8e, 0xd8, 0x38)));
        QVERIFY2(m_Nginx.start(), qPrintable(m_Nginx.errorString()));
    }

    void showsPictureOnceItArrives() {
        const std::shared_ptr<shared::TDownloadPool> pPool = testsupport::makeDownloadPool();
        QSignalSpy success(pPool.get(), &shared::TDownloadPool::success);
        shared::QTextBrowserWithNetwork browser(nullptr, pPool);
        browser.resize(300, 200);
        browser.show();
        const QUrl pictureUrl = m_Nginx.url(u"hints/picture.png"_qs);
        browser.setHtml(u"<p>Before</p><img src=\"%1\"><p>After</p>"_qs.arg(pictureUrl.toString()));

        // Until the picture is there, the document lays out a transparent stand-in.
        const QVariant placeholder = browser.loadResource(QTextDocument::ImageResource, pictureUrl);
        QCOMPARE(placeholder.type(), QVariant::Image);
        const QImage stand = placeholder.value<QImage>();
        QCOMPARE(stand.size(), QSize(32, 32));
        QCOMPARE(stand.pixelColor(5, 5).alpha(), 0);
        const qreal heightWithPlaceholder = browser.document()->size().height();

        QVERIFY(success.wait());
        QCOMPARE(success.count(), 1);
        const QVariant loaded = browser.loadResource(QTextDocument::ImageResource, pictureUrl);
        QCOMPARE(loaded.type(), QVariant::ByteArray);
        QCOMPARE(QImage::fromData(loaded.toByteArray()).size(), QSize(64, 48));
        QVERIFY(browser.document()->size().height() > heightWithPlaceholder);
        QVERIFY(browser.toHtml().contains(u"After"_qs));
        QCOMPARE(browser.sizeHint(), browser.document()->size().toSize());
        QCOMPARE(browser.heightForWidth(123), static_cast<int>(browser.document()->size().height()));

        // The picture is fetched once; later layouts take it from the cache.
        browser.setHtml(browser.toHtml());
        QVERIFY(m_Nginx.waitForRequestCount(u"/hints/picture.png"_qs, 1));
        QTest::qWait(100);
        QCOMPARE(pPool->outstandingDownloadCount(), 0);
        QCOMPARE(m_Nginx.requestCount(u"/hints/picture.png"_qs), 1);
    }

    void logsFailedDownloads() {
        const std::shared_ptr<shared::TDownloadPool> pPool = testsupport::makeDownloadPool();
        QSignalSpy failed(pPool.get(), &shared::TDownloadPool::failed);
        shared::QTextBrowserWithNetwork browser(nullptr, pPool);
        browser.resize(300, 200);
        browser.show();
        const QUrl missing = m_Nginx.url(u"hints/missing.png"_qs);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Download failed: .*missing\\.png.*"
                                                              "ContentNotFoundError"_qs));
        browser.setHtml(u"<img src=\"%1\">"_qs.arg(missing.toString()));
        QVERIFY(failed.wait());
        // The stand-in stays; nothing is fetched again for this document.
        QCOMPARE(browser.loadResource(QTextDocument::ImageResource, missing).type(), QVariant::Image);
        QCOMPARE(pPool->outstandingDownloadCount(), 0);
    }

    void ignoresDownloadsItDidNotAskFor() {
        const std::shared_ptr<shared::TDownloadPool> pPool = testsupport::makeDownloadPool();
        QSignalSpy success(pPool.get(), &shared::TDownloadPool::success);
        shared::QTextBrowserWithNetwork browser(nullptr, pPool);
        browser.setHtml(u"<p>plain</p>"_qs);
        const QUrl other = m_Nginx.url(u"other.png"_qs);
        pPool->download(other);
        QVERIFY(success.wait());
        QCOMPARE(browser.toHtml().contains(u"plain"_qs), true);

        // Not cached: asking for it now starts a download of its own.
        QCOMPARE(browser.loadResource(QTextDocument::ImageResource, other).type(), QVariant::Image);
        QCOMPARE(pPool->outstandingDownloadCount(), 1);
        QVERIFY(success.wait());
        QCOMPARE(browser.loadResource(QTextDocument::ImageResource, other).type(), QVariant::ByteArray);
    }

    void loadsLocalResourcesDirectly() {
        const std::shared_ptr<shared::TDownloadPool> pPool = testsupport::makeDownloadPool();
        shared::QTextBrowserWithNetwork browser(nullptr, pPool);
        QTemporaryDir directory;
        QFile file(directory.filePath(u"local.png"_qs));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(testsupport::pngOfSize(10, 20, QColor(0x8e, 0xd8, 0x38)));
        file.close();

        const QVariant local =
            browser.loadResource(QTextDocument::ImageResource, QUrl::fromLocalFile(file.fileName()));
        QVERIFY(local.isValid());
        QCOMPARE(pPool->outstandingDownloadCount(), 0);
        // Scheme names are compared exactly: "HTTP" is not fetched from the network.
        browser.loadResource(QTextDocument::ImageResource, QUrl(u"HTTPX://127.0.0.1/x.png"_qs));
        QCOMPARE(pPool->outstandingDownloadCount(), 0);
    }

private:
    testsupport::TNginxFixture m_Nginx;
};

LAUNCHER_TEST(TestQTextBrowserWithNetwork)
#include "tst_qtextbrowserwithnetwork.moc"
