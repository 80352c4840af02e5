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

namespace {

const QByteArray TraceDocument = "fl=123f45\nip=192.0.2.1\nts=1700000000.123\nuag=x\ncolo=FRA\n";

} // namespace

class TestCloudflareCdnTrace : public QObject {
    Q_OBJECT

private slots:
    void parsesTheFourKeys() {
        QCOMPARE(TCdnTraceValues::parse(QString::fromUtf8(TraceDocument)).formatted(),
                 u"FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"_qs);

        // Keys match without regard to case, values lose surrounding white space
        // (a CRLF document leaves a carriage return on every value), and a later
        // line of the same key wins.
        const TCdnTraceValues values =
            TCdnTraceValues::parse(u"COLO=AMS\r\nIp= 2001:db8::1 \r\nFL=1\r\nfl=2\r\n"_qs);
        QCOMPARE(values.m_Colo, u"AMS"_qs);
        QCOMPARE(values.m_Ip, u"2001:db8::1"_qs);
        QCOMPARE(values.m_Fl, u"2"_qs);
        QCOMPARE(values.m_Ts, QString());
    }

    void skipsMalformedLines() {
        const TCdnTraceValues values = TCdnTraceValues::parse(
            u"fl=\nts=1=2\ncolo\n=FRA\nip=192.0.2.7\n\n\nfl=ok\nts==5\ncolo==\nxcolo=nope\n"_qs);
        QCOMPARE(values.m_Fl, u"ok"_qs);
        // "ts==5" splits into two parts once the empty one is dropped.
        QCOMPARE(values.m_Ts, u"5"_qs);
        QCOMPARE(values.m_Colo, QString());
        QCOMPARE(values.m_Ip, u"192.0.2.7"_qs);
    }

    void keepsOnlyWhatTheDocumentHolds() {
        QCOMPARE(TCdnTraceValues::parse(u"h=example\nvisit_scheme=https\n"_qs).formatted(),
                 u"FL: , TS: , COLO: , IP: "_qs);
        QCOMPARE(TCdnTraceValues::parse(QString()).formatted(), u"FL: , TS: , COLO: , IP: "_qs);
    }

    void receivesTraceOnceFromServer() {
        testsupport::TNginxFixture nginx;
        nginx.writeFile(u"cdn-cgi/trace"_qs, TraceDocument);
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        TCloudflareCdnTrace trace(nginx.url(u"cdn-cgi/trace"_qs), testsupport::makeDownloadPool());
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
        QCOMPARE(trace.formattedText(), u"FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"_qs);

        // A received trace is kept for the rest of the process.
        trace.request();
        QVERIFY(!trace.isRequested());
        QTest::qWait(200);
        QCOMPARE(received.count(), 1);
        QVERIFY(nginx.waitForRequestCount(u"/cdn-cgi/trace"_qs, 1));
        QCOMPARE(nginx.requestCount(u"/cdn-cgi/trace"_qs), 1);
    }

    void ignoresOtherDownloadsOfThePool() {
        testsupport::TNginxFixture nginx;
        nginx.writeFile(u"cdn-cgi/trace"_qs, TraceDocument);
        nginx.writeFile(u"other.txt"_qs, "fl=wrong\ncolo=XXX\n");
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        const std::shared_ptr<shared::TDownloadPool> pPool = testsupport::makeDownloadPool();
        TCloudflareCdnTrace trace(nginx.url(u"cdn-cgi/trace"_qs), pPool);
        QSignalSpy received(&trace, &TCloudflareCdnTrace::diagnosticsTraceReceived);
        QSignalSpy poolSuccess(pPool.get(), &shared::TDownloadPool::success);
        QSignalSpy poolFailed(pPool.get(), &shared::TDownloadPool::failed);

        pPool->download(nginx.url(u"other.txt"_qs));
        pPool->download(nginx.url(u"missing.txt"_qs));
        QTRY_COMPARE(poolSuccess.count() + poolFailed.count(), 2);
        QCOMPARE(received.count(), 0);
        QVERIFY(!trace.isReceived() && !trace.isFailed());

        trace.request();
        QVERIFY(received.wait());
        QCOMPARE(trace.formattedText(), u"FL: 123f45, TS: 1700000000.123, COLO: FRA, IP: 192.0.2.1"_qs);
    }

    void failsOnServerError() {
        testsupport::TNginxFixture nginx;
        nginx.addFixedStatus(u"/cdn-cgi/trace"_qs, 503);
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        TCloudflareCdnTrace trace(nginx.url(u"cdn-cgi/trace"_qs), testsupport::makeDownloadPool());
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
        QCOMPARE(nginx.requestCount(u"/cdn-cgi/trace"_qs), 1);
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

LAUNCHER_TEST(TestCloudflareCdnTrace)
#include "tst_cloudflarecdntrace.moc"
