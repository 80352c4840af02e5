// The network wrappers against real servers, and the lifetime of replies the pool is done with.
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/network/qnetworkreplywrapper.h"
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QNetworkAccessManager>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include <zlib.h>

using namespace shared;
using namespace testsupport;

namespace {

const int WaitMs = 15000;

// Keeps an eye on every reply wrapper it hands out.
class TWatchingAccessManager : public QNetworkAccessManagerWrapper {
public:
    TWatchingAccessManager()
        : QNetworkAccessManagerWrapper(std::make_shared<QNetworkAccessManager>()) {}
    QNetworkReplyWrapper* get(const QNetworkRequest& request) override {
        handedOut.append(QNetworkAccessManagerWrapper::get(request));
        return handedOut.last();
    }
    bool allGone() const {
        processDeferredDeletes();
        return handedOut.count(nullptr) == handedOut.size() &&
               accessManager()->findChildren<QNetworkReply*>().isEmpty();
    }
    static void processDeferredDeletes() {
        for (int round = 0; round < 2; ++round) {
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    QList<QPointer<QNetworkReplyWrapper>> handedOut;
};

QByteArray gzipped(const QByteArray& data) {
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))) + 32, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    return out.left(int(stream.total_out));
}

} // namespace

class TestNetworkWrappers : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(m_nginx.writeFile(u"body.bin"_qs, QByteArray(300000, 'q')));
        // Noise: its gzip form is longer than the data itself.
        QVERIFY(m_nginx.writeFile(u"zipped/noise.bin"_qs, m_noise));
        QVERIFY(m_nginx.writeFile(u"zipped/noise.bin.gz"_qs, gzipped(m_noise)));
        QVERIFY(gzipped(m_noise).size() > m_noise.size());
        m_nginx.addServerDirectives(u"location /zipped/ { gzip_static on; }"_qs);
        QVERIFY2(m_nginx.start(), qPrintable(m_nginx.errorString()));
        QVERIFY(m_server.start());
        m_server.setAnswer(u"/cut"_qs, TScriptedAnswer::faulty(EScriptedFault::CloseMidBody, m_noise));
    }

    void replyPassesOnBodyProgressAndErrors_data() {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<int>("error");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("body") << m_nginx.url(u"body.bin"_qs) << int(QNetworkReply::NoError)
                              << QByteArray(300000, 'q');
        QTest::newRow("missing") << m_nginx.url(u"none"_qs) << int(QNetworkReply::ContentNotFoundError)
                                 << QByteArray();
        // The announced length counts compressed bytes; the network layer unpacks the body and
        // drops that header, so the shorter body is complete.
        QTest::newRow("gzip") << m_nginx.url(u"zipped/noise.bin"_qs) << int(QNetworkReply::NoError)
                              << m_noise;
        // The HTTP layer may take a connection closed mid-body for the end of a short body.
        QTest::newRow("cut short") << m_server.url(u"cut"_qs) << int(QNetworkReply::RemoteHostClosedError)
                                   << QByteArray();
    }

    void replyPassesOnBodyProgressAndErrors() {
        QFETCH(QUrl, url);
        QFETCH(int, error);
        QNetworkAccessManagerWrapper manager(std::make_shared<QNetworkAccessManager>());
        std::unique_ptr<QNetworkReplyWrapper> pReply(manager.get(QNetworkRequest(url)));
        QSignalSpy errors(pReply.get(), qOverload<QNetworkReply::NetworkError>(&QNetworkReplyWrapper::error));
        QSignalSpy progress(pReply.get(), &QNetworkReplyWrapper::progress);
        QSignalSpy finished(pReply.get(), &QNetworkReplyWrapper::finished);
        QVERIFY(finished.wait(WaitMs));
        QCOMPARE(int(pReply->error()), error);
        QCOMPARE(errors.count(), error == QNetworkReply::NoError ? 0 : 1);
        QVERIFY(!pReply->errorString().isEmpty());
        if (error == QNetworkReply::NoError) {
            QTEST(pReply->readAll(), "body");
            QVERIFY(progress.last().at(0).toLongLong() > 0);
        }
    }

    void wrapperAndReplyGoTogether() {
        TWatchingAccessManager manager;
        // Done with the wrapper: the reply goes too.
        QPointer<QNetworkReplyWrapper> pFirst = manager.get(QNetworkRequest(m_nginx.url(u"body.bin"_qs)));
        QVERIFY(QSignalSpy(pFirst.data(), &QNetworkReplyWrapper::finished).wait(WaitMs));
        pFirst->deleteLater();
        QVERIFY(manager.allGone());
        // The reply deleted first takes its wrapper along, once.
        QPointer<QNetworkReplyWrapper> pSecond = manager.get(QNetworkRequest(m_nginx.url(u"body.bin"_qs)));
        delete pSecond->parent();
        QVERIFY(manager.allGone());
    }

    void poolFreesEveryReplyItIsDoneWith() {
        m_server.setAnswer(u"/ok"_qs, TScriptedAnswer::ok("fine"));
        for (const bool autoRelease : {true, false}) {
            auto manager = std::make_shared<TWatchingAccessManager>();
            TDownloadPool pool(2, manager, nullptr, autoRelease);
            QSignalSpy succeeded(&pool, &TDownloadPool::success);
            QSignalSpy failed(&pool, &TDownloadPool::failed);
            connect(&pool, &TDownloadPool::success, &pool, &TDownloadPool::releaseDownload);
            connect(&pool, &TDownloadPool::failed, &pool,
                    [&pool](const QUrl& url) { pool.releaseDownload(url); });
            for (const QString& path : {u"ok"_qs, u"gone"_qs, u"cut"_qs, u"ok?2"_qs})
                pool.download(m_server.url(path));
            QTRY_VERIFY_WITH_TIMEOUT(succeeded.count() == 2 && failed.count() >= 2, WaitMs);
            QTRY_VERIFY_WITH_TIMEOUT(manager->allGone(), WaitMs);
            QCOMPARE(manager->handedOut.size(), 4);
        }

        // A pool that goes away while a transfer runs neither aborts it nor leaves its reply
        // behind once it ends.
        m_server.setHoldAnswers(true);
        auto manager = std::make_shared<TWatchingAccessManager>();
        auto pool = std::make_unique<TDownloadPool>(2, manager, nullptr, true);
        pool->download(m_server.url(u"ok?late"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(m_server.heldAnswerCount(), 1, WaitMs);
        pool.reset();
        QSignalSpy finished(manager->handedOut.first().data(), &QNetworkReplyWrapper::finished);
        m_server.releaseHeldAnswers();
        QVERIFY(finished.wait(WaitMs));
        QVERIFY(manager->allGone());
    }

private:
    TNginxFixture m_nginx;
    TScriptedHttpServer m_server;
    const QByteArray m_noise = randomBytes(3000, 3);
};

LAUNCHER_TEST(TestNetworkWrappers)
#include "tst_qnetworkreplywrapper.moc"
