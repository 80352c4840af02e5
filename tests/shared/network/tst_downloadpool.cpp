// The download pool against a real nginx (files, fixed statuses, redirects) and
// the scripted server (held answers, resets, stalls, flaky paths).
#include "shared/network/downloadpool.h"
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>
#include <random>

using namespace shared;
using namespace testsupport;
using testsupport::operator""_qs;

namespace {

const int WaitMs = 15000;

QByteArray generatedBody(int size, unsigned seed) {
    std::mt19937 engine(seed);
    QByteArray body(size, Qt::Uninitialized);
    for (char& byte : body)
        byte = char(engine() & 0xFF);
    return body;
}

// Every result of a pool in the order it was reported: "ok <path>" or
// "failed <path> <code>", with the bodies of the successes.
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
                [this](const QUrl& url, QNetworkReply::NetworkError code, const QString& text) {
                    events.append(u"failed %1 %2"_qs.arg(url.path()).arg(int(code)));
                    errorTexts.append(text);
                    emit reported();
                });
    }

    // Runs a real event loop, as the launcher does, rather than polling with
    // sleeps in between: how a cut connection reaches the HTTP layer depends on
    // whether its data and its end are seen in one go or one after the other.
    bool waitFor(int count, int timeoutMs = WaitMs) {
        QSignalSpy spy(this, &TResults::reported);
        QDeadlineTimer deadline(timeoutMs);
        while (events.size() < count && !deadline.hasExpired())
            spy.wait(int(qMax<qint64>(1, deadline.remainingTime())));
        return events.size() >= count;
    }
    int count(const QString& prefix) const {
        return int(std::count_if(events.cbegin(), events.cend(),
                                 [&](const QString& event) { return event.startsWith(prefix); }));
    }

    QStringList events;
    QStringList errorTexts;
    QMap<QUrl, QByteArray> bodies;

signals:
    void reported();
};

QStringList receivedPaths(const TScriptedHttpServer& server) {
    QStringList paths;
    for (const TRecordedRequest& request : server.requests())
        paths.append(request.path);
    return paths;
}

// Lets notifications that are already on their way arrive, so a test can see
// that no late second report follows.
void settle() {
    QTest::qWait(100);
}

} // namespace

class TestDownloadPool : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (int i = 0; i < 12; ++i) {
            const QString path = u"files/f%1.bin"_qs.arg(i);
            m_files.insert(u'/' + path, generatedBody(1000 + i * 997, 100 + i));
            QVERIFY(m_nginx.writeFile(path, m_files.value(u'/' + path)));
        }
        m_nginx.addFixedStatus(u"/forbidden.json"_qs, 403);
        m_nginx.addFixedStatus(u"/unavailable.json"_qs, 503);
        m_nginx.addFixedStatus(u"/moved.bin"_qs, 302, u"/files/f1.bin"_qs);
        QVERIFY2(m_nginx.start(), qPrintable(m_nginx.errorString()));

        // Queued connections elsewhere carry the error code by this name.
        makeDownloadPool(1, true);
        QCOMPARE(QMetaType::type("QNetworkReply::NetworkError"), qMetaTypeId<QNetworkReply::NetworkError>());
    }

    void startsInArrivalOrderUpToTheLimit() {
        TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setHoldAnswers(true);
        const QStringList names{u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs, u"e"_qs, u"f"_qs, u"g"_qs};
        for (const QString& name : names)
            server.setAnswer(u'/' + name, TScriptedAnswer::ok(name.toUtf8()));

        // One at a time: the server sees exactly the order of the calls.
        auto serial = makeDownloadPool(1, true);
        TResults serialResults(*serial);
        for (const QString& name : names)
            serial->download(server.url(name));
        QCOMPARE(serial->activeDownloadCount(), 1);
        QCOMPARE(serial->outstandingDownloadCount(), 7);
        for (int done = 1; done <= names.size(); ++done) {
            QTRY_COMPARE_WITH_TIMEOUT(server.heldAnswerCount(), 1, WaitMs);
            server.releaseHeldAnswers(1);
            QVERIFY(serialResults.waitFor(done));
        }
        QStringList expected;
        for (const QString& name : names)
            expected.append(u'/' + name);
        QCOMPARE(receivedPaths(server), expected);
        QCOMPARE(serialResults.events.first(), u"ok /a"_qs);
        QCOMPARE(serial->outstandingDownloadCount(), 0);

        // Three at a time: never a fourth in flight, and the waiting ones follow in order.
        TScriptedHttpServer wide;
        QVERIFY(wide.start());
        wide.setHoldAnswers(true);
        for (const QString& name : names)
            wide.setAnswer(u'/' + name, TScriptedAnswer::ok(name.toUtf8()));
        auto pool = makeDownloadPool(3, true);
        TResults results(*pool);
        int mostInFlight = 0;
        connect(&wide, &TScriptedHttpServer::requestReceived, this,
                [&] { mostInFlight = qMax(mostInFlight, wide.heldAnswerCount()); });
        for (const QString& name : names)
            pool->download(wide.url(name));
        QCOMPARE(pool->activeDownloadCount(), 3);
        QCOMPARE(pool->outstandingDownloadCount(), 7);
        QTRY_COMPARE_WITH_TIMEOUT(wide.heldAnswerCount(), 3, WaitMs);
        settle();
        QCOMPARE(wide.totalRequestCount(), 3);
        const QStringList firstBatch = receivedPaths(wide);
        QCOMPARE(QSet<QString>(firstBatch.cbegin(), firstBatch.cend()),
                 (QSet<QString>{u"/a"_qs, u"/b"_qs, u"/c"_qs}));
        for (int started = 4; started <= names.size(); ++started) {
            wide.releaseHeldAnswers(1);
            QTRY_COMPARE_WITH_TIMEOUT(wide.totalRequestCount(), started, WaitMs);
            QCOMPARE(receivedPaths(wide).last(), u'/' + names.at(started - 1));
            QVERIFY(pool->activeDownloadCount() <= 3);
        }
        wide.releaseHeldAnswers();
        QVERIFY(results.waitFor(names.size()));
        QCOMPARE(mostInFlight, 3);
        QCOMPARE(results.count(u"ok"_qs), names.size());
        QCOMPARE(pool->activeDownloadCount(), 0);
    }

    void limitOfZeroOrLessHoldsEverythingUntilRaised() {
        for (const int held : {0, -1}) {
            auto pool = makeDownloadPool(5, true);
            pool->setMaxConcurrentDownloads(held);
            QCOMPARE(pool->maxConcurrentDownloads(), held);
            TResults results(*pool);
            for (int i = 0; i < 4; ++i)
                pool->download(fileUrl(i));
            settle();
            QCOMPARE(pool->activeDownloadCount(), 0);
            QCOMPARE(pool->outstandingDownloadCount(), 4);
            QVERIFY(results.events.isEmpty());

            // Raising the limit starts queued URLs at once, up to the new limit.
            pool->setMaxConcurrentDownloads(2);
            QCOMPARE(pool->activeDownloadCount(), 2);
            QCOMPARE(pool->outstandingDownloadCount(), 4);
            QVERIFY(results.waitFor(4));
            QCOMPARE(results.count(u"ok"_qs), 4);
            for (int i = 0; i < 4; ++i) {
                const QUrl url = fileUrl(i);
                QCOMPARE(results.bodies.value(url), m_files.value(url.path()));
            }
        }
    }

    void queuedUrlMovesToBackOrFront() {
        auto pool = makeDownloadPool(0, true);
        TResults results(*pool);
        const QUrl a = fileUrl(0);
        const QUrl b = fileUrl(1);
        const QUrl c = fileUrl(2);
        const QUrl d = fileUrl(3);
        pool->download(a);
        pool->download(b);
        pool->download(c);
        pool->download(d);
        pool->download(a);      // b c d a
        pool->downloadFirst(c); // c b d a
        pool->downloadFirst(d); // d c b a
        pool->download(c);      // d b a c
        QCOMPARE(pool->outstandingDownloadCount(), 4);

        pool->setMaxConcurrentDownloads(1);
        QVERIFY(results.waitFor(4));
        QCOMPARE(results.events, (QStringList{u"ok /files/f3.bin"_qs, u"ok /files/f1.bin"_qs,
                                              u"ok /files/f0.bin"_qs, u"ok /files/f2.bin"_qs}));
    }

    void activeUrlIsNeverQueuedTwice() {
        TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setHoldAnswers(true);
        server.setAnswer(u"/once"_qs, TScriptedAnswer::ok("body"));
        for (const bool autoRelease : {true, false}) {
            auto pool = makeDownloadPool(2, autoRelease);
            TResults results(*pool);
            const QUrl url = server.url(u"once"_qs);
            pool->download(url);
            pool->download(url);
            pool->downloadFirst(url);
            QCOMPARE(pool->activeDownloadCount(), 1);
            QCOMPARE(pool->outstandingDownloadCount(), 1);
            QTRY_COMPARE_WITH_TIMEOUT(server.heldAnswerCount(), 1, WaitMs);
            server.releaseHeldAnswers();
            QVERIFY(results.waitFor(1));
            if (!autoRelease) {
                // Reported but not released: still active, so asking again does nothing.
                pool->download(url);
                QCOMPARE(pool->outstandingDownloadCount(), 1);
                pool->releaseDownload(url);
                QCOMPARE(pool->outstandingDownloadCount(), 0);
            }
            settle();
            QCOMPARE(results.events, QStringList{u"ok /once"_qs});
        }
        QCOMPARE(server.requestCount(u"/once"_qs), 2);
    }

    void relativeUrlFailsAtOnceAndIsStillAttempted() {
        auto pool = makeDownloadPool(6, true);
        TResults results(*pool);
        QSignalSpy failed(pool.get(), &TDownloadPool::failed);
        const QUrl relative(u"launcher/config.json"_qs);
        pool->download(relative);

        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toUrl(), relative);
        QCOMPARE(failed.at(0).at(1).value<QNetworkReply::NetworkError>(),
                 QNetworkReply::ProtocolInvalidOperationError);
        QCOMPARE(int(failed.at(0).at(1).value<QNetworkReply::NetworkError>()), 302);
        QCOMPARE(failed.at(0).at(2).toString(), u"Invalid URL"_qs);
        QCOMPARE(pool->outstandingDownloadCount(), 1);

        // The network layer then turns it down in its own words, and the slot is free.
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, WaitMs);
        QVERIFY(failed.at(1).at(1).value<QNetworkReply::NetworkError>() != QNetworkReply::NoError);
        QCOMPARE(pool->outstandingDownloadCount(), 0);

        // downloadFirst does not check.
        pool->downloadFirst(relative);
        QCOMPARE(failed.count(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 3, WaitMs);
        QVERIFY(failed.at(2).at(2).toString() != u"Invalid URL"_qs);
    }

    void encodedCharactersAreNotTakenForInvalidUrls() {
        // Document folders may carry spaces and other characters that travel encoded.
        const QByteArray body = "spaced";
        QVERIFY(m_nginx.writeFile(u"Vantor Online/package [1].json"_qs, body));
        auto pool = makeDownloadPool(6, true);
        TResults results(*pool);
        const QUrl url = m_nginx.url(u"Vantor Online/package [1].json"_qs);
        QVERIFY(url.isValid());
        pool->download(url);
        QVERIFY(results.waitFor(1));
        settle();
        QCOMPARE(results.events, QStringList{u"ok /Vantor Online/package [1].json"_qs});
        QCOMPARE(results.bodies.value(url), body);
    }

    void autoReleaseReportsOneFailurePerTransferAndFreesTheSlot() {
        auto pool = makeDownloadPool(1, true);
        TResults results(*pool);
        for (const QString& path :
             {u"missing.json"_qs, u"forbidden.json"_qs, u"unavailable.json"_qs, u"files/f4.bin"_qs})
            pool->download(m_nginx.url(path));
        QVERIFY(results.waitFor(4));
        settle();
        QCOMPARE(
            results.events,
            (QStringList{u"failed /missing.json %1"_qs.arg(int(QNetworkReply::ContentNotFoundError)),
                         u"failed /forbidden.json %1"_qs.arg(int(QNetworkReply::ContentAccessDenied)),
                         u"failed /unavailable.json %1"_qs.arg(int(QNetworkReply::ServiceUnavailableError)),
                         u"ok /files/f4.bin"_qs}));
        QVERIFY(!results.errorTexts.first().isEmpty());
        QCOMPARE(pool->activeDownloadCount(), 0);

        // A refused connection (nothing listens on the port any more) is one failure too.
        quint16 closedPort = 0;
        {
            TScriptedHttpServer gone;
            QVERIFY(gone.start());
            closedPort = gone.port();
        }
        pool->download(QUrl(u"http://127.0.0.1:%1/x"_qs.arg(closedPort)));
        QVERIFY(results.waitFor(5));
        settle();
        QCOMPARE(results.events.size(), 5);
        QCOMPARE(results.events.last(), u"failed /x %1"_qs.arg(int(QNetworkReply::ConnectionRefusedError)));
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    void manualReleaseKeepsTheSlotUntilReleased() {
        auto pool = makeDownloadPool(1, false);
        TResults results(*pool);
        const QUrl missing = m_nginx.url(u"missing.json"_qs);
        const QUrl first = fileUrl(5);
        const QUrl second = fileUrl(6);
        pool->download(missing);
        pool->download(first);
        pool->download(second);

        // Not released: the error and the end of the transfer both report it, and
        // the queue does not move.
        QVERIFY(results.waitFor(2));
        settle();
        const QString missingFailed =
            u"failed /missing.json %1"_qs.arg(int(QNetworkReply::ContentNotFoundError));
        QCOMPARE(results.events, (QStringList{missingFailed, missingFailed}));
        QCOMPARE(pool->activeDownloadCount(), 1);
        QCOMPARE(pool->outstandingDownloadCount(), 3);
        QCOMPARE(m_nginx.requestCount(u"/files/f5.bin"_qs), 0);

        // Releasing a URL that is not active changes nothing and starts nothing.
        pool->releaseDownload(fileUrl(7));
        pool->releaseDownload(second);
        QCOMPARE(pool->activeDownloadCount(), 1);
        QCOMPARE(pool->outstandingDownloadCount(), 3);

        pool->releaseDownload(missing);
        QCOMPARE(pool->activeDownloadCount(), 1);
        QCOMPARE(pool->outstandingDownloadCount(), 2);
        QVERIFY(results.waitFor(3));
        settle();
        QCOMPARE(results.events.last(), u"ok /files/f5.bin"_qs);
        QCOMPARE(results.bodies.value(first), m_files.value(first.path()));
        QCOMPARE(pool->activeDownloadCount(), 1);
        QCOMPARE(pool->outstandingDownloadCount(), 2);

        pool->releaseDownload(first);
        QVERIFY(results.waitFor(4));
        QCOMPARE(results.events.last(), u"ok /files/f6.bin"_qs);
        pool->releaseDownload(second);
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    void lateNotificationsOfAReplacedReplyAreIgnored_data() {
        QTest::addColumn<bool>("autoRelease");
        QTest::newRow("auto release") << true;
        QTest::newRow("manual release") << false;
    }

    void lateNotificationsOfAReplacedReplyAreIgnored() {
        // An owner that retries as soon as it hears of a failure asks for the URL
        // again before the failed reply has finished. That reply's end must neither
        // count as a second failure nor end the retry's slot.
        QFETCH(bool, autoRelease);
        TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setFailThenSucceed(u"/flaky"_qs, 1, 503, "second time lucky");
        auto pool = makeDownloadPool(4, autoRelease);
        TResults results(*pool);
        connect(pool.get(), &TDownloadPool::failed, this, [&](const QUrl& url) {
            if (!autoRelease)
                pool->releaseDownload(url);
            pool->download(url);
        });
        connect(pool.get(), &TDownloadPool::success, this, [&](const QUrl& url) {
            if (!autoRelease)
                pool->releaseDownload(url);
        });
        pool->download(server.url(u"flaky"_qs));
        QVERIFY(results.waitFor(2));
        settle();
        QCOMPARE(results.events,
                 (QStringList{u"failed /flaky %1"_qs.arg(int(QNetworkReply::ServiceUnavailableError)),
                              u"ok /flaky"_qs}));
        QCOMPARE(results.bodies.first(), QByteArray("second time lucky"));
        QCOMPARE(server.requestCount(u"/flaky"_qs), 2);
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    void cutConnectionsFailAndNeverDeliverAShortBody_data() {
        QTest::addColumn<int>("fault");
        QTest::newRow("reset mid-body") << int(EScriptedFault::ResetMidBody);
        QTest::newRow("closed mid-body") << int(EScriptedFault::CloseMidBody);
    }

    void cutConnectionsFailAndNeverDeliverAShortBody() {
        QFETCH(int, fault);
        TScriptedHttpServer server;
        QVERIFY(server.start());
        const QByteArray body = generatedBody(300000, 7);
        server.setAnswer(u"/cut"_qs, TScriptedAnswer::faulty(EScriptedFault(fault), body));
        server.setAnswer(u"/whole"_qs, TScriptedAnswer::ok(body));
        // The network layer's view of a cut connection depends on timing, so try it
        // several times; every single transfer must end as one failure.
        const int rounds = 6;
        auto pool = makeDownloadPool(1, true);
        TResults results(*pool);
        for (int round = 0; round < rounds; ++round)
            pool->download(server.url(u"cut?round=%1"_qs.arg(round)));
        pool->download(server.url(u"whole"_qs));
        QVERIFY(results.waitFor(rounds + 1));
        settle();
        QCOMPARE(results.events.size(), rounds + 1);
        QCOMPARE(results.count(u"failed /cut "_qs), rounds);
        QCOMPARE(results.events.last(), u"ok /whole"_qs);
        QCOMPARE(results.bodies.size(), 1);
        QCOMPARE(results.bodies.first(), body);
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    void stalledTransferKeepsItsSlot() {
        // The pool has no time-out of its own: a stalled transfer holds its slot
        // until the connection ends, and the next URL waits behind it.
        TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setAnswer(u"/stall"_qs,
                         TScriptedAnswer::faulty(EScriptedFault::StallMidBody, QByteArray(100000, 's')));
        auto pool = makeDownloadPool(1, true);
        TResults results(*pool);
        QSignalSpy progress(pool.get(), &TDownloadPool::progress);
        pool->download(server.url(u"stall"_qs));
        pool->download(fileUrl(8));
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(u"/stall"_qs), 1, WaitMs);
        QTest::qWait(500);
        QVERIFY(results.events.isEmpty());
        QCOMPARE(pool->activeDownloadCount(), 1);
        QCOMPARE(pool->outstandingDownloadCount(), 2);

        server.closeAllConnections();
        QVERIFY(results.waitFor(2));
        QVERIFY(results.events.first().startsWith(u"failed /stall "_qs));
        QCOMPARE(results.events.last(), u"ok /files/f8.bin"_qs);
    }

    void redirectIsFollowedAndReportedUnderTheRequestedUrl() {
        auto pool = makeDownloadPool(6, true);
        TResults results(*pool);
        const QUrl moved = m_nginx.url(u"moved.bin"_qs);
        pool->download(moved);
        QVERIFY(results.waitFor(1));
        QCOMPARE(results.events.first(), u"ok /moved.bin"_qs);
        QCOMPARE(results.bodies.value(moved), m_files.value(u"/files/f1.bin"_qs));
    }

    void concurrentLargeBodiesArriveIntactWithProgress() {
        const int count = 12;
        QMap<QUrl, QByteArray> expected;
        for (int i = 0; i < count; ++i) {
            const QString path = u"large/l%1.bin"_qs.arg(i);
            const QByteArray body = generatedBody(2 * 1024 * 1024 + i, 500 + i);
            QVERIFY(m_nginx.writeFile(path, body));
            expected.insert(m_nginx.url(path), body);
        }
        auto pool = makeDownloadPool(10, false);
        TResults results(*pool);
        QMap<QUrl, qlonglong> lastProgress;
        bool progressWentBack = false;
        connect(pool.get(), &TDownloadPool::progress, this, [&](const QUrl& url, qlonglong received) {
            progressWentBack = progressWentBack || received < lastProgress.value(url);
            lastProgress[url] = received;
        });
        int mostActive = 0;
        connect(pool.get(), &TDownloadPool::success, this, [&](const QUrl& url) {
            mostActive = qMax(mostActive, pool->activeDownloadCount());
            pool->releaseDownload(url);
        });
        for (const QUrl& url : expected.keys())
            pool->download(url);
        QVERIFY(results.waitFor(count, 60000));
        QCOMPARE(results.count(u"ok"_qs), count);
        QVERIFY(mostActive <= 10);
        QVERIFY(!progressWentBack);
        for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
            QVERIFY2(results.bodies.value(it.key()) == it.value(), qPrintable(it.key().toString()));
            QCOMPARE(lastProgress.value(it.key()), qlonglong(it.value().size()));
        }
    }

private:
    QUrl fileUrl(int index) const { return m_nginx.url(u"files/f%1.bin"_qs.arg(index)); }

    TNginxFixture m_nginx;
    QMap<QString, QByteArray> m_files;
};

LAUNCHER_TEST(TestDownloadPool)
#include "tst_downloadpool.moc"
