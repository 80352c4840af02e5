#include "launcher/telemetry/cloudflarecdntrace.h"
#include "shared/network/downloadpool.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QSignalSpy>
#include <QTest>

using mirrel::launcher::TCloudflareCdnTrace;
using testsupport::operator""_qs;

class TestCloudflareCdnTrace : public QObject {
    Q_OBJECT

private slots:
    void parse() {
        const std::pair<QString, QString> cases[] = {
            {u"fl=123f45\nip=192.0.2.1\nts=1700000000.123\nuag=x\ncolo=FRA\n"_qs,
             u"FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"_qs},
            // Keys match in any case; values are trimmed (CRLF too); a later line of the same key wins.
            {u"COLO=AMS\r\nIp= 2001:db8::1 \r\nFL=1\r\nfl=2\r\n"_qs,
             u"FL: 2, TS: , COLO: AMS, IP: 2001:db8::1"_qs},
            // Malformed lines are skipped; "ts==5" splits into two parts once the empty one is dropped.
            {u"fl=\nts=1=2\ncolo\n=FRA\nip=192.0.2.7\n\nfl=ok\nts==5\nxcolo=no\n"_qs,
             u"FL: ok, TS: 5, COLO: , IP: 192.0.2.7"_qs}};
        for (const auto& [document, formatted] : cases) {
            QCOMPARE(mirrel::launcher::TCdnTraceValues::parse(document).formatted(), formatted);
        }
    }

    // The trace is asked once and its answer kept; other downloads of the pool are not taken for it.
    void askedOnceAndKept_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("received") << u"cdn-cgi/trace"_qs;
        QTest::newRow("server error") << u"broken"_qs;
        QTest::newRow("no address") << QString();
    }

    void askedOnceAndKept() {
        QFETCH(QString, path);
        testsupport::TNginxFixture nginx;
        nginx.writeFile(u"cdn-cgi/trace"_qs, "fl=123f45\ncolo=FRA\n");
        nginx.writeFile(u"other.txt"_qs, "fl=wrong\n");
        nginx.addFixedStatus(u"/broken"_qs, 503);
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        const std::shared_ptr<shared::TDownloadPool> pPool = testsupport::makeDownloadPool();
        TCloudflareCdnTrace trace(path.isEmpty() ? QUrl() : nginx.url(path), pPool);
        QSignalSpy received(&trace, &TCloudflareCdnTrace::diagnosticsTraceReceived);
        QSignalSpy others(pPool.get(), &shared::TDownloadPool::success);
        pPool->download(nginx.url(u"other.txt"_qs));
        QVERIFY(others.wait());
        trace.request();
        trace.request();
        QVERIFY(received.count() == 1 || received.wait());
        const bool failed = path != u"cdn-cgi/trace"_qs;
        QCOMPARE(received.at(0).at(0).toBool(), failed);
        QVERIFY(trace.isFailed() == failed && trace.isReceived() == !failed);
        QCOMPARE(trace.formattedText().startsWith(u"FL: 123f45"_qs), !failed);
        trace.request();
        QVERIFY(!trace.isRequested() && pPool->outstandingDownloadCount() == 0 && received.count() == 1);
        QVERIFY(path.isEmpty() || nginx.waitForRequestCount(u'/' + path, 1));
        QCOMPARE(nginx.requestCount(u'/' + path), path.isEmpty() ? 0 : 1);
    }
};

LAUNCHER_TEST(TestCloudflareCdnTrace)
#include "tst_cloudflarecdntrace.moc"
