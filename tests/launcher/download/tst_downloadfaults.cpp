// Servers that stay silent, stop mid-body or send too much, played by the scripted server: every
// transfer ends within its limits, a chunk is asked again after growing pauses, and a package whose
// document never comes is left out while the others are offered.
#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/download/retrypolicy.h"
#include "launcher/package/package.h"
#include "launcher/settings/launchersettings.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "shared/container/container.h"
#include "shared/network/downloadpool.h"
#include "support/installationkit.h"
#include "support/messagecapture.h"
#include "support/publishedgame.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::EScriptedFault;
using testsupport::TScriptedAnswer;
using testsupport::operator""_qs;

namespace {

constexpr int StallTimeoutMs = 500;
constexpr int RetryPauseMs = 50;
constexpr int WaitMs = 30000;

const QByteArray FaultSettings =
    "[OPTIONS]\nmaxConcurrentDownloads=10\ntransferStallTimeout=" + QByteArray::number(StallTimeoutMs) +
    "\nretryPause=" + QByteArray::number(RetryPauseMs) + '\n';

template <typename T>
QList<T> repeated(int Count, const T& Value) {
    return QVector<T>(Count, Value).toList();
}

// One scripted attempt of a chunk by name.
TScriptedAnswer attempt(const QString& Name, const QByteArray& Packed) {
    if (Name == u"silent") {
        return TScriptedAnswer::faulty(EScriptedFault::StallBeforeHeaders, Packed);
    }
    if (Name == u"stops mid-body") {
        return TScriptedAnswer::faulty(EScriptedFault::StallMidBody, Packed);
    }
    if (Name == u"cut after progress") {
        return TScriptedAnswer::faulty(EScriptedFault::CloseMidBody, Packed);
    }
    if (Name == u"cut before the body") {
        return TScriptedAnswer::faulty(EScriptedFault::CloseMidBody, Packed, 0);
    }
    if (Name == u"oversized") {
        return TScriptedAnswer::ok(Packed + QByteArray(20000, 'x'));
    }
    return TScriptedAnswer::ok(Packed);
}

QJsonObject packageEntry(const QString& Name, const QString& DocumentPath) {
    const QJsonObject build{
        {u"os"_qs, u"linux"_qs}, {u"architecture"_qs, u"x86_64"_qs}, {u"url"_qs, DocumentPath}};
    return QJsonObject{
        {u"name"_qs, Name}, {u"directoryname"_qs, Name.toLower()}, {u"builds"_qs, QJsonArray{build}}};
}

} // namespace

class TestDownloadFaults : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs); }

    // A missing or unusable value must never switch the time-out off.
    void timingSettingsFallBackToTheirDefaults_data() {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<int>("stallTimeout");
        QTest::addColumn<int>("retryPause");
        QTest::newRow("absent") << QByteArray() << 30000 << 1000;
        QTest::newRow("set") << QByteArray("transferStallTimeout=250\nretryPause=20\n") << 250 << 20;
        QTest::newRow("zero") << QByteArray("transferStallTimeout=0\nretryPause=0\n") << 30000 << 0;
        QTest::newRow("negative") << QByteArray("transferStallTimeout=-1\nretryPause=-1\n") << 30000 << 0;
        QTest::newRow("no number") << QByteArray("transferStallTimeout=soon\n") << 30000 << 1000;
    }

    void timingSettingsFallBackToTheirDefaults() {
        QFETCH(QByteArray, options);
        QFETCH(int, stallTimeout);
        QFETCH(int, retryPause);
        QTemporaryDir launcher;
        const auto settings =
            testsupport::makeLauncherFilesystem(launcher.path(), "[OPTIONS]\n" + options)->settings();
        QCOMPARE(settings->transferStallTimeout(), stallTimeout);
        QCOMPARE(settings->retryPause(), retryPause);
    }

    void transferEndsWithinItsLimits_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<qint64>("expectedSize"); // 0: none
        QTest::addColumn<qint64>("maximumBodySize");
        QTest::addColumn<int>("code");
        const qint64 standard = shared::TDownloadPool::DefaultMaximumBodySize;
        QTest::newRow("plain answer")
            << int(EScriptedFault::None) << qint64(0) << standard << int(QNetworkReply::NoError);
        QTest::newRow("silent after the request") << int(EScriptedFault::StallBeforeHeaders) << qint64(0)
                                                  << standard << int(QNetworkReply::TimeoutError);
        QTest::newRow("silent mid-body")
            << int(EScriptedFault::StallMidBody) << qint64(0) << standard << int(QNetworkReply::TimeoutError);
        QTest::newRow("document beyond the limit") << int(EScriptedFault::None) << qint64(0) << qint64(4000)
                                                   << int(QNetworkReply::UnknownContentError);
        QTest::newRow("body beyond its expected size") << int(EScriptedFault::None) << qint64(4000)
                                                       << standard << int(QNetworkReply::UnknownContentError);
        QTest::newRow("expected size above the limit")
            << int(EScriptedFault::None) << qint64(5000) << qint64(4000) << int(QNetworkReply::NoError);
    }

    void transferEndsWithinItsLimits() {
        QFETCH(int, fault);
        QFETCH(qint64, expectedSize);
        QFETCH(qint64, maximumBodySize);
        QFETCH(int, code);
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        const QByteArray body = testsupport::seededBytes(5, 5000);
        server.setAnswer(u"/d"_qs, TScriptedAnswer::faulty(EScriptedFault(fault), body));
        const auto pool = testsupport::makeDownloadPool();
        pool->setTransferStallTimeout(StallTimeoutMs);
        pool->setMaximumBodySize(maximumBodySize);
        pool->setExpectedBodySize(server.url(u"/d"_qs), expectedSize);
        QSignalSpy succeeded(pool.get(), &shared::TDownloadPool::success);
        QSignalSpy failed(pool.get(), &shared::TDownloadPool::failed);

        pool->download(server.url(u"/d"_qs));
        QVERIFY(QTest::qWaitFor([&] { return succeeded.count() + failed.count() > 0; }, WaitMs));
        QTest::qWait(50);
        QCOMPARE(succeeded.count() + failed.count(), 1);
        if (code == QNetworkReply::NoError) {
            QCOMPARE(succeeded.first().at(1).toByteArray(), body);
            return;
        }
        QCOMPARE(int(failed.first().at(1).value<QNetworkReply::NetworkError>()), code);
        QVERIFY(!failed.first().at(2).toString().isEmpty());
        QCOMPARE(pool->activeDownloadCount(), 0);
    }

    void retryPolicy_data() {
        QTest::addColumn<QList<bool>>("progress"); // per failure: whether it had received bytes
        QTest::addColumn<double>("jitter");
        QTest::addColumn<QList<int>>("pauses"); // per failure: the pause, or -1 for giving up
        QTest::newRow("dead server: three retries")
            << QList<bool>{false, false, false, false} << 0.0 << QList<int>{100, 200, 400, -1};
        QTest::newRow("moving transfer: six retries")
            << repeated(7, true) << 0.0 << QList<int>{100, 200, 400, 800, 1600, 3200, -1};
        QTest::newRow("mixed") << QList<bool>{true, false, true, false, true} << 0.0
                               << QList<int>{100, 200, 400, 800, -1};
        QTest::newRow("jitter stretches by up to a half")
            << QList<bool>{false, false} << 0.999 << QList<int>{149, 299};
    }

    void retryPolicy() {
        QFETCH(QList<bool>, progress);
        QFETCH(double, jitter);
        QFETCH(QList<int>, pauses);
        TRetryBudget budget;
        for (int failure = 0; failure < progress.size(); ++failure) {
            const TRetryDecision decision = decideRetry(budget, progress[failure], 100, jitter);
            QCOMPARE(decision.Retry ? decision.PauseMs : -1, pauses[failure]);
        }
    }

    void chunkIsAskedAgainAfterGrowingPauses_data() {
        QTest::addColumn<QList<QString>>("attempts");
        QTest::addColumn<bool>("completes");
        QTest::newRow("silent twice, then the chunk")
            << QList<QString>{u"silent"_qs, u"silent"_qs, u"ok"_qs} << true;
        QTest::newRow("stops mid-body twice, then the chunk")
            << QList<QString>{u"stops mid-body"_qs, u"stops mid-body"_qs, u"ok"_qs} << true;
        QTest::newRow("more than the packed size every time") << repeated(4, u"oversized"_qs) << false;
        QTest::newRow("cut after progress five times, then the chunk")
            << (repeated(5, u"cut after progress"_qs) << u"ok"_qs) << true;
        QTest::newRow("cut before the body four times") << repeated(4, u"cut before the body"_qs) << false;
    }

    void chunkIsAskedAgainAfterGrowingPauses() {
        QFETCH(QList<QString>, attempts);
        QFETCH(bool, completes);
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        const QByteArray content = testsupport::seededBytes(7, 30000);
        const QByteArray packed = shared::compress(shared::CompressionLzma, content);
        QList<TScriptedAnswer> script;
        for (const QString& name : attempts) {
            script.append(attempt(name, packed));
        }
        server.setAnswerSequence(u"/c/flaky"_qs, script);
        QElapsedTimer clock;
        clock.start();
        QList<qint64> arrivals;
        connect(&server, &testsupport::TScriptedHttpServer::requestReceived, this,
                [&] { arrivals.append(clock.elapsed()); });

        QTemporaryDir launcher;
        QTemporaryDir target;
        const auto fileSystem = testsupport::makeLauncherFilesystem(launcher.path(), FaultSettings);
        TChunkInPackage chunk;
        chunk.Url = server.url(u"/c/flaky"_qs);
        chunk.PackedSize = TFileSize(packed.size());
        chunk.UnpackedSize = TFileSize(content.size());
        chunk.UnpackedHash = testsupport::sha256(content);
        TFileToDownload file;
        file.LocalFile = u"flaky.bin"_qs;
        file.Size = chunk.UnpackedSize;
        file.Chunks = {chunk};
        file.ChunksToDownload = {0};

        const auto downloads = testsupport::makeDownloadPool(10, false);
        downloads->setTransferStallTimeout(fileSystem->settings()->transferStallTimeout());
        TPackageFileDownloader downloader(downloads, fileSystem);
        QSignalSpy completed(&downloader, &TPackageFileDownloader::downloadCompleted);
        QSignalSpy failed(&downloader, &TPackageFileDownloader::downloadFailed);
        downloader.setTargetDirectory(QDir(target.path()));
        downloader.setFilesToDownload({file});
        downloader.startDownloads();
        QVERIFY(QTest::qWaitFor([&] { return completed.count() + failed.count() > 0; }, WaitMs));
        QTest::qWait(100);

        QCOMPARE(completed.count(), completes ? 1 : 0);
        QCOMPARE(failed.count(), completes ? 0 : 1);
        QCOMPARE(arrivals.size(), attempts.size());
        QCOMPARE(QFileInfo::exists(target.filePath(u"flaky.bin"_qs)), completes);
        if (completes) {
            QCOMPARE(testsupport::readBytes(target.filePath(u"flaky.bin"_qs)), content);
        }
        // Never back to back: each new attempt waits at least twice as long as the one before.
        for (int index = 1; index < arrivals.size(); ++index) {
            const qint64 pause = qint64(RetryPauseMs) << std::min(index - 1, 5);
            QVERIFY2(arrivals[index] - arrivals[index - 1] >= pause * 9 / 10,
                     qPrintable(
                         u"attempt %1 after %2 ms"_qs.arg(index).arg(arrivals[index] - arrivals[index - 1])));
        }
    }

    void packageWhoseDocumentNeverComesIsLeftOut() {
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        const QJsonObject configuration{
            {u"packages"_qs, QJsonArray{packageEntry(u"Silent"_qs, u"silent/package.json"_qs),
                                        packageEntry(u"Good"_qs, u"good/package.json"_qs)}}};
        server.setAnswer(u"/launcher.json"_qs, TScriptedAnswer::ok(QJsonDocument(configuration).toJson()));
        server.setAnswer(u"/silent/package.json"_qs,
                         TScriptedAnswer::faulty(EScriptedFault::StallBeforeHeaders, {}));
        server.setAnswer(u"/good/package.json"_qs,
                         TScriptedAnswer::ok(R"({"version": "3", "files": [], "chunks": []})"));
        QTemporaryDir launcher;
        const auto fileSystem = testsupport::makeLauncherFilesystem(
            launcher.path(),
            testsupport::launcherSettingsText(server.url(u"/launcher.json"_qs),
                                              {u"transferStallTimeout=%1"_qs.arg(StallTimeoutMs)}));
        const auto pool = testsupport::makeDownloadPool();
        pool->setTransferStallTimeout(fileSystem->settings()->transferStallTimeout());
        TLauncherConfigurationHandler handler(pool, fileSystem);
        QSignalSpy finished(&handler, &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        connect(&handler, &TLauncherConfigurationHandler::mainConfigurationLoaded, &handler,
                [&handler] { handler.requestPackageConfigurations(); });
        testsupport::TMessageCapture messages;

        handler.startConfigurationDownload();
        QVERIFY(finished.wait(WaitMs));
        QStringList offered;
        for (const auto& package : handler.configuration()->availablePackages()) {
            offered << package->name();
        }
        QCOMPARE(offered, QStringList{u"Good"_qs});
        const QStringList reasons = messages.messages(QtCriticalMsg).filter(u"silent/package.json"_qs);
        QCOMPARE(reasons.size(), 1);
        QVERIFY2(reasons.first().contains(u"No data received"_qs), qPrintable(reasons.first()));
    }
};

LAUNCHER_TEST(TestDownloadFaults)
#include "tst_downloadfaults.moc"
