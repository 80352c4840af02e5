#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/settings/downloadratesetting.h"
#include "launcher/telemetry/funneleventsender.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "shared/network/mirrorset.h"
#include "shared/network/ratelimiter.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <utility>
#include <vector>

using namespace mirrel::launcher;
using testsupport::EScriptedFault;
using testsupport::TScriptedAnswer;
using testsupport::operator""_qs;

class TestMirrors : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_Mirror.start());
        for (const quint32 seed : {7, 8}) {
            QVERIFY(testsupport::writeBytes(m_Work.filePath(u"build/data/%1.pak"_qs.arg(seed)),
                                            testsupport::seededBytes(seed, 1 << 20)));
        }
        QString output;
        QVERIFY2(testsupport::publishBuild(m_Work.filePath(u"build"_qs), m_Mirror.documentRoot() + u"/cdn"_qs,
                                           u"1"_qs, output),
                 qPrintable(output));
    }

    void failingServersAreLeftForTheNextAddress_data() {
        QTest::addColumn<QString>("primary");     // "refused", or a scripted answer to every chunk
        QTest::addColumn<bool>("badMirrorFirst"); // a mirror with wrong bodies comes before nginx
        QTest::newRow("main server refuses") << u"refused"_qs << false;
        QTest::newRow("main server resets mid-body") << u"reset"_qs << false;
        QTest::newRow("main server fails with 503") << u"503"_qs << false;
        QTest::newRow("a mirror sends wrong bodies") << u"refused"_qs << true;
    }

    void failingServersAreLeftForTheNextAddress() {
        QFETCH(QString, primary);
        QFETCH(bool, badMirrorFirst);
        testsupport::TScriptedHttpServer scripted;
        QVERIFY(scripted.start());
        const QUrl refused = testsupport::closedLoopbackUrl(u"cdn/"_qs);
        const QUrl primaryBase = primary == u"refused" ? refused : scripted.url(u"/cdn/"_qs);
        const TPackageConfigurationReader target =
            testsupport::readPublishedConfiguration(m_Mirror.documentRoot() + u"/cdn"_qs, primaryBase);
        QList<QUrl> mirrors{m_Mirror.url(u"cdn/"_qs)};
        if (badMirrorFirst) {
            mirrors.prepend(scripted.url(u"/bad/"_qs));
        }
        for (const TChunkInPackage& chunk : target.chunks()) {
            const QString path = chunk.Url.path();
            const QByteArray wrong = testsupport::seededBytes(9, qint64(chunk.PackedSize));
            scripted.setAnswer(QString(path).replace(u"/cdn/"_qs, u"/bad/"_qs), TScriptedAnswer::ok(wrong));
            scripted.setAnswer(path, primary == u"503"
                                         ? TScriptedAnswer::withStatus(503)
                                         : TScriptedAnswer::faulty(EScriptedFault::ResetMidBody, wrong));
        }
        m_Mirror.clearAccessLog();

        QTemporaryDir launcher;
        // A retry would wait for ten minutes: only moving on to the next address finishes in time.
        testsupport::TInstallationDriver driver(
            testsupport::makeLauncherFilesystem(launcher.path(), "[OPTIONS]\nretryPause=600000\n"),
            launcher.filePath(u"packages/test"_qs));
        driver.installation().package()->setMirrors(
            std::make_shared<shared::TMirrorSet>(primaryBase, mirrors));
        QVERIFY(driver.install(target, TPackageConfigurationReader(), false, 60000));
        QVERIFY(driver.installation().success());
        QString difference;
        QVERIFY2(testsupport::sameTree(m_Work.filePath(u"build"_qs), launcher.filePath(u"packages/test"_qs),
                                       difference),
                 qPrintable(difference));
        for (const TChunkInPackage& chunk : target.chunks()) {
            QVERIFY(m_Mirror.waitForRequestCount(chunk.Url.path(), 1));
        }
    }

private:
    testsupport::TNginxFixture m_Mirror;
    QTemporaryDir m_Work;
};

LAUNCHER_TEST(TestMirrors)

class TestRateLimit : public QObject {
    Q_OBJECT

private slots:
    void installationKeepsToTheLimit() {
        constexpr qint64 Limit = 512 * 1024;
        testsupport::TNginxFixture server;
        QVERIFY(server.start());
        QTemporaryDir work;
        for (const quint32 seed : {3, 4}) {
            QVERIFY(testsupport::writeBytes(work.filePath(u"build/%1.bin"_qs.arg(seed)),
                                            testsupport::seededBytes(seed, 1 << 20)));
        }
        QString output;
        QVERIFY2(
            testsupport::publishBuild(work.filePath(u"build"_qs), server.documentRoot(), u"1"_qs, output),
            qPrintable(output));
        testsupport::TInstallationDriver driver(
            testsupport::makeLauncherFilesystem(work.filePath(u"launcher"_qs), QByteArray()),
            work.filePath(u"installation"_qs));
        driver.installation().setRateLimiter(std::make_shared<shared::TRateLimiter>(Limit));
        // Bytes taken in, by the time they were taken.
        std::vector<std::pair<qint64, TFileSize>> samples;
        QElapsedTimer clock;
        connect(driver.installation().packageFileDownloader(), &TPackageFileDownloader::progress, this,
                [&](TFileSize Downloaded) { samples.emplace_back(clock.nsecsElapsed(), Downloaded); });
        clock.start();
        QVERIFY(driver.install(
            testsupport::readPublishedConfiguration(server.documentRoot(), server.url(QString())),
            TPackageConfigurationReader(), false));
        QVERIFY(driver.installation().success() && samples.back().second > TFileSize(2 * Limit));
        // Any span of two seconds or more: at most 10% over the limit.
        for (const auto& [from, before] : samples) {
            for (const auto& [to, after] : samples) {
                const double seconds = double(to - from) / 1e9;
                QVERIFY2(seconds < 2 || double(after - before) <= 1.1 * double(Limit) * seconds,
                         qPrintable(u"%1 bytes in %2 s"_qs.arg(after - before).arg(seconds)));
            }
        }
    }

    void playersValueOutranksTheSettingsFile_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("inForce");
        QTest::newRow("a value") << u" 300 "_qs << true << 300;
        QTest::newRow("zero clears it") << u"0"_qs << true << 2000;
        QTest::newRow("empty clears it") << QString() << true << 2000;
        QTest::newRow("no number") << u"fast"_qs << false << 700;
        QTest::newRow("negative") << u"-5"_qs << false << 700;
    }

    void playersValueOutranksTheSettingsFile() {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QFETCH(int, inForce);
        TFunnelEventSender::userSettingsStore()->setValue(
            QLatin1String(TDownloadRateSetting::UserSettingsKey), 700);
        const auto limiter = std::make_shared<shared::TRateLimiter>();
        TDownloadRateSetting setting(2000, limiter);
        QCOMPARE(setting.setUserText(typed), accepted);
        QCOMPARE(setting.kibPerSecond(), inForce);
        QCOMPARE(limiter->bytesPerSecond(), qint64(inForce) * 1024);
    }
};

LAUNCHER_TEST(TestRateLimit)

class TestPauseResume : public QObject {
    Q_OBJECT

private slots:
    void halfReceivedChunkContinues_data() {
        QTest::addColumn<bool>("ranges");
        QTest::newRow("server serves ranges") << true;
        QTest::newRow("server without ranges") << false;
    }

    void halfReceivedChunkContinues() {
        QFETCH(bool, ranges);
        QTemporaryDir work;
        QVERIFY(testsupport::writeBytes(work.filePath(u"build/world.pak"_qs),
                                        testsupport::seededBytes(5, 1 << 20)));
        QString output;
        QVERIFY2(
            testsupport::publishBuild(work.filePath(u"build"_qs), work.filePath(u"cdn"_qs), u"1"_qs, output),
            qPrintable(output));
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        const TPackageConfigurationReader target =
            testsupport::readPublishedConfiguration(work.filePath(u"cdn"_qs), server.url(u"/"_qs));
        QCOMPARE(int(target.chunks().size()), 1);
        const QString path = target.chunks().front().Url.path();
        const QByteArray body = testsupport::readBytes(work.filePath(u"cdn"_qs) + path);
        const qint64 half = body.size() / 2;
        const QList<QPair<QByteArray, QByteArray>> rangeHeader{{"Accept-Ranges", "bytes"}};
        TScriptedAnswer first = TScriptedAnswer::faulty(EScriptedFault::StallMidBody, body, half);
        TScriptedAnswer rest = TScriptedAnswer::ok(body);
        if (ranges) {
            first.headers = rangeHeader;
            rest = TScriptedAnswer::withStatus(206, body.mid(int(half)));
            rest.headers = rangeHeader;
            rest.headers.append({"Content-Range", "bytes " + QByteArray::number(half) + '-' +
                                                      QByteArray::number(body.size() - 1) + '/' +
                                                      QByteArray::number(body.size())});
        }
        server.setAnswerSequence(path, {first, rest});

        testsupport::TInstallationDriver driver(
            testsupport::makeLauncherFilesystem(work.filePath(u"launcher"_qs), QByteArray()),
            work.filePath(u"installation"_qs));
        TPackageInstallation& installation = driver.installation();
        TClientPackageLayoutItem row(installation.package(), false);
        // Paused once half the chunk has arrived; resumed once the row shows it.
        connect(installation.packageFileDownloader(), &TPackageFileDownloader::progress, this,
                [&](TFileSize Downloaded) {
                    if (Downloaded >= TFileSize(half) && server.requestCount(path) == 1 &&
                        !installation.isPaused()) {
                        row.onInstallationOrUpdateStarted(installation);
                        installation.pause();
                        QTimer::singleShot(0, &installation, [&installation] { installation.resume(); });
                        row.onPausedChanged(installation);
                        QCOMPARE(row.progressBar()->format(), u"Paused"_qs);
                        QVERIFY(row.versionLabel()->text().startsWith(u"0.5/1.0 MB"_qs));
                    }
                });
        QVERIFY(driver.install(target, TPackageConfigurationReader(), false, 60000));
        QVERIFY(driver.installation().success());
        QCOMPARE(testsupport::readBytes(work.filePath(u"installation/world.pak"_qs)),
                 testsupport::readBytes(work.filePath(u"build/world.pak"_qs)));
        QCOMPARE(server.requestCount(path), 2);
        QCOMPARE(server.requestsFor(path).at(1).headers.value("range"),
                 ranges ? "bytes=" + QByteArray::number(half) + '-' : QByteArray());
    }
};

LAUNCHER_TEST(TestPauseResume)
#include "tst_downloadcontrols.moc"
