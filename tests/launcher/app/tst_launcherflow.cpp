// ctest: serial
// The controller's flows, each a child running the real application (it takes the fixed presence name).

// First: it names the reusable layer as `shared::`, which the application header makes ambiguous.
#include "launcher/ui/launchermainwindow.h"

#include "launcher/app/launcherapplication.h"
#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/selfupdate/launcherselfupdater.h"
#include "launcher/settings/launcherconstants.h"
#include "platform/namedfilemapping.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QtTest>

#include <cstdio>

using namespace mirrel::launcher;
using namespace testsupport;

namespace {

// Exit code of a child whose launcher was still running a while after its last message box.
constexpr int StillRunning = 5;

void report(const QStringList& Fields) {
    std::printf("%s\n",
                QJsonDocument(QJsonArray::fromStringList(Fields)).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// Closes and reports message boxes; "click" presses the first package, "decision" reports the self-update.
void driveScenario(TLauncherApplication& Application, const QString& Scenario) {
    auto* ticker = new QTimer(&Application);
    QObject::connect(
        ticker, &QTimer::timeout, &Application, [&Application, Scenario, acted = false]() mutable {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(widget);
                if (box && box->isVisible() && !box->property("reported").toBool()) {
                    box->setProperty("reported", true);
                    report({u"BOX"_qs, QString::number(box->icon()), box->windowTitle(), box->text()});
                    // Not from inside this tick: the box runs its own event loop.
                    QTimer::singleShot(0, box, [box] { box->buttons().first()->click(); });
                    QTimer::singleShot(1500, &Application, [] { QCoreApplication::exit(StillRunning); });
                }
            }
            TLauncherMainWindow* window = Application.mainWindow();
            if (Scenario == u"click"_qs && !acted && window && window->isVisible()) {
                acted = true;
                const auto package =
                    Application.configurationHandler()->configuration()->availablePackages().front();
                QTimer::singleShot(0, window,
                                   [window, package] { emit window->clientPackageButtonClicked(package); });
            }
        });
    ticker->start(20);
    if (Scenario == u"decision"_qs) {
        // Connected after the application's own reaction, so it sees the decision made.
        QObject::connect(Application.configurationHandler(),
                         &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished, &Application,
                         [&] {
                             report({u"DECISION"_qs,
                                     QString::number(bool(Application.selfUpdater()->installationManager())),
                                     QString::number(bool(Application.installationManager()))});
                             QCoreApplication::exit(0);
                         });
    }
}

// The scenario and the failing operation ("write:<suffix>", "remove:<suffix>") come in the environment.
std::optional<int> scenarioChild(int argc, char** argv) {
    const QStringList flow = qEnvironmentVariable("LAUNCHER_FLOW").split(u'\n');
    if (flow.size() < 2) {
        return std::nullopt;
    }
    const auto helper = std::make_shared<TFailingFilesystem>(
        QDir::currentPath(),
        flow[1].startsWith(u"write"_qs) ? EFailingOperation::Write : EFailingOperation::Remove,
        TFailingFilesystem::endingIn(flow[1].section(u':', 1)));
    helper->Armed = !flow[1].isEmpty();
    TLauncherApplication application(argc, argv, helper);
    driveScenario(application, flow[0]);
    application.start();
    return application.exec();
}

} // namespace

LAUNCHER_TEST_CHILD_MODE(scenarioChild)

class TestLauncherFlow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_Stage.server().addFixedStatus(u"/refused.json"_qs, 403);
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 1), qPrintable(m_Stage.errorString()));
        const QString tree = m_Stage.workDirectory() + u"/launcher-tree"_qs;
        QVERIFY(writeBytes(tree + u"/launcher-notes.txt"_qs, "notes\n"));
        for (const QString& version : {u"0.0.12"_qs, u"0.0.13"_qs, u"0.0.11"_qs, u"0.0.012"_qs}) {
            QVERIFY2(m_Stage.publishTree(tree, u"launcher"_qs, u"%1.json"_qs.arg(version), version, {}, {}),
                     qPrintable(m_Stage.errorString()));
        }
    }

    void init() {
        QVERIFY2(m_Stage.renewSandbox(), qPrintable(m_Stage.errorString()));
        QVERIFY(m_Stage.writeSettings());
        QVERIFY(m_Stage.writeConfiguration(
            {{u"Vantor Online"_qs, u"vantor"_qs, u"vantor/linux/package-1.json"_qs, true}}));
        m_Stage.server().clearAccessLog();
        QVERIFY2(!platform::TNamedFileMapping::exists(ClientPresenceName), "a game client is running");
    }

    // One box; a launcher that cannot go on asks for no package document behind it.
    void messageBoxes_data() {
        QTest::addColumn<QString>("flow");
        QTest::addColumn<QString>("box"); // "icon|title|text"; "%1" stands for the launcher's directory
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<int>("documentRequests");
        const auto row = [](const char* Name, const char* Flow, QMessageBox::Icon Icon, const QString& Title,
                            const QString& Text, int ExitCode, int Requests) {
            QTest::newRow(Name) << QString::fromLatin1(Flow) << u"%1|%2|%3"_qs.arg(Icon).arg(Title, Text)
                                << ExitCode << Requests;
        };
        const QString fatal = u"Vantor Online cannot start"_qs;
        const QString disk =
            u"A critical error occurred while accessing a file:\n%1\nPlease reinstall Launcher."_qs;
        row("maintenance", "maintenance\n", QMessageBox::Information, u"Vantor Online cannot be started"_qs,
            u"Vantor Online is currently down for maintenance. Please try again later."_qs, 1, 0);
        row("stored copy cannot be written", "run\nwrite:/launchermetadata.json", QMessageBox::Critical,
            fatal,
            disk.arg(
                TFailingFilesystem::ioError(u"%1/launchermetadata.json"_qs, u"No space left on device"_qs)),
            1, 0);
        row("old launcher cannot be deleted", "run\nremove:.old", QMessageBox::Critical, fatal,
            disk.arg(u"Failed to delete file %1/VantorLauncher.old"_qs), 1, 1);
        row("client running when an update is asked for", "click\n\n--show-ui", QMessageBox::Warning,
            u"Vantor Online update failed"_qs,
            u"Cannot update. The client is still running. Please close the client and try again."_qs,
            StillRunning, 1);
    }

    void messageBoxes() {
        QFETCH(QString, flow);
        QFETCH(QString, box);
        QFETCH(int, documentRequests);
        if (flow.startsWith(u"maintenance"_qs)) {
            QVERIFY(m_Stage.writeSettings(30000, {}, u"refused.json"_qs));
        }
        QVERIFY(
            writeBytes(m_Stage.sandbox().launcherDirectory() + u"/VantorLauncher.old"_qs, "old launcher"));
        const platform::TNamedFileMapping runningClient(ClientPresenceName, flow.startsWith(u"click"_qs));
        QTEST(runFlow(flow), "exitCode");
        QCOMPARE(m_Reports,
                 QStringList{u"BOX|"_qs + box.replace(u"%1"_qs, m_Stage.sandbox().launcherDirectory())});
        QVERIFY(m_Stage.server().waitForRequestCount(u"/vantor/linux/package-1.json"_qs, documentRequests));
        QVERIFY(!QDir(m_Stage.packageDirectory(u"vantor"_qs)).exists());
    }

    // Started from the list, the launcher ends with 1 when the client never announces itself.
    void clientThatNeverAnnouncesItselfEndsWithOne() {
        // A first launch installs the automatic package and starts it; that client ends at once.
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_EXIT_AFTER"_qs, u"0.3"_qs);
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);
        QVERIFY(m_Stage.endClients());
        QVERIFY(m_Stage.writeSettings(2000));
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_ANNOUNCE"_qs, u"never"_qs);
        QCOMPARE(runFlow(u"click\n\n--show-ui"_qs), 1);
        QVERIFY2(m_Reports.isEmpty(), qPrintable(m_Reports.join(u'\n')));
        const auto starts = m_Stage.clientStarts();
        QCOMPARE(starts.size(), 2);
        // Nothing was verified during this run: no up-to-date flag.
        QCOMPARE(starts.last().Arguments, TLauncherStage::gameParameters());
        QVERIFY(m_Stage.endClients());
    }

    // The launcher replaces itself when the offered version's text differs from its own at all.
    void selfUpdateDecision_data() {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QString>("skip");
        QTest::addColumn<bool>("update");
        QTest::newRow("same version") << u"0.0.12"_qs << QString() << false;
        QTest::newRow("newer version") << u"0.0.13"_qs << QString() << true;
        QTest::newRow("older version") << u"0.0.11"_qs << QString() << true;
        QTest::newRow("same value, other text") << u"0.0.012"_qs << QString() << true;
        // A launcher document without a version is refused: no update on its account.
        QTest::newRow("no version") << QString() << QString() << false;
        QTest::newRow("skipped") << u"0.0.13"_qs << u"-s"_qs << false;
        QTest::newRow("document missing") << u"missing"_qs << QString() << false;
    }

    void selfUpdateDecision() {
        QFETCH(QString, document);
        QFETCH(QString, skip);
        QFETCH(bool, update);
        const TStagePackage launcher{u"Launcher"_qs, u"launcher"_qs, u"launcher/%1.json"_qs.arg(document)};
        QVERIFY(m_Stage.writeConfiguration(
            {{u"Vantor Online"_qs, u"vantor"_qs, u"vantor/linux/package-1.json"_qs}}, launcher));
        QCOMPARE(runFlow(u"decision\n\n"_qs + skip), 0);
        // Updating, the launcher waits for the update; otherwise it is ready for action.
        QCOMPARE(m_Reports, QStringList{u"DECISION|%1|%2"_qs.arg(int(update)).arg(int(!update))});
    }

private:
    // Runs "<scenario>\n<failure>\n<launcher argument>..."; the exit code, and the reports in m_Reports.
    int runFlow(const QString& Flow) {
        const QStringList parts = Flow.split(u'\n');
        QProcess child;
        QProcessEnvironment environment = m_Stage.sandbox().environment();
        environment.insert(u"LAUNCHER_FLOW"_qs, parts.mid(0, 2).join(u'\n'));
        child.setProcessEnvironment(environment);
        child.setWorkingDirectory(m_Stage.sandbox().launcherDirectory());
        child.start(QCoreApplication::applicationFilePath(),
                    parts.mid(2).filter(QRegularExpression(u"."_qs)));
        if (!child.waitForFinished(180000)) {
            child.kill();
            child.waitForFinished();
        }
        m_Reports.clear();
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            if (QJsonDocument::fromJson(line).isArray()) {
                m_Reports << QJsonDocument::fromJson(line).toVariant().toStringList().join(u'|');
            }
        }
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    }

    TLauncherStage m_Stage;
    QStringList m_Reports;
};

LAUNCHER_TEST(TestLauncherFlow)
#include "tst_launcherflow.moc"
