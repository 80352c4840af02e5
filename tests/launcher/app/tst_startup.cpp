// ctest: serial
// Every launcher started here takes the launcher's fixed single-instance guard.
#include "launcher/settings/launcherconstants.h"
#include "platform/namedfilemapping.h"
#include "support/launchersandbox.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

#include <signal.h>

using testsupport::TLauncherSandbox;
using testsupport::operator""_qs;

namespace {

const QRegularExpression startLine(QStringLiteral(R"(Info: Version: 0\.0\.12 Thread: 0x[0-9a-f]+$)"));
const QRegularExpression linePattern(QStringLiteral(
    R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \([^()]*:\d+\) (Debug|Info|Warning|Critical): .*$)"));

QString firstLineContaining(const QStringList& lines, const QString& text) {
    for (const QString& line : lines) {
        if (line.contains(text)) {
            return line;
        }
    }
    return QString();
}

// The value of "key=value" in the start-up settings line.
QString settingValue(const QString& settingsLine, const QString& key) {
    const QRegularExpression pattern(u"[:,] %1=([^,]*)(,| Thread:)"_qs.arg(key));
    const QRegularExpressionMatch match = pattern.match(settingsLine);
    return match.hasMatch() ? match.captured(1) : u"<missing>"_qs;
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_proxy.start());
        m_proxy.setHoldAnswers(true);
    }

    void init() {
        m_sandbox = std::make_unique<TLauncherSandbox>();
        QVERIFY2(m_sandbox->isValid(), qPrintable(m_sandbox->errorString()));
        const QString proxy = u"http://127.0.0.1:%1"_qs.arg(m_proxy.port());
        m_sandbox->setEnvironmentVariable(u"https_proxy"_qs, proxy);
        m_sandbox->setEnvironmentVariable(u"http_proxy"_qs, proxy);
        // A launcher from elsewhere on this machine would make every start here a second instance.
        QVERIFY2(!platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName),
                 "another launcher is running");
    }

    void firstInstanceLogsAndEndsCleanlyOnTermination() {
        auto launcher = m_sandbox->start();
        QVERIFY(m_sandbox->waitForLogLine(startLine));
        QVERIFY(platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName));

        QVERIFY(TLauncherSandbox::stop(*launcher, SIGTERM));
        QCOMPARE(launcher->exitStatus(), QProcess::NormalExit);
        QCOMPARE(launcher->exitCode(), 0);
        QVERIFY(!platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName));

        const QStringList lines = m_sandbox->logLines();
        QVERIFY(lines.size() >= 4);
        for (const QString& line : lines) {
            QVERIFY2(linePattern.match(line).hasMatch(), qPrintable(line));
        }
        QVERIFY2(startLine.match(lines.first()).hasMatch(), qPrintable(lines.first()));
        QVERIFY2(lines.last().contains(u"Info: onSignalReceived: signal 15 ends the launcher Thread: 0x"_qs),
                 qPrintable(lines.last()));
    }

    void secondInstanceEndsAtOnceAndLeavesTheLogAlone() {
        auto first = m_sandbox->start();
        QVERIFY(m_sandbox->waitForLogLine(startLine));
        QVERIFY(m_sandbox->waitForLogLine(QRegularExpression(u"Settings from "_qs)));
        const QByteArray logBefore = m_sandbox->logContent();

        auto second = m_sandbox->start({u"--show-ui"_qs});
        QVERIFY(second->waitForFinished(60000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        const QString secondOutput = QString::fromUtf8(second->readAllStandardError());
        QVERIFY2(secondOutput.contains(u"Version: 0.0.12 already running Thread: 0x"_qs),
                 qPrintable(secondOutput));

        QCOMPARE(m_sandbox->logContent(), logBefore);
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(TLauncherSandbox::stop(*first, SIGTERM));
        QCOMPARE(first->exitCode(), 0);
    }

    void startAfterKilledLauncherIsFirstInstance() {
        auto killed = m_sandbox->start();
        QVERIFY(m_sandbox->waitForLogLine(startLine));
        QVERIFY(TLauncherSandbox::stop(*killed, SIGKILL));
        QCOMPARE(killed->exitStatus(), QProcess::CrashExit);
        QVERIFY(!platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName));

        auto next = m_sandbox->start();
        QVERIFY2(m_sandbox->waitForLogLine(startLine, 2),
                 qPrintable(QString::fromUtf8(next->readAllStandardError())));
        QCOMPARE(next->state(), QProcess::Running);
        QVERIFY(TLauncherSandbox::stop(*next, SIGTERM));
        QCOMPARE(next->exitCode(), 0);
    }

    void restartedLauncherWaitsForItsPredecessor() {
        auto predecessor = m_sandbox->start();
        QVERIFY(m_sandbox->waitForLogLine(startLine));

        // A restart carries the skip option; it must not give up while the predecessor is ending.
        auto restarted = m_sandbox->start({u"--skip-selfupdate"_qs});
        QTest::qWait(1000);
        QCOMPARE(restarted->state(), QProcess::Running);
        QVERIFY(TLauncherSandbox::stop(*predecessor, SIGTERM));
        QCOMPARE(predecessor->exitCode(), 0);

        QVERIFY2(m_sandbox->waitForLogLine(startLine, 2),
                 qPrintable(QString::fromUtf8(restarted->readAll())));
        QCOMPARE(restarted->state(), QProcess::Running);
        // The successor announces itself to the game client once its predecessor is gone.
        QVERIFY(platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName));
        QVERIFY(TLauncherSandbox::stop(*restarted, SIGTERM));
        QCOMPARE(restarted->exitCode(), 0);
    }

    void restartedLauncherGivesUpWhenThePredecessorStays() {
        auto first = m_sandbox->start();
        QVERIFY(m_sandbox->waitForLogLine(startLine));

        auto restarted = m_sandbox->start({u"-s"_qs});
        QVERIFY(restarted->waitForFinished(60000));
        QCOMPARE(restarted->exitCode(), 0);
        QVERIFY(QString::fromUtf8(restarted->readAllStandardError()).contains(u"already running"_qs));
        QCOMPARE(m_sandbox->countLogLines(startLine), 1);

        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(TLauncherSandbox::stop(*first, SIGTERM));
    }

    void builtInSettingsWithoutLocalFile() {
        auto launcher = m_sandbox->start();
        QVERIFY(m_sandbox->waitForLogLine(QRegularExpression(u"Settings from "_qs)));
        QVERIFY(TLauncherSandbox::stop(*launcher, SIGTERM));

        const QString line = firstLineContaining(m_sandbox->logLines(), u"Settings from "_qs);
        QVERIFY2(line.contains(u"Settings from :/settings/launchersettings.ini: "_qs), qPrintable(line));
        QVERIFY(settingValue(line, u"launcherConfiguration"_qs).startsWith(u"https://"_qs));
        QCOMPARE(settingValue(line, u"waitNotificationTimeout"_qs), u"500"_qs);
        QCOMPARE(settingValue(line, u"downloadErrorTimeout"_qs), u"10000"_qs);
        QCOMPARE(settingValue(line, u"clientStartTimeout"_qs), u"30000"_qs);
        QCOMPARE(settingValue(line, u"maxCachedChunks"_qs), u"100"_qs);
        QCOMPARE(settingValue(line, u"maxConcurrentDownloads"_qs), u"10"_qs);
        QCOMPARE(settingValue(line, u"fastScan"_qs), u"true"_qs);
        QCOMPARE(settingValue(line, u"skipVerification"_qs), u"true"_qs);
        QCOMPARE(settingValue(line, u"chunkVerification"_qs), u"false"_qs);
    }

    void localSettingsFileReplacesBuiltInText() {
        QVERIFY(m_sandbox->writeSettings("[OPTIONS]\nmaxConcurrentDownloads=4\n"));
        auto launcher = m_sandbox->start();
        QVERIFY(m_sandbox->waitForLogLine(QRegularExpression(u"Settings from "_qs)));
        QVERIFY(TLauncherSandbox::stop(*launcher, SIGTERM));

        const QString line = firstLineContaining(m_sandbox->logLines(), u"Settings from "_qs);
        QVERIFY2(
            line.contains(u"Settings from %1/launchersettings.ini: "_qs.arg(m_sandbox->launcherDirectory())),
            qPrintable(line));
        QCOMPARE(settingValue(line, u"maxConcurrentDownloads"_qs), u"4"_qs);
        QCOMPARE(settingValue(line, u"launcherConfiguration"_qs), QString());
        QCOMPARE(settingValue(line, u"waitNotificationTimeout"_qs), u"0"_qs);
        QCOMPARE(settingValue(line, u"downloadErrorTimeout"_qs), u"0"_qs);
        QCOMPARE(settingValue(line, u"clientStartTimeout"_qs), u"0"_qs);
    }

    void commandLineOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("options");

        QTest::newRow("none") << QStringList() << u"none"_qs;
        QTest::newRow("short skip") << QStringList{"-s"} << u"skip-selfupdate"_qs;
        QTest::newRow("long skip") << QStringList{"--skip-selfupdate"} << u"skip-selfupdate"_qs;
        QTest::newRow("all four")
            << QStringList{"-l", "--show-ui", "-s", "-p", "/games/vantor/client.exe"}
            << u"first-launch, skip-selfupdate, show-ui, patch=/games/vantor/client.exe"_qs;
        QTest::newRow("long patch with value") << QStringList{"--patch=/x/y"} << u"patch=/x/y"_qs;
        QTest::newRow("unknown option ignored") << QStringList{"--no-such-option", "-u"} << u"show-ui"_qs;
    }

    void commandLineOptions() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, options);
        auto launcher = m_sandbox->start(arguments);
        QVERIFY(m_sandbox->waitForLogLine(QRegularExpression(u"Command line options: "_qs)));
        QVERIFY(TLauncherSandbox::stop(*launcher, SIGTERM));

        const QString line = firstLineContaining(m_sandbox->logLines(), u"Command line options: "_qs);
        QVERIFY2(line.contains(u"Info: Command line options: %1 Thread: 0x"_qs.arg(options)),
                 qPrintable(line));
    }

private:
    std::unique_ptr<TLauncherSandbox> m_sandbox;
    // Stands in for the way to the product's web server: the built-in settings name an address
    // there, and a launcher started here must never leave this machine. Requests are held, so the
    // configuration download simply waits.
    testsupport::TScriptedHttpServer m_proxy;
};

LAUNCHER_TEST(TestStartup)
#include "tst_startup.moc"
