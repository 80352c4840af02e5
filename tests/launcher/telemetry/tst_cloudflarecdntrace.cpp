#include "launcher/telemetry/cloudflarecdntrace.h"

#include "shared/network/downloadpool.h"
#include "support/nginxfixture.h"
#include "support/testnetwork.h"

#include <QSignalSpy>
#include <QTest>

using mirrel::launcher::TCdnTraceValues;
using mirrel::launcher::TCloudflareCdnTrace;

namespace {

const QByteArray TraceDocument = "fl=123f45\nip=192.0.2.1\nts=1700000000.123\nuag=x\ncolo=FRA\n";

} // namespace

class TestCloudflareCdnTrace : public QObject {
    Q_OBJECT

private slots:
    void parsesTheFourKeys() {
        QCOMPARE(TCdnTraceValues::parse(QString::fromUtf8(TraceDocument)).formatted(),
                 QStringLiteral("FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"));

        // Keys match without regard to case, values lose surrounding white space
        // (a CRLF document leaves a carriage return on every value), and a later
        // line of the same key wins.
        const TCdnTraceValues values =
            TCdnTraceValues::parse(QStringLiteral("COLO=AMS\r\nIp= 2001:db8::1 \r\nFL=1\r\nfl=2\r\n"));
        QCOMPARE(values.m_Colo, QStringLiteral("AMS"));
        QCOMPARE(values.m_Ip, QStringLiteral("2001:db8::1"));
        QCOMPARE(values.m_Fl, QStringLiteral("2"));
        QCOMPARE(values.m_Ts, QString());
    }

    void skipsMalformedLines() {
        const TCdnTraceValues values = TCdnTraceValues::parse(
            QStringLiteral("fl=\nts=1=2\ncolo\n=FRA\nip=192.0.2.7\n\n\nfl=ok\nts==5\ncolo==\nxcolo=nope\n"));
        QCOMPARE(values.m_Fl, QStringLiteral("ok"));
        // "ts==5" splits into two parts once the empty one is dropped.
        QCOMPARE(values.m_Ts, QStringLiteral("5"));
        QCOMPARE(values.m_Colo, QString());
        QCOMPARE(values.m_Ip, QStringLiteral("192.0.2.7"));
    }

    void keepsOnlyWhatTheDocumentHolds() {
        QCOMPARE(TCdnTraceValues::parse(QStringLiteral("h=example\nvisit_scheme=https\n")).formatted(),
                 QStringLiteral("FL: , TS: , COLO: , IP: "));
        QCOMPARE(TCdnTraceValues::parse(QString()).formatted(), QStringLiteral("FL: , TS: , COLO: , IP: "));
    }

    void receivesTraceOnceFromServer() {
        testsupport::TNginxFixture nginx;
        nginx.writeFile(QStringLiteral("cdn-cgi/trace"), TraceDocument);
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        TCloudflareCdnTrace trace(nginx.url(QStringLiteral("cdn-cgi/trace")),
                                  testsupport::makeDownloadPool());
        QSignalSpy received(&trace, &TCloudflareCdnTrace::diagnosticsTraceReceived);
        QVERIFY(!trace.isRequested() && !trace.isReceived() && !trace.isFailed());

        trace.request();
        QVERIFY(trace.isRequested());
        trace.request();
        QVERIFY(received.wait());
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toBool(), false);
        QVERIFY(trace.isReceived());
        QVERIFY(!trace.isFailed());
        QVERIFY(!trace.isRequested());
        QCOMPARE(trace.formattedText(),
                 QStringLiteral("FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"));

        // A received trace is kept for the rest of the process.
        trace.request();
        QVERIFY(!trace.isRequested());
        QTest::qWait(200);
        QCOMPARE(received.count(), 1);
        QVERIFY(nginx.waitForRequestCount(QStringLiteral("/cdn-cgi/trace"), 1));
        QCOMPARE(nginx.requestCount(QStringLiteral("/cdn-cgi/trace")), 1);
    }

    void ignoresOtherDownloadsOfThePool() {
        testsupport::TNginxFixture nginx;
        nginx.writeFile(QStringLiteral("cdn-cgi/trace"), TraceDocument);
        nginx.writeFile(QStringLiteral("other.txt"), "fl=wrong\ncolo=XXX\n");
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        const std::shared_ptr<shared::TDownloadPool> pPool = testsupport::makeDownloadPool();
        TCloudflareCdnTrace trace(nginx.url(QStringLiteral("cdn-cgi/trace")), pPool);
        QSignalSpy received(&trace, &TCloudflareCdnTrace::diagnosticsTraceReceived);
        QSignalSpy poolSuccess(pPool.get(), &shared::TDownloadPool::success);
        QSignalSpy poolFailed(pPool.get(), &shared::TDownloadPool::failed);

        pPool->download(nginx.url(QStringLiteral("other.txt")));
        pPool->download(nginx.url(QStringLiteral("missing.txt")));
        QTRY_COMPARE(poolSuccess.count() + poolFailed.count(), 2);
        QCOMPARE(received.count(), 0);
        QVERIFY(!trace.isReceived() && !trace.isFailed());

        trace.request();
        QVERIFY(received.wait());
        QCOMPARE(trace.formattedText(),
                 QStringLiteral("FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"));
    }

    void failsOnServerError() {
        testsupport::TNginxFixture nginx;
        nginx.addFixedStatus(QStringLiteral("/cdn-cgi/trace"), 503);
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        TCloudflareCdnTrace trace(nginx.url(QStringLiteral("cdn-cgi/trace")),
                                  testsupport::makeDownloadPool());
        QSignalSpy received(&trace, &TCloudflareCdnTrace::diagnosticsTraceReceived);
        trace.request();
        QVERIFY(received.wait());
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toBool(), true);
        QVERIFY(trace.isFailed());
        QVERIFY(!trace.isReceived() && !trace.isRequested());

        // A failed trace is not asked for again.
        trace.request();
        QTest::qWait(200);
        QCOMPARE(received.count(), 1);
        QCOMPARE(nginx.requestCount(QStringLiteral("/cdn-cgi/trace")), 1);
    }

    void failsAtOnceWithoutAddress() {
        const std::shared_ptr<shared::TDownloadPool> pPool = testsupport::makeDownloadPool();
        TCloudflareCdnTrace trace(QUrl(), pPool);
        QSignalSpy received(&trace, &TCloudflareCdnTrace::diagnosticsTraceReceived);
        trace.request();
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toBool(), true);
        QVERIFY(trace.isFailed());
        QCOMPARE(pPool->outstandingDownloadCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCloudflareCdnTrace)
#include "tst_cloudflarecdntrace.moc"
