// ctest: serial
// Telemetry on: funnel and survey posts; off: no post, no identifier; no address: no attempt.
#include "support/launchersandbox.h"
#include "support/publishedgame.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

using testsupport::operator""_qs;

class TestPrivacy : public QObject {
    Q_OBJECT

private slots:
    void telemetrySettingDecidesWhatIsSent_data() {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("funnelConfigured");
        QTest::addColumn<bool>("sent");
        QTest::newRow("on") << u"telemetry=true"_qs << true << true;
        QTest::newRow("off") << u"telemetry=false"_qs << true << false;
        QTest::newRow("no funnel address") << u"telemetry=true"_qs << false << false;
    }

    void telemetrySettingDecidesWhatIsSent() {
        QFETCH(QString, option);
        QFETCH(bool, funnelConfigured);
        QFETCH(bool, sent);
        testsupport::TScriptedHttpServer services;
        QVERIFY(services.start());
        services.setAnswer(u"/funnel"_qs, testsupport::TScriptedAnswer::ok("{}"));
        services.setAnswer(u"/survey"_qs, testsupport::TScriptedAnswer::ok(R"({"errorCode": 0})"));
        testsupport::TLauncherSandbox sandbox;
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        // The maker's shared folder exists, so a device identifier would be written into it.
        const QString sharedFolder = sandbox.environment().value(u"XDG_DATA_HOME"_qs) + u"/Vantor Online"_qs;
        QVERIFY(QDir().mkpath(sharedFolder));
        const QByteArray funnel = funnelConfigured ? services.url(u"/funnel"_qs).toEncoded() : QByteArray();
        const QByteArray survey = sent ? services.url(u"/survey"_qs).toEncoded() : QByteArray();
        QVERIFY(testsupport::writeBytes(sandbox.launcherDirectory() + u"/config/launcher.json"_qs,
                                        "{\"packages\": [], \"funnel\": \"" + funnel +
                                            "\", \"hardwaresurvey\": \"" + survey + "\"}"));
        QVERIFY(sandbox.writeSettings(testsupport::launcherSettingsText(
            QUrl::fromLocalFile(sandbox.launcherDirectory() + u"/config/launcher.json"_qs), {option})));

        const auto launcher = sandbox.start({u"--skip-selfupdate"_qs});
        // The window's start report is the last milestone of a start without packages.
        QVERIFY(sandbox.waitForLogLine(QRegularExpression(u"sendFunnelEvent: launcher_started"_qs)));
        if (sent) {
            QVERIFY(QTest::qWaitFor([&] { return services.requestCount(u"/funnel"_qs) == 1; }, 30000));
            QVERIFY(QTest::qWaitFor([&] { return services.requestCount(u"/survey"_qs) == 1; }, 30000));
        } else {
            // A post made after the milestone would arrive within moments on the loopback.
            QVERIFY(!QTest::qWaitFor([&] { return services.totalRequestCount() > 0; }, 2000));
        }
        QVERIFY(testsupport::TLauncherSandbox::stop(*launcher, SIGTERM));
        QCOMPARE(QFile::exists(sharedFolder + u"/vantorShared.json"_qs), sent);
        QCOMPARE(sandbox.countLogLines(QRegularExpression(u"Telemetry is off"_qs)),
                 option == u"telemetry=false" ? 1 : 0);
        QCOMPARE(sandbox.countLogLines(QRegularExpression(u"Protocol \"\" is unknown"_qs)), 0);
    }
};

LAUNCHER_TEST(TestPrivacy)
#include "tst_privacy.moc"
