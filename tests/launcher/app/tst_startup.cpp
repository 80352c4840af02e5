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

using namespace testsupport;
using mirrel::launcher::LauncherPresenceName;

namespace {

const QRegularExpression StartLine(u"Info: Version: 0\\.0\\.12 Thread: 0x[0-9a-f]+$"_qs);

bool presence() {
    return platform::TNamedFileMapping::exists(LauncherPresenceName);
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_Proxy.start());
        m_Proxy.setHoldAnswers(true);
    }

    void init() {
        m_Sandbox = std::make_unique<TLauncherSandbox>();
        QVERIFY2(m_Sandbox->isValid(), qPrintable(m_Sandbox->errorString()));
        // The built-in settings name the product's web server; a launcher started here never leaves
        // this machine: its requests go to a proxy that holds them, so the configuration just waits.
        for (const QString& variable : {u"https_proxy"_qs, u"http_proxy"_qs}) {
            m_Sandbox->setEnvironmentVariable(variable, u"http://127.0.0.1:%1"_qs.arg(m_Proxy.port()));
        }
        QVERIFY2(!presence(), "another launcher is running");
    }

    void firstInstanceLogsAndEndsCleanlyOnTermination() {
        auto launcher = m_Sandbox->start();
        QVERIFY(m_Sandbox->waitForLogLine(StartLine));
        QVERIFY(presence());
        QVERIFY(TLauncherSandbox::stop(*launcher, SIGTERM));
        QCOMPARE(launcher->exitStatus(), QProcess::NormalExit);
        QCOMPARE(launcher->exitCode(), 128 + SIGTERM);
        QVERIFY(!presence());

        const QStringList lines = m_Sandbox->logLines();
        QVERIFY2(StartLine.match(lines.first()).hasMatch(), qPrintable(lines.first()));
        QVERIFY2(lines.last().contains(u"Info: onSignalReceived: signal 15 ends the launcher Thread: 0x"_qs),
                 qPrintable(lines.last()));
        const QRegularExpression form(
            u"^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\([^()]*:\\d+\\) (Debug|Info|Warning|Critical): "_qs);
        for (const QString& line : lines) {
            QVERIFY2(form.match(line).hasMatch(), qPrintable(line));
        }
    }

    void startAfterKilledLauncherIsFirstInstance() {
        auto killed = m_Sandbox->start();
        QVERIFY(m_Sandbox->waitForLogLine(StartLine));
        QVERIFY(TLauncherSandbox::stop(*killed, SIGKILL));
        QVERIFY(!presence());
        auto next = m_Sandbox->start();
        QVERIFY2(m_Sandbox->waitForLogLine(StartLine, 2), qPrintable(next->readAllStandardError()));
        QVERIFY(TLauncherSandbox::stop(*next, SIGTERM));
        QCOMPARE(next->exitCode(), 128 + SIGTERM);
    }

    // A restart carries the skip option; it must not give up while its predecessor is ending, and
    // announces itself to the game client once the predecessor is gone.
    void restartedLauncherWaitsForItsPredecessor() {
        auto predecessor = m_Sandbox->start();
        QVERIFY(m_Sandbox->waitForLogLine(StartLine));
        auto restarted = m_Sandbox->start({u"--skip-selfupdate"_qs});
        QVERIFY(TLauncherSandbox::stop(*predecessor, SIGTERM));
        QVERIFY2(m_Sandbox->waitForLogLine(StartLine, 2), qPrintable(restarted->readAll()));
        QVERIFY(presence());
        QVERIFY(TLauncherSandbox::stop(*restarted, SIGTERM));
        QCOMPARE(restarted->exitCode(), 128 + SIGTERM);
    }

    void commandLineOptions_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("options");
        QTest::newRow("none") << QStringList() << u"none"_qs;
        QTest::newRow("short skip") << QStringList{u"-s"_qs} << u"skip-selfupdate"_qs;
        QTest::newRow("long skip") << QStringList{u"--skip-selfupdate"_qs} << u"skip-selfupdate"_qs;
        QTest::newRow("all four") << QStringList{u"-l"_qs, u"--show-ui"_qs, u"-s"_qs, u"-p"_qs,
                                                 u"/games/v/client"_qs}
                                  << u"first-launch, skip-selfupdate, show-ui, patch=/games/v/client"_qs;
        QTest::newRow("long patch with value") << QStringList{u"--patch=/x/y"_qs} << u"patch=/x/y"_qs;
        QTest::newRow("unknown option ignored")
            << QStringList{u"--no-such-option"_qs, u"-u"_qs} << u"show-ui"_qs;
    }

    void commandLineOptions() {
        QFETCH(QStringList, arguments);
        QFETCH(QString, options);
        auto launcher = m_Sandbox->start(arguments);
        const QRegularExpression line(u"Info: Command line options: (.*) Thread: 0x"_qs);
        QVERIFY(m_Sandbox->waitForLogLine(line));
        QVERIFY(TLauncherSandbox::stop(*launcher, SIGTERM));
        QCOMPARE(line.match(m_Sandbox->logLines().filter(line).first()).captured(1), options);
    }

private:
    std::unique_ptr<TLauncherSandbox> m_Sandbox;
    TScriptedHttpServer m_Proxy;
};

LAUNCHER_TEST(TestStartup)
#include "tst_startup.moc"
