#include "shared/widgets/qtextbrowserwithnetwork.h"

#include "shared/network/downloadpool.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>

using namespace testsupport;

class TestQTextBrowserWithNetwork : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_Nginx.writeFile(u"hints/picture.png"_qs, pngOfSize(64, 48)));
        QVERIFY(m_Nginx.writeFile(u"other.png"_qs, pngOfSize(8, 8)));
        QVERIFY2(m_Nginx.start(), qPrintable(m_Nginx.errorString()));
    }

    void showsPictureOnceItArrives() {
        const auto pPool = makeDownloadPool();
        QSignalSpy success(pPool.get(), &shared::TDownloadPool::success);
        shared::QTextBrowserWithNetwork browser(nullptr, pPool);
        browser.resize(300, 200);
        browser.show();
        const QUrl picture = m_Nginx.url(u"hints/picture.png"_qs);
        browser.setHtml(u"<p>Before</p><img src=\"%1\"><p>After</p>"_qs.arg(picture.toString()));
        // Until the picture is there, the document lays out a transparent stand-in.
        const QImage standIn = browser.loadResource(QTextDocument::ImageResource, picture).value<QImage>();
        QCOMPARE(standIn.size(), QSize(32, 32));
        QCOMPARE(standIn.pixelColor(5, 5).alpha(), 0);
        const qreal heightWithStandIn = browser.document()->size().height();

        QVERIFY(success.wait());
        const QVariant loaded = browser.loadResource(QTextDocument::ImageResource, picture);
        QCOMPARE(QImage::fromData(loaded.toByteArray()).size(), QSize(64, 48));
        QVERIFY(browser.document()->size().height() > heightWithStandIn);
        // The picture is fetched once; later layouts take it from the cache.
        browser.setHtml(browser.toHtml());
        QTest::qWait(100);
        QCOMPARE(pPool->outstandingDownloadCount(), 0);
        QVERIFY(m_Nginx.waitForRequestCount(u"/hints/picture.png"_qs, 1));
    }

    void takesOnlyWhatItAskedFor() {
        const auto pPool = makeDownloadPool();
        QSignalSpy success(pPool.get(), &shared::TDownloadPool::success);
        QSignalSpy failed(pPool.get(), &shared::TDownloadPool::failed);
        shared::QTextBrowserWithNetwork browser(nullptr, pPool);
        browser.show();
        // A failed picture keeps its stand-in and is not asked for again.
        const QUrl missing = m_Nginx.url(u"hints/missing.png"_qs);
        browser.setHtml(u"<img src=\"%1\">"_qs.arg(missing.toString()));
        QVERIFY(failed.wait());
        QCOMPARE(browser.loadResource(QTextDocument::ImageResource, missing).type(), QVariant::Image);
        // A picture someone else downloaded is not cached: asking for it starts a download of its own.
        const QUrl other = m_Nginx.url(u"other.png"_qs);
        pPool->download(other);
        QVERIFY(success.wait());
        QCOMPARE(browser.loadResource(QTextDocument::ImageResource, other).type(), QVariant::Image);
        QVERIFY(success.wait());
        QCOMPARE(browser.loadResource(QTextDocument::ImageResource, other).type(), QVariant::ByteArray);
        // Other schemes (names compared exactly) are not fetched from the network.
        browser.loadResource(QTextDocument::ImageResource, QUrl(u"HTTPX://127.0.0.1/x.png"_qs));
        browser.loadResource(QTextDocument::ImageResource, QUrl::fromLocalFile(u"/nonexistent.png"_qs));
        QCOMPARE(pPool->outstandingDownloadCount(), 0);
    }

private:
    TNginxFixture m_Nginx;
};

LAUNCHER_TEST(TestQTextBrowserWithNetwork)
#include "tst_qtextbrowserwithnetwork.moc"
