// The network wrappers against real servers, and the lifetime of replies the
// pool is done with.
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/network/qnetworkreplywrapper.h"
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QNetworkAccessManager>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <random>

#include <zlib.h>

using namespace shared;
using namespace testsupport;
using testsupport::operator""_qs;

namespace {

const int WaitMs = 15000;

// Keeps an eye on every reply wrapper it hands out.
class TWatchingAccessManager : public QNetworkAccessManagerWrapper {
public:
    TWatchingAccessManager()
        : QNetworkAccessManagerWrapper(std::make_shared<QNetworkAccessManager>()) {}
    QNetworkReplyWrapper* get(const QNetworkRequest& request) override {
        QNetworkReplyWrapper* pReply = QNetworkAccessManagerWrapper::get(request);
        handedOut.append(pReply);
        return pReply;
    }
    int alive() const {
        return int(
            std::count_if(handedOut.cbegin(), handedOut.cend(), [](const auto& p) { return !p.isNull(); }));
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
    out.resize(int(stream.total_out));
    deflateEnd(&stream);
    return out;
}

void processDeferredDeletes() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestNetworkWrappers : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(m_nginx.writeFile(u"body.bin"_qs, QByteArray(300000, 'q')));
        m_nginx.addFixedStatus(u"/moved"_qs, 302, u"/body.bin"_qs);
        // Incompressible data: its gzip form is longer than the data itself.
        std::mt19937 engine(3);
        QByteArray noise(3000, Qt::Uninitialized);
        for (char& byte : noise)
            byte = char(engine() & 0xFF);
        m_noise = noise;
        QVERIFY(m_nginx.writeFile(u"zipped/noise.bin"_qs, noise));
        QVERIFY(m_nginx.writeFile(u"zipped/noise.bin.gz"_qs, gzipped(noise)));
        QVERIFY(gzipped(noise).size() > noise.size());
        m_nginx.addServerDirectives(u"location /zipped/ { gzip_static on; }"_qs);
        QVERIFY2(m_nginx.start(), qPrintable(m_nginx.errorString()));
    }

    void replyWrapperPassesOnBodyProgressAndErrors() {
        QNetworkAccessManagerWrapper manager(std::make_shared<QNetworkAccessManager>());
        std::unique_ptr<QNetworkReplyWrapper> pReply(
            manager.get(QNetworkRequest(m_nginx.url(u"body.bin"_qs))));
        QSignalSpy errors(pReply.get(), qOverload<QNetworkReply::NetworkError>(&QNetworkReplyWrapper::error));
        QSignalSpy progress(pReply.get(), &QNetworkReplyWrapper::progress);
        QSignalSpy finished(pReply.get(), &QNetworkReplyWrapper::finished);
        QVERIFY(finished.wait(WaitMs));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(pReply->error(), QNetworkReply::NoError);
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last().at(0).toLongLong(), 300000);
        QCOMPARE(pReply->readAll(), QByteArray(300000, 'q'));

        std::unique_ptr<QNetworkReplyWrapper> pMissing(manager.get(QNetworkRequest(m_nginx.url(u"none"_qs))));
        QSignalSpy missingErrors(pMissing.get(),
                                 qOverload<QNetworkReply::NetworkError>(&QNetworkReplyWrapper::error));
        QSignalSpy missingFinished(pMissing.get(), &QNetworkReplyWrapper::finished);
        QVERIFY(missingFinished.wait(WaitMs));
        QCOMPARE(missingErrors.count(), 1);
        QCOMPARE(missingErrors.at(0).at(0).value<QNetworkReply::NetworkError>(),
                 QNetworkReply::ContentNotFoundError);
        QCOMPARE(pMissing->error(), QNetworkReply::ContentNotFoundError);
        QVERIFY(pMissing->errorString().contains(u"Not Found"_qs));
    }

    void replyWrapperReportsTheRequestedUrlAfterRedirects() {
        QNetworkAccessManagerWrapper manager(std::make_shared<QNetworkAccessManager>());
        manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        const QUrl asked = m_nginx.url(u"moved"_qs);
        std::unique_ptr<QNetworkReplyWrapper> pReply(manager.get(QNetworkRequest(asked)));
        QSignalSpy finished(pReply.get(), &QNetworkReplyWrapper::finished);
        QVERIFY(finished.wait(WaitMs));
        QCOMPARE(pReply->error(), QNetworkReply::NoError);
        QCOMPARE(pReply->url(), asked);
        QCOMPARE(pReply->readAll().size(), 300000);
    }

    void compressedBodyIsNotTakenForACutOne() {
        // The announced length counts compressed bytes; the network layer unpacks
        // the body and drops that header, so the shorter body is complete.
        QNetworkAccessManagerWrapper manager(std::make_shared<QNetworkAccessManager>());
        std::unique_ptr<QNetworkReplyWrapper> pReply(
            manager.get(QNetworkRequest(m_nginx.url(u"zipped/noise.bin"_qs))));
        QSignalSpy finished(pReply.get(), &QNetworkReplyWrapper::finished);
        QVERIFY(finished.wait(WaitMs));
        const auto* pRawReply = qobject_cast<QNetworkReply*>(pReply->parent());
        QCOMPARE(pRawReply->rawHeader("Content-Encoding"), QByteArray("gzip"));
        QCOMPARE(pReply->error(), QNetworkReply::NoError);
        QCOMPARE(pReply->readAll(), m_noise);
    }

    void wrapperWithoutReplyIsHarmless() {
        QNetworkReplyWrapper empty(nullptr);
        QCOMPARE(empty.parent(), nullptr);
        QVERIFY(empty.error() != QNetworkReply::NoError);
        QVERIFY(!empty.errorString().isEmpty());
        QVERIFY(empty.readAll().isEmpty());
        QVERIFY(empty.url().isEmpty());

        QNetworkAccessManagerWrapper noManager(nullptr);
        std::unique_ptr<QNetworkReplyWrapper> pReply(
            noManager.get(QNetworkRequest(m_nginx.url(u"body.bin"_qs))));
        QVERIFY(pReply);
        QVERIFY(pReply->error() != QNetworkReply::NoError);
    }

    void wrapperAndReplyGoTogether() {
        auto manager = std::make_shared<QNetworkAccessManager>();
        QNetworkAccessManagerWrapper wrapper(manager);

        // Done with the wrapper: the reply goes too.
        QPointer<QNetworkReplyWrapper> pFirst = wrapper.get(QNetworkRequest(m_nginx.url(u"body.bin"_qs)));
        QPointer<QNetworkReply> pFirstReply = qobject_cast<QNetworkReply*>(pFirst->parent());
        QVERIFY(pFirstReply);
        QVERIFY(QSignalSpy(pFirst.data(), &QNetworkReplyWrapper::finished).wait(WaitMs));
        pFirst->deleteLater();
        processDeferredDeletes();
        processDeferredDeletes();
        QVERIFY(pFirst.isNull());
        QVERIFY(pFirstReply.isNull());

        // The reply deleted first takes its wrapper along, once.
        QPointer<QNetworkReplyWrapper> pSecond = wrapper.get(QNetworkRequest(m_nginx.url(u"body.bin"_qs)));
        delete pSecond->parent();
        QVERIFY(pSecond.isNull());
        processDeferredDeletes();
        QCOMPARE(manager->findChildren<QNetworkReply*>().size(), 0);
    }

    void authenticationRequestsAreRepeated() {
        TScriptedHttpServer server;
        QVERIFY(server.start());
        TScriptedAnswer challenge = TScriptedAnswer::withStatus(401, "who are you");
        challenge.headers.append(
            {QByteArrayLiteral("WWW-Authenticate"), QByteArrayLiteral("Basic realm=\"cdn\"")});
        server.setAnswer(u"/private"_qs, challenge);

        QNetworkAccessManagerWrapper manager(std::make_shared<QNetworkAccessManager>());
        int asked = 0;
        connect(&manager, &QNetworkAccessManagerWrapper::authenticationRequired, this,
                [&](QNetworkReply* pAskingReply, QAuthenticator* pAuthenticator) {
                    asked += pAskingReply && pAuthenticator ? 1 : 100;
                });
        std::unique_ptr<QNetworkReplyWrapper> pReply(manager.get(QNetworkRequest(server.url(u"private"_qs))));
        QSignalSpy finished(pReply.get(), &QNetworkReplyWrapper::finished);
        QVERIFY(finished.wait(WaitMs));
        QCOMPARE(asked, 1);
        // Nobody answers, so the transfer fails.
        QCOMPARE(pReply->error(), QNetworkReply::AuthenticationRequiredError);
    }

    void poolFreesEveryReplyItIsDoneWith() {
        TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setAnswer(u"/ok"_qs, TScriptedAnswer::ok("fine"));
        server.setAnswer(u"/gone"_qs, TScriptedAnswer::withStatus(404));
        server.setAnswer(u"/cut"_qs,
                         TScriptedAnswer::faulty(EScriptedFault::ResetMidBody, QByteArray(50000, 'c')));

        for (const bool autoRelease : {true, false}) {
            auto manager = std::make_shared<TWatchingAccessManager>();
            TDownloadPool pool(2, manager, nullptr, autoRelease);
            QSignalSpy succeeded(&pool, &TDownloadPool::success);
            QSignalSpy failed(&pool, &TDownloadPool::failed);
            connect(&pool, &TDownloadPool::success, &pool, &TDownloadPool::releaseDownload);
            connect(&pool, &TDownloadPool::failed, &pool,
                    [&pool](const QUrl& url) { pool.releaseDownload(url); });
            for (const QString& path : {u"ok"_qs, u"gone"_qs, u"cut"_qs, u"ok?2"_qs, u"gone?2"_qs})
                pool.download(server.url(path));
            QTRY_COMPARE_WITH_TIMEOUT(succeeded.count() + failed.count(), 5, WaitMs);
            processDeferredDeletes();
            processDeferredDeletes();
            QCOMPARE(manager->handedOut.size(), 5);
            QCOMPARE(manager->alive(), 0);
            QCOMPARE(manager->accessManager()->findChildren<QNetworkReply*>().size(), 0);
        }

        // A pool that goes away while a transfer runs neither aborts it nor leaves
        // its reply behind once it ends.
        server.setHoldAnswers(true);
        auto manager = std::make_shared<TWatchingAccessManager>();
        auto pool = std::make_unique<TDownloadPool>(2, manager, nullptr, true);
        pool->download(server.url(u"ok?late"_qs));
        QTRY_COMPARE_WITH_TIMEOUT(server.heldAnswerCount(), 1, WaitMs);
        pool.reset();
        QCOMPARE(manager->alive(), 1);
        QSignalSpy finished(manager->handedOut.first().data(), &QNetworkReplyWrapper::finished);
        server.releaseHeldAnswers();
        QVERIFY(finished.wait(WaitMs));
        processDeferredDeletes();
        processDeferredDeletes();
        QCOMPARE(manager->alive(), 0);
        QCOMPARE(manager->accessManager()->findChildren<QNetworkReply*>().size(), 0);
    }

private:
    TNginxFixture m_nginx;
    QByteArray m_noise;
};

LAUNCHER_TEST(TestNetworkWrappers)
#include "tst_qnetworkreplywrapper.moc"
