// The download pool against nginx and the scripted server.
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace shared;
using namespace testsupport;

namespace {

const int WaitMs = 15000;

// A pool's results in report order ("ok <path>" / "failed <path> <code>"), bodies, last progress.
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
                    events.append(failed(url.path(), code));
                    emit reported();
                });
        connect(&pool, &TDownloadPool::progress, this,
                [this](const QUrl& url, qlonglong received) { progress[url] = received; });
    }

    // A real event loop: how a cut connection shows depends on how its data and end arrive.
    bool waitFor(int count, int timeoutMs = WaitMs) {
        QSignalSpy spy(this, &TResults::reported);
        const QDeadlineTimer deadline(timeoutMs);
        while (events.size() < count && !deadline.hasExpired())
            spy.wait(int(qMax<qint64>(1, deadline.remainingTime())));
        // Lets notifications already on their way arrive, so a late second report shows.
        QTest::qWait(100);
        return events.size() >= count;
    }

    static QString failed(const QString& path, QNetworkReply::NetworkError code) {
        return u"failed %1 %2"_qs.arg(path).arg(int(code));
    }

    QStringList events;
    QMap<QUrl, QByteArray> bodies;
    QMap<QUrl, qlonglong> progress;

signals:
    void reported();
};

// The manager's replies still alive once pending deletions ran.
int repliesLeft(const QNetworkAccessManager& manager) {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return manager.findChildren<QNetworkReply*>().size();
}

QByteArray body(int index) {
    return randomBytes(1000 + index * 997, 100 + index);
}

} // namespace

class TestDownloadPool : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        for (int i = 0; i < 4; ++i)
            QVERIFY(m_nginx.writeFile(u"files/f%1.bin"_qs.arg(i), body(i)));
        QVERIFY(m_nginx.writeFile(u"Vantor Online/package [1].json"_qs, "spaced"));
        // Noise, whose gzip form is longer than the noise itself.
        QVERIFY(m_nginx.writeFile(u"zipped/noise.bin"_qs, body(3)));
        QCOMPARE(QProcess::execute(u"gzip"_qs, {u"-k9"_qs, m_nginx.documentRoot() + u"/zipped/noise.bin"_qs}),
                 0);
        m_nginx.addServerDirectives(u"location /zipped/ { gzip_static on; }"_qs);
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
        server.setHoldAnswers(true);
        const QStringList names{u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs, u"e"_qs, u"f"_qs};
        for (const QString& name : names)
            server.setAnswer(u'/' + name, TScriptedAnswer::ok(name.toUtf8()));
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

        pool->setMaxConcurrentDownloads(2);
        QCOMPARE(pool->activeDownloadCount(), 2);
        // An active URL is never queued a second time.
        pool->download(server.url(u"d"_qs));
        pool->downloadFirst(server.url(u"d"_qs));
        QCOMPARE(pool->outstandingDownloadCount(), 6);
        // Two in flight as long as enough wait, never a third; each end starts the next in line.
        for (int done = 1; done <= names.size(); ++done) {
            QTRY_VERIFY_WITH_TIMEOUT(server.heldAnswerCount() == qMin(2, names.size() - done + 1), WaitMs);
            server.releaseHeldAnswers(1);
            QVERIFY(results.waitFor(done));
        }
        QStringList order;
        for (const TRecordedRequest& request : server.requests())
            order.append(request.path);
        QCOMPARE(order, (QStringList{u"/d"_qs, u"/b"_qs, u"/c"_qs, u"/f"_qs, u"/a"_qs, u"/e"_qs}));
        QCOMPARE(results.events.size(), names.size());
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    // A success with its body, or the failures with their codes.
    void resultsOfOneTransfer_data() {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QList<int>>("failures");
        using Codes = QList<int>;
        // clang-format off
        QTest::newRow("file") << m_nginx.url(u"files/f0.bin"_qs) << body(0) << Codes{};
        // Folders may carry spaces and other characters that travel encoded.
        QTest::newRow("encoded characters") << m_nginx.url(u"Vantor Online/package [1].json"_qs) << QByteArray("spaced") << Codes{};
        QTest::newRow("redirect, reported under the asked URL") << m_nginx.url(u"moved.bin"_qs) << body(1) << Codes{};
        // The announced length counts compressed bytes; the unpacked body is complete.
        QTest::newRow("precompressed") << m_nginx.url(u"zipped/noise.bin"_qs) << body(3) << Codes{};
        QTest::newRow("missing") << m_nginx.url(u"missing.json"_qs) << QByteArray() << Codes{QNetworkReply::ContentNotFoundError};
        QTest::newRow("forbidden") << m_nginx.url(u"forbidden.json"_qs) << QByteArray() << Codes{QNetworkReply::ContentAccessDenied};
        QTest::newRow("unavailable") << m_nginx.url(u"unavailable.json"_qs) << QByteArray() << Codes{QNetworkReply::ServiceUnavailableError};
        QTest::newRow("refused") << closedLoopbackUrl() << QByteArray() << Codes{QNetworkReply::ConnectionRefusedError};
        // Turned down at once, and then by the network layer in its own words.
        QTest::newRow("relative") << QUrl(u"launcher/config.json"_qs) << QByteArray()
                                  << Codes{QNetworkReply::ProtocolInvalidOperationError, QNetworkReply::ProtocolUnknownError};
        // clang-format on
    }

    void resultsOfOneTransfer() {
        QFETCH(QUrl, url);
        QFETCH(QByteArray, body);
        QFETCH(QList<int>, failures);
        auto pool = makeDownloadPool(1, true);
        TResults results(*pool);
        pool->download(url);
        QCOMPARE(results.events.size(), url.isRelative() ? 1 : 0);
        QVERIFY(results.waitFor(1));
        QStringList expected{u"ok "_qs + url.path()};
        if (!failures.isEmpty())
            expected.clear();
        for (int code : failures)
            expected.append(TResults::failed(url.path(), QNetworkReply::NetworkError(code)));
        QCOMPARE(results.events, expected);
        QCOMPARE(results.bodies.value(url), body);
        if (failures.isEmpty())
            QCOMPARE(results.progress.value(url), qlonglong(body.size()));
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    void manualReleaseKeepsTheSlotUntilReleased() {
        auto pool = makeDownloadPool(1, false);
        TResults results(*pool);
        const QUrl missing = m_nginx.url(u"missing.json"_qs);
        const QUrl first = m_nginx.url(u"files/f2.bin"_qs);
        const QUrl second = m_nginx.url(u"files/f3.bin"_qs);
        for (const QUrl& url : {missing, first, second})
            pool->download(url);
        QVERIFY(results.waitFor(1));
        QVERIFY(results.events.contains(
            TResults::failed(u"/missing.json"_qs, QNetworkReply::ContentNotFoundError)));
        // Reported but not released: still active; asking again or releasing inactive URLs changes nothing.
        pool->download(missing);
        pool->releaseDownload(second);
        QCOMPARE(pool->activeDownloadCount(), 1);
        QCOMPARE(pool->outstandingDownloadCount(), 3);
        QCOMPARE(m_nginx.requestCount(u"/files/f2.bin"_qs), 0);
        for (const QUrl& done : {missing, first, second}) {
            const int before = results.events.size();
            pool->releaseDownload(done);
            QVERIFY(done == second || results.waitFor(before + 1));
        }
        QCOMPARE(results.events.mid(results.events.size() - 2),
                 (QStringList{u"ok /files/f2.bin"_qs, u"ok /files/f3.bin"_qs}));
        QCOMPARE(pool->outstandingDownloadCount(), 0);
    }

    void cutConnectionsFailAndNeverDeliverAShortBody_data() {
        QTest::addColumn<int>("fault");
        QTest::newRow("reset mid-body") << int(EScriptedFault::ResetMidBody);
        // The HTTP layer may take a connection closed mid-body for the end of a short body.
        QTest::newRow("closed mid-body") << int(EScriptedFault::CloseMidBody);
    }

    void cutConnectionsFailAndNeverDeliverAShortBody() {
        QFETCH(int, fault);
        const QByteArray whole = randomBytes(300000, 7);
        m_server.setAnswer(u"/cut"_qs, TScriptedAnswer::faulty(EScriptedFault(fault), whole));
        m_server.setAnswer(u"/whole"_qs, TScriptedAnswer::ok(whole));
        // A cut connection's view depends on timing: several tries, each one failure.
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

    // With limits set, stalls and oversize bodies fail; an expected size above the maximum lifts it.
    void transferEndsWithinItsLimits_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<qint64>("expectedSize"); // 0: none
        QTest::addColumn<qint64>("maximumBodySize");
        QTest::addColumn<int>("code");
        const qint64 standard = TDownloadPool::DefaultMaximumBodySize;
        const int none = int(EScriptedFault::None);
        QTest::newRow("silent after the request") << int(EScriptedFault::StallBeforeHeaders) << qint64(0)
                                                  << standard << int(QNetworkReply::TimeoutError);
        QTest::newRow("silent mid-body")
            << int(EScriptedFault::StallMidBody) << qint64(0) << standard << int(QNetworkReply::TimeoutError);
        QTest::newRow("document beyond the limit")
            << none << qint64(0) << qint64(4000) << int(QNetworkReply::UnknownContentError);
        QTest::newRow("body beyond its expected size")
            << none << qint64(4000) << standard << int(QNetworkReply::UnknownContentError);
        QTest::newRow("expected size above the limit") << none << qint64(5000) << qint64(4000) << 0;
    }

    void transferEndsWithinItsLimits() {
        QFETCH(int, fault);
        QFETCH(qint64, expectedSize);
        QFETCH(qint64, maximumBodySize);
        QFETCH(int, code);
        TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setAnswer(u"/d"_qs, TScriptedAnswer::faulty(EScriptedFault(fault), body(4)));
        auto pool = makeDownloadPool(1, true);
        TResults results(*pool);
        pool->setTransferStallTimeout(500);
        pool->setMaximumBodySize(maximumBodySize);
        pool->setExpectedBodySize(server.url(u"d"_qs), expectedSize);
        pool->download(server.url(u"d"_qs));
        QVERIFY(results.waitFor(1));
        QCOMPARE(results.events,
                 QStringList{code == 0 ? u"ok /d"_qs
                                       : TResults::failed(u"/d"_qs, QNetworkReply::NetworkError(code))});
        QCOMPARE(results.bodies.value(server.url(u"d"_qs)), code == 0 ? body(4) : QByteArray());
        QCOMPARE(pool->activeDownloadCount(), 0);
    }

    void ownerThatReleasesAndRetriesGetsOneResultPerTransfer() {
        m_server.setAnswer(u"/ok"_qs, TScriptedAnswer::ok("fine"));
        m_server.setAnswer(u"/cut"_qs, TScriptedAnswer::faulty(EScriptedFault::ResetMidBody, body(3)));
        m_server.setFailThenSucceed(u"/flaky"_qs, 1, 503, "second time lucky");
        const auto manager = std::make_shared<QNetworkAccessManager>();
        auto pool = std::make_unique<TDownloadPool>(
            2, std::make_shared<QNetworkAccessManagerWrapper>(manager), nullptr, false);
        TResults results(*pool);
        // A retry asked for before the failed reply ended: that end is no second failure, nor ends the slot.
        connect(pool.get(), &TDownloadPool::success, pool.get(), &TDownloadPool::releaseDownload);
        connect(pool.get(), &TDownloadPool::failed, pool.get(), [&](const QUrl& url) {
            pool->releaseDownload(url);
            if (url.path() == u"/flaky"_qs)
                pool->download(url);
        });
        for (const QString& path : {u"ok"_qs, u"gone"_qs, u"cut"_qs, u"flaky"_qs})
            pool->download(m_server.url(path));
        QVERIFY(results.waitFor(5));
        QCOMPARE(results.events.size(), 5);
        QVERIFY(
            results.events.contains(TResults::failed(u"/flaky"_qs, QNetworkReply::ServiceUnavailableError)));
        QCOMPARE(results.bodies.value(m_server.url(u"flaky"_qs)), QByteArray("second time lucky"));
        QCOMPARE(pool->outstandingDownloadCount(), 0);
        // Every reply is freed once done.
        QTRY_COMPARE_WITH_TIMEOUT(repliesLeft(*manager), 0, WaitMs);

        // A pool destroyed mid-transfer neither aborts it nor leaks its reply.
        m_server.setHoldAnswers(true);
        pool->download(m_server.url(u"ok?late"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(m_server.heldAnswerCount(), 1, WaitMs);
        pool.reset();
        QByteArray late;
        connect(manager.get(), &QNetworkAccessManager::finished, this,
                [&](QNetworkReply* reply) { late = reply->readAll(); });
        m_server.setHoldAnswers(false);
        m_server.releaseHeldAnswers();
        QTRY_COMPARE_WITH_TIMEOUT(late, QByteArray("fine"), WaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(repliesLeft(*manager), 0, WaitMs);
    }

private:
    TNginxFixture m_nginx;
    TScriptedHttpServer m_server;
};

LAUNCHER_TEST(TestDownloadPool)
#include "tst_downloadpool.moc"
