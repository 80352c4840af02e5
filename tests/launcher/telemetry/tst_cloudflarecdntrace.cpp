#include "launcher/telemetry/cloudflarecdntrace.h"
#include "shared/network/downloadpool.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QSignalSpy>
#include <QTest>

using mirrel::launcher::TCdnTraceValues;
using mirrel::launcher::TCloudflareCdnTrace;
using testsupport::operator""_qs;

class TestCloudflareCdnTrace : public QObject {
    Q_OBJECT

private slots:
    void parse_data() {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("formatted");
        QTest::newRow("the four keys") << u"fl=123f45\nip=192.0.2.1\nts=1700000000.123\nuag=x\ncolo=FRA\n"_qs
                                       << u"FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"_qs;
        // Keys match without regard to case; values lose surrounding white space (a CRLF document
        // leaves a carriage return on every value); a later line of the same key wins.
        QTest::newRow("case, blanks, repeats") << u"COLO=AMS\r\nIp= 2001:db8::1 \r\nFL=1\r\nfl=2\r\n"_qs
                                               << u"FL: 2, TS: , COLO: AMS, IP: 2001:db8::1"_qs;
        // "ts==5" splits into two parts once the empty one is dropped.
        QTest::newRow("malformed lines")
            << u"fl=\nts=1=2\ncolo\n=FRA\nip=192.0.2.7\n\nfl=ok\nts==5\nxcolo=no\n"_qs
            << u"FL: ok, TS: 5, COLO: , IP: 192.0.2.7"_qs;
        QTest::newRow("nothing known")
            << u"h=example\nvisit_scheme=https\n"_qs << u"FL: , TS: , COLO: , IP: "_qs;
    }

    void parse() {
        QFETCH(QString, document);
        QFETCH(QString, formatted);
        QCOMPARE(TCdnTraceValues::parse(document).formatted(), formatted);
    }

    // The trace is asked for once; its answer, good or bad, is kept for the rest of the process, and
    // other downloads of the shared pool are not taken for it.
    void askedOnceAndKept_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("failed");
        QTest::newRow("received") << u"cdn-cgi/trace"_qs << false;
        QTest::newRow("server error") << u"broken"_qs << true;
        QTest::newRow("no address") << QString() << true;
    }

    void askedOnceAndKept() {
        QFETCH(QString, path);
        QFETCH(bool, failed);
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
        QCOMPARE(received.at(0).at(0).toBool(), failed);
        QCOMPARE(trace.isFailed(), failed);
        QCOMPARE(trace.isReceived(), !failed);
        QCOMPARE(trace.formattedText().startsWith(u"FL: 123f45"_qs), !failed);
        trace.request();
        QVERIFY(!trace.isRequested());
        QCOMPARE(pPool->outstandingDownloadCount(), 0);
        QCOMPARE(received.count(), 1);
        QVERIFY(path.isEmpty() || nginx.waitForRequestCount(u'/' + path, 1));
        QCOMPARE(nginx.requestCount(u'/' + path), path.isEmpty() ? 0 : 1);
    }
};

LAUNCHER_TEST(TestCloudflareCdnTrace)
#include "tst_cloudflarecdntrace.moc"
