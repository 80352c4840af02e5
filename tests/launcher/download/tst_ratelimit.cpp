// The download speed limit: an installation from nginx under a limit never takes more than the
// limit allows over two seconds, and the player's own value outranks the settings file until it is
// cleared.
#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/settings/downloadratesetting.h"
#include "launcher/telemetry/funneleventsender.h"
#include "shared/network/ratelimiter.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <utility>
#include <vector>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

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
#include "tst_ratelimit.moc"
