// The download pool against a real nginx (files, fixed statuses, redirects) and the scripted
// server (held answers, resets, stalls, flaky paths).
#include "shared/network/downloadpool.h"
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>

using namespace shared;
using namespace testsupport;

namespace {

const int WaitMs = 15000;

// Every result of a pool in the order it was reported: "ok <path>" or "failed <path> <code>",
// with the bodies of the successes.
struct TResults : QObject {
    Q_OBJECT
public:
    explicit TResults(TDownloadPool& pool) {
        connect(&pool, &TDownloadPool::success, this, [this](const QUrl& url, const QByteArray& data) {
            events.append(u"ok "_qs + url.path());
            bodies.insert(url, data);
            emit reported();
        });
        connect(&pool, &TDownloadPool::failed, this,
                [this](const QUrl& url, QNetworkReply::NetworkError code) {
                    events.append(u"failed %1 %2"_qs.arg(url.path()).arg(int(code)));
                    emit reported();
                });
    }

    // Runs a real event loop, as the launcher does: how a cut connection reaches the HTTP layer
    // depends on whether its data and its end are seen in one go or one after the other.
    bool waitFor(int count, int timeoutMs = WaitMs) {
        QSignalSpy spy(this, &TResults::reported);
        const QDeadlineTimer deadline(timeoutMs);
        while (events.size() < count && !deadline.hasExpired())
            spy.wait(int(qMax<qint64>(1, deadline.remainingTime())));
        // Lets notifications already on their way arrive, so a late second report shows.
        QTest::qWait(100);
        return events.size() >= count;
    }

    QStringList events;
    QMap<QUrl, QByteArray> bodies;

signals:
    void reported();
};

QString failedEvent(const QString& path, QNetworkReply::NetworkError code) {
    return u"failed %1 %2"_qs.arg(path).arg(int(code));
}

} // namespace

class TestDownloadPool : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (int i = 0; i < 4; ++i)
            QVERIFY(m_nginx.writeFile(u"files/f%1.bin"_qs.arg(i), body(i)));
        QVERIFY(m_nginx.writeFile(u"Vantor Online/package [1].json"_qs, "spaced"));
        m_nginx.addFixedStatus(u"/forbidden.json"_qs, 403);
        m_nginx.addFixedStatus(u"/unavailable.json"_qs, 503);
        m_nginx.addFixedStatus(u"/moved.bin"_qs, 302, u"/files/f1.bin"_qs);
        QVERIFY2(m_nginx.start(), qPrintable(m_nginx.errorString()));
        QVERIFY(m_server.start());

        // Queued connections elsewhere carry the error code by this name.
        makeDownloadPool(1, true);
        QCOMPARE(QMetaType::type("QNetworkReply::NetworkError"), qMetaTypeId<QNetworkReply::NetworkError>());
    }

    void startsInQueueOrderUpToTheLimit() {
        TScriptedHttpServer server;
        QVERIFY(server.start());
        const QStringList names{u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs, u"e"_qs, u"f"_qs};
        for (const QString& name : names)
            server.setAnswer(u'/' + name, TScriptedAnswer::ok(name.toUtf8()));
        server.setHoldAnswers(true);
        // A limit of zero holds everything; a URL asked for again moves within the queue.
        auto pool = makeDownloadPool(0, true);
        TResults results(*pool);
        for (const QString& name : names)
            pool->download(server.url(name));
        pool->download(server.url(u"a"_qs));      // b c d e f a
        pool->downloadFirst(server.url(u"e"_qs)); // e b c d f a
        pool->downloadFirst(server.url(u"d"_qs)); // d e b c f a
        pool->download(server.url(u"e"_qs));      // d b c f a e
        QCOMPARE(pool->outstandingDownloadCount(), 6);
        QVERIFY(!results.waitFor(1, 200));
        QCOMPARE(server.totalRequestCount(), 0);

        int mostInFlight = 0;
        connect(&server, &TScriptedHttpServer::requestReceived, pool.get(),
                [&] { mostInFlight = qMax(mostInFlight, server.heldAnswerCount()); });
        pool->setMaxConcurrentDownloads(2);
        QCOMPARE(pool->activeDownloadCount(), 2);
        // An active URL is never queued a second time.
        pool->download(server.url(u"d"_qs));
        pool->downloadFirst(server.url(u"d"_qs));
        QCOMPARE(pool->outstandingDownloadCount(), 6);
        for (int done = 1; done <= names.size(); ++done) {
            QTRY_VERIFY_WITH_TIMEOUT(server.heldAnswerCount() == qMin(2, names.size() - done + 1), WaitMs);
            server.releaseHeldAnswers(1);
            QVERIFY(results.waitFor(done));
        }
        QStringList order;
        for (const TRecordedRequest& request : server.requests())
            order.append(request.path);
        QCOMPARE(order, (QStringList{u"/d"_qs, u"/b"_qs, u"/c"_qs, u"/f"_qs, u"/a"_qs, u"/e"_qs}));
        QCOMPARE(mostInFlight, 2);
        QCOMPARE(results.events.size(), names.size());
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    void relativeUrlFailsAtOnceAndIsStillAttempted() {
        auto pool = makeDownloadPool(6, true);
        QSignalSpy failed(pool.get(), &TDownloadPool::failed);
        const QUrl relative(u"launcher/config.json"_qs);
        pool->download(relative);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(1).value<QNetworkReply::NetworkError>(),
                 QNetworkReply::ProtocolInvalidOperationError);
        QCOMPARE(failed.at(0).at(2).toString(), u"Invalid URL"_qs);
        // The network layer then turns it down in its own words, and the slot is free.
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, WaitMs);
        QVERIFY(failed.at(1).at(1).value<QNetworkReply::NetworkError>() != QNetworkReply::NoError);
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    void oneResultPerTransfer_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("file") << u"files/f0.bin"_qs << u"ok /files/f0.bin"_qs << body(0);
        // Folders may carry spaces and other characters that travel encoded.
        QTest::newRow("encoded characters")
            << u"Vantor Online/package [1].json"_qs << u"ok /Vantor Online/package [1].json"_qs
            << QByteArray("spaced");
        QTest::newRow("redirect, reported under the asked URL")
            << u"moved.bin"_qs << u"ok /moved.bin"_qs << body(1);
        QTest::newRow("missing") << u"missing.json"_qs
                                 << failedEvent(u"/missing.json"_qs, QNetworkReply::ContentNotFoundError)
                                 << QByteArray();
        QTest::newRow("forbidden") << u"forbidden.json"_qs
                                   << failedEvent(u"/forbidden.json"_qs, QNetworkReply::ContentAccessDenied)
                                   << QByteArray();
        QTest::newRow("unavailable") << u"unavailable.json"_qs
                                     << failedEvent(u"/unavailable.json"_qs,
                                                    QNetworkReply::ServiceUnavailableError)
                                     << QByteArray();
        QTest::newRow("refused") << u"<closed port>"_qs
                                 << failedEvent(u"/x"_qs, QNetworkReply::ConnectionRefusedError)
                                 << QByteArray();
    }

    void oneResultPerTransfer() {
        QFETCH(QString, path);
        QFETCH(QString, event);
        QUrl url = m_nginx.url(path);
        if (path == u"<closed port>"_qs) {
            TScriptedHttpServer gone;
            QVERIFY(gone.start());
            url = QUrl(u"http://127.0.0.1:%1/x"_qs.arg(gone.port()));
        }
        auto pool = makeDownloadPool(1, true);
        TResults results(*pool);
        pool->download(url);
        QVERIFY(results.waitFor(1));
        QCOMPARE(results.events, QStringList{event});
        QTEST(results.bodies.value(url), "body");
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    void manualReleaseKeepsTheSlotUntilReleased() {
        auto pool = makeDownloadPool(1, false);
        TResults results(*pool);
        const QUrl missing = m_nginx.url(u"missing.json"_qs);
        const QUrl first = m_nginx.url(u"files/f2.bin"_qs);
        const QUrl second = m_nginx.url(u"files/f3.bin"_qs);
        pool->download(missing);
        pool->download(first);
        pool->download(second);
        QVERIFY(results.waitFor(1));
        QVERIFY(
            results.events.contains(failedEvent(u"/missing.json"_qs, QNetworkReply::ContentNotFoundError)));
        // Reported but not released: still active, so asking again and releasing URLs that are
        // not active change nothing.
        pool->download(missing);
        pool->releaseDownload(second);
        QCOMPARE(pool->activeDownloadCount(), 1);
        QCOMPARE(pool->outstandingDownloadCount(), 3);
        QCOMPARE(m_nginx.requestCount(u"/files/f2.bin"_qs), 0);

        pool->releaseDownload(missing);
        QCOMPARE(pool->outstandingDownloadCount(), 2);
        QVERIFY(results.waitFor(results.events.size() + 1));
        QCOMPARE(results.events.last(), u"ok /files/f2.bin"_qs);
        QCOMPARE(results.bodies.value(first), body(2));
        pool->releaseDownload(first);
        QVERIFY(results.waitFor(results.events.size() + 1));
        QCOMPARE(results.events.last(), u"ok /files/f3.bin"_qs);
        pool->releaseDownload(second);
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    void lateNotificationsOfAReplacedReplyAreIgnored_data() {
        QTest::addColumn<bool>("autoRelease");
        QTest::newRow("auto release") << true;
        QTest::newRow("manual release") << false;
    }

    void lateNotificationsOfAReplacedReplyAreIgnored() {
        // An owner that retries as soon as it hears of a failure asks for the URL again before the
        // failed reply has finished. That reply's end must neither count as a second failure nor
        // end the retry's slot.
        QFETCH(bool, autoRelease);
        m_server.setFailThenSucceed(u"/flaky"_qs, 1, 503, "second time lucky");
        auto pool = makeDownloadPool(4, autoRelease);
        TResults results(*pool);
        connect(pool.get(), &TDownloadPool::failed, pool.get(), [&](const QUrl& url) {
            pool->releaseDownload(url);
            pool->download(url);
        });
        connect(pool.get(), &TDownloadPool::success, pool.get(), &TDownloadPool::releaseDownload);
        pool->download(m_server.url(u"flaky"_qs));
        QVERIFY(results.waitFor(2));
        QCOMPARE(results.events,
                 (QStringList{failedEvent(u"/flaky"_qs, QNetworkReply::ServiceUnavailableError),
                              u"ok /flaky"_qs}));
        QCOMPARE(results.bodies.first(), QByteArray("second time lucky"));
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    void cutConnectionsFailAndNeverDeliverAShortBody_data() {
        QTest::addColumn<int>("fault");
        QTest::newRow("reset mid-body") << int(EScriptedFault::ResetMidBody);
        QTest::newRow("closed mid-body") << int(EScriptedFault::CloseMidBody);
    }

    void cutConnectionsFailAndNeverDeliverAShortBody() {
        QFETCH(int, fault);
        const QByteArray whole = randomBytes(300000, 7);
        m_server.setAnswer(u"/cut"_qs, TScriptedAnswer::faulty(EScriptedFault(fault), whole));
        m_server.setAnswer(u"/whole"_qs, TScriptedAnswer::ok(whole));
        // The network layer's view of a cut connection depends on timing, so try it several
        // times; every single transfer must end as one failure.
        const int rounds = 6;
        auto pool = makeDownloadPool(1, true);
        TResults results(*pool);
        for (int round = 0; round < rounds; ++round)
            pool->download(m_server.url(u"cut?round=%1"_qs.arg(round)));
        pool->download(m_server.url(u"whole"_qs));
        QVERIFY(results.waitFor(rounds + 1));
        QCOMPARE(results.events.size(), rounds + 1);
        QCOMPARE(results.events.filter(u"failed /cut "_qs).size(), rounds);
        QCOMPARE(results.bodies.values(), QList<QByteArray>{whole});
    }

    void stalledTransferKeepsItsSlot() {
        // The pool has no time-out of its own: a stalled transfer holds its slot until the
        // connection ends, and the next URL waits behind it.
        m_server.setAnswer(u"/stall"_qs,
                           TScriptedAnswer::faulty(EScriptedFault::StallMidBody, QByteArray(100000, 's')));
        auto pool = makeDownloadPool(1, true);
        TResults results(*pool);
        pool->download(m_server.url(u"stall"_qs));
        pool->download(m_nginx.url(u"files/f0.bin"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(u"/stall"_qs), 1, WaitMs);
        QVERIFY(!results.waitFor(1, 500));
        QCOMPARE(pool->outstandingDownloadCount(), 2);
        m_server.closeAllConnections();
        QVERIFY(results.waitFor(2));
        QVERIFY(results.events.first().startsWith(u"failed /stall "_qs));
        QCOMPARE(results.events.last(), u"ok /files/f0.bin"_qs);
    }

    void concurrentLargeBodiesArriveIntactWithProgress() {
        QMap<QUrl, QByteArray> expected;
        for (int i = 0; i < 8; ++i) {
            const QString path = u"large/l%1.bin"_qs.arg(i);
            expected.insert(m_nginx.url(path), randomBytes(2 * 1024 * 1024 + i, 500 + i));
            QVERIFY(m_nginx.writeFile(path, expected.last()));
        }
        auto pool = makeDownloadPool(5, false);
        TResults results(*pool);
        QMap<QUrl, qlonglong> lastProgress;
        bool progressWentBack = false;
        connect(pool.get(), &TDownloadPool::progress, pool.get(), [&](const QUrl& url, qlonglong received) {
            progressWentBack = progressWentBack || received < lastProgress.value(url);
            lastProgress[url] = received;
        });
        connect(pool.get(), &TDownloadPool::success, pool.get(), &TDownloadPool::releaseDownload);
        for (const QUrl& url : expected.keys())
            pool->download(url);
        QVERIFY(results.waitFor(expected.size(), 60000));
        QVERIFY(results.bodies == expected);
        QVERIFY(!progressWentBack);
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QCOMPARE(lastProgress.value(it.key()), qlonglong(it.value().size()));
    }

private:
    static QByteArray body(int index) { return randomBytes(1000 + index * 997, 100 + index); }

    TNginxFixture m_nginx;
    TScriptedHttpServer m_server;
};

LAUNCHER_TEST(TestDownloadPool)
#include "tst_downloadpool.moc"
