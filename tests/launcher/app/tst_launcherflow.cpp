// ctest: serial
// Every scenario runs the application object, which takes the launcher's fixed presence name, and
// some hold the game client's fixed object name.
//
// The controller's flows with their message boxes, run in-process: each scenario is a child
// process of this test program that builds the real TLauncherApplication (one per process, as Qt
// wants it) on a launcher directory of the test, with the test's file-system helper, and closes
// every message box the way a player would, reporting what it showed. The parent checks what the
// child reports and what it left on disk and on the server.

// These name the reusable layer as `shared::` from inside mirrel::launcher; they come before the
// application header, which makes mirrel::shared visible.
#include "launcher/ui/launchermainwindow.h"

#include "launcher/app/launcherapplication.h"
#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/selfupdate/launcherselfupdater.h"
#include "launcher/settings/launcherconstants.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "platform/namedfilemapping.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"
#include "support/windowpackages.h"

#include <QAbstractButton>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <QSplashScreen>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <stdexcept>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::TLauncherStage;
using testsupport::TStagePackage;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

const char ScenarioVariable[] = "LAUNCHER_FLOW_SCENARIO";
const char DirectoryVariable[] = "LAUNCHER_FLOW_DIRECTORY";
const char ArgumentsVariable[] = "LAUNCHER_FLOW_ARGUMENTS";
const char FailureVariable[] = "LAUNCHER_FLOW_FAILURE";

// Exit code of a child whose launcher was still running a while after its last message box.
constexpr int StillRunningExitCode = 5;

// ---------------------------------------------------------------------------------------------
// The child: one launcher run.

void report(const QString& Kind, QStringList Fields = QStringList()) {
    for (QString& field : Fields) {
        field.replace(u'\\', u"\\\\"_qs).replace(u'\n', u"\\n"_qs);
    }
    Fields.prepend(Kind);
    std::printf("%s\n", Fields.join(u'\t').toUtf8().constData());
    std::fflush(stdout);
}

QString iconName(QMessageBox::Icon Icon) {
    switch (Icon) {
    case QMessageBox::Information:
        return u"information"_qs;
    case QMessageBox::Warning:
        return u"warning"_qs;
    case QMessageBox::Critical:
        return u"critical"_qs;
    default:
        return u"other"_qs;
    }
}

// Plays the player's part in a scenario: closes message boxes (reporting them), presses a
// package's button, closes the splash, or reports what the launcher offers.
class TScenarioDriver : public QObject {
public:
    TScenarioDriver(TLauncherApplication& Application, QString Scenario)
        : m_Application(Application)
        , m_Scenario(std::move(Scenario)) {
        connect(&m_Ticker, &QTimer::timeout, this, [this] { onTick(); });
        m_Ticker.start(20);
        QTimer::singleShot(90000, this, [] {
            report(u"TIMEOUT"_qs);
            QCoreApplication::exit(99);
        });
        if (m_Scenario == u"decision"_qs) {
            // Connected after the application's own reaction, so it sees the decision made.
            connect(m_Application.configurationHandler(),
                    &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished, this, [this] {
                        const bool updating = m_Application.selfUpdater()->installationManager() != nullptr;
                        report(u"DECISION"_qs,
                               {updating ? u"update"_qs : u"none"_qs,
                                m_Application.installationManager() ? u"ready"_qs : u"waiting"_qs});
                        QCoreApplication::exit(0);
                    });
        }
    }

private:
    void onTick() {
        closeMessageBoxes();
        TLauncherMainWindow* window = m_Application.mainWindow();
        if (!m_Acted && window && window->isVisible()) {
            m_Acted = true;
            actOnWindow(*window);
        }
        QSplashScreen* splash = m_Application.splashScreen();
        if (m_Scenario == u"close-splash"_qs && m_Application.isEnding() && splash && splash->isVisible()) {
            report(u"SPLASH-CLOSED"_qs);
            splash->close();
        }
    }

    void actOnWindow(TLauncherMainWindow& Window) {
        const auto packages = m_Application.configurationHandler()->configuration()->availablePackages();
        if (m_Scenario == u"click"_qs && !packages.empty()) {
            // Not from inside this tick: a message box the click opens runs its own event loop,
            // in which this ticker (still busy) would never fire again to close it.
            QTimer::singleShot(0, &Window, [&Window, Package = packages.front()] {
                emit Window.clientPackageButtonClicked(Package);
            });
        } else if (m_Scenario == u"report"_qs) {
            QStringList offered;
            for (const auto& package : packages) {
                offered << package->name() + u'=' + QString::number(package->localStatus());
            }
            report(u"OFFERED"_qs, offered);
            QCoreApplication::exit(0);
        }
    }

    void closeMessageBoxes() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible() || m_Closed.contains(box)) {
                continue;
            }
            m_Closed << box;
            report(u"BOX"_qs, {iconName(box->icon()),
                               box->parentWidget() == m_Application.mainWindow() && box->parentWidget()
                                   ? u"window"_qs
                                   : (box->parentWidget() ? u"other"_qs : u"none"_qs),
                               box->windowTitle(), box->text()});
            const QList<QAbstractButton*> buttons = box->buttons();
            QTimer::singleShot(0, box, [box, buttons] {
                if (buttons.isEmpty()) {
                    box->reject();
                } else {
                    buttons.first()->click();
                }
            });
            // A launcher that stays after its box reports so a while later and ends.
            QTimer::singleShot(1500, this, [] {
                report(u"ALIVE"_qs);
                QCoreApplication::exit(StillRunningExitCode);
            });
        }
    }

    TLauncherApplication& m_Application;
    QString m_Scenario;
    QTimer m_Ticker;
    QList<QMessageBox*> m_Closed;
    bool m_Acted = false;
};

int runScenario(int argc, char** argv) {
    const QString scenario = qEnvironmentVariable(ScenarioVariable);
    const QString directory = qEnvironmentVariable(DirectoryVariable);
    const QString failure = qEnvironmentVariable(FailureVariable);
    QList<QByteArray> arguments{QByteArray(argc > 0 ? argv[0] : "launcher")};
    for (const QString& argument : qEnvironmentVariable(ArgumentsVariable).split(u'\n', Qt::SkipEmptyParts)) {
        arguments << argument.toUtf8();
    }
    std::vector<char*> launcherArgv;
    for (QByteArray& argument : arguments) {
        launcherArgv.push_back(argument.data());
    }
    launcherArgv.push_back(nullptr);
    int launcherArgc = static_cast<int>(arguments.size());

    // "write:<suffix>" fails writing, "remove:<suffix>" deleting the files whose paths end in it.
    using testsupport::EFailingOperation;
    using testsupport::TFailingFilesystem;
    const QString operation = failure.section(u':', 0, 0);
    std::shared_ptr<TLauncherFilesystemHelper> helper =
        failure.isEmpty()
            ? std::make_shared<TLauncherFilesystemHelper>(directory)
            : std::make_shared<TFailingFilesystem>(
                  directory, operation == u"write"_qs ? EFailingOperation::Write : EFailingOperation::Remove,
                  TFailingFilesystem::endingIn(failure.section(u':', 1)));
    TLauncherApplication application(launcherArgc, launcherArgv.data(), helper);
    TScenarioDriver driver(application, scenario);
    application.start();
    const int exitCode = application.exec();
    report(u"EXIT"_qs, {QString::number(exitCode)});
    return exitCode;
}

// ---------------------------------------------------------------------------------------------
// The parent.

struct TFlow {
    int ExitCode = -1;
    // "icon|parent|title|text" per message box, in order.
    QStringList Boxes;
    QStringList Events;
    QString Log;

    bool has(const QString& Event) const { return Events.contains(Event); }
    QString field(const QString& Kind) const {
        for (const QString& event : Events) {
            if (event.startsWith(Kind + u'\t')) {
                return event.mid(Kind.size() + 1);
            }
        }
        return QString();
    }
};

QString unescaped(QString Text) {
    QString result;
    for (int index = 0; index < Text.size(); ++index) {
        if (Text.at(index) == u'\\' && index + 1 < Text.size()) {
            ++index;
            result += Text.at(index) == u'n' ? QChar(u'\n') : Text.at(index);
        } else {
            result += Text.at(index);
        }
    }
    return result;
}

QString box(const char* Icon, const char* Parent, const char* Title, const QString& Text) {
    return QStringList{QLatin1String(Icon), QLatin1String(Parent), QLatin1String(Title), Text}.join(u'|');
}

const QString MaintenanceBox =
    box("information", "none", "Vantor Online cannot be started",
        u"Vantor Online is currently down for maintenance. Please try again later."_qs);

} // namespace

class TestLauncherFlow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        m_Stage.server().addFixedStatus(u"/refused.json"_qs, 403);
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        QVERIFY(m_Stage.server().writeFile(u"empty.json"_qs, QByteArray()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 1), qPrintable(m_Stage.errorString()));
        // The launcher's own package in several versions; its one file is a note, so an update that
        // runs changes nothing that matters.
        const QString tree = m_Stage.workDirectory() + u"/launcher-tree"_qs;
        QVERIFY(writeBytes(tree + u"/launcher-notes.txt"_qs, "notes\n"));
        for (const QString& version : {u"0.0.12"_qs, u"0.0.13"_qs, u"0.0.11"_qs, u"0.0.012"_qs}) {
            QVERIFY2(m_Stage.publishTree(tree, u"launcher/linux"_qs, u"package-%1.json"_qs.arg(version),
                                         version, QString(), {}),
                     qPrintable(m_Stage.errorString()));
        }
        // A document without a version, which the launcher reads as "?".
        const QString root = m_Stage.server().documentRoot() + u"/launcher/linux/"_qs;
        QJsonObject document = QJsonDocument::fromJson(readBytes(root + u"package-0.0.12.json"_qs)).object();
        document.insert(u"version"_qs, QString());
        QVERIFY(writeBytes(root + u"package-empty.json"_qs, QJsonDocument(document).toJson()));
    }

    void init() {
        QVERIFY2(m_Stage.renewSandbox(), qPrintable(m_Stage.errorString()));
        QVERIFY(m_Stage.writeSettings());
        QVERIFY(m_Stage.writeConfiguration(gamePackages()));
        m_Stage.server().clearAccessLog();
        QVERIFY2(!platform::TNamedFileMapping::exists(ClientPresenceName), "a game client is running");
    }

    void maintenance_data() {
        QTest::addColumn<QString>("document");
        QTest::newRow("refused") << u"refused.json"_qs;
        QTest::newRow("not found") << u"missing.json"_qs;
        QTest::newRow("empty document") << u"empty.json"_qs;
    }

    void maintenance() {
        QFETCH(QString, document);
        QVERIFY(m_Stage.writeSettings(30000, {}, document));
        const TFlow flow = runFlow("run", {});
        QCOMPARE(flow.Boxes, QStringList{MaintenanceBox});
        QCOMPARE(flow.ExitCode, 1);
        QVERIFY(!flow.has(u"ALIVE"_qs));
        QVERIFY(!QFileInfo::exists(m_Stage.sandbox().launcherDirectory() + u"/launchermetadata.json"_qs));
    }

    void storedCopyThatCannotBeWrittenIsFatalAndStopsTheFlow() {
        const TFlow flow = runFlow("run", {}, u"write:/launchermetadata.json"_qs);
        const QString path = m_Stage.sandbox().launcherDirectory() + u"/launchermetadata.json"_qs;
        QCOMPARE(
            flow.Boxes,
            QStringList{box("critical", "none", "Vantor Online cannot start",
                            u"A critical error occurred while accessing a file:\nI/O error on file '%1': "
                            "No space left on device\nPlease reinstall Launcher."_qs.arg(path))});
        QCOMPARE(flow.ExitCode, 1);
        // Once the launcher has said it cannot go on, it does not go on behind its box.
        QCOMPARE(m_Stage.server().requestCount(u"/vantor/linux/package-1.json"_qs), 0);
        QVERIFY(!QDir(m_Stage.packageDirectory(u"vantor"_qs)).exists());
    }

    void oldLauncherFileThatCannotBeDeletedIsFatal() {
        QVERIFY(m_Stage.sandbox().writeLauncherFile(u"VantorLauncher.old"_qs, "old launcher"));
        const TFlow flow = runFlow("run", {}, u"remove:.old"_qs);
        QCOMPARE(flow.Boxes.size(), 1);
        QVERIFY2(flow.Boxes.first().startsWith(
                     u"critical|none|Vantor Online cannot start|A critical error occurred while accessing "
                     "a file:\nFailed to delete file "_qs),
                 qPrintable(flow.Boxes.first()));
        QVERIFY(flow.Boxes.first().endsWith(u"VantorLauncher.old\nPlease reinstall Launcher."_qs));
        QCOMPARE(flow.ExitCode, 1);
    }

    void patchForAnUnknownProgramShowsItsBoxAndStays() {
        const TFlow flow = runFlow("run", {u"--patch"_qs, u"/nowhere/VantorOnlineClient"_qs});
        QCOMPARE(flow.Boxes,
                 QStringList{box("information", "window", "Client patching failed",
                                 u"Could not determine patch information. Your client might no longer "
                                 "be supported."_qs)});
        QVERIFY(flow.has(u"ALIVE"_qs));
        QCOMPARE(flow.ExitCode, StillRunningExitCode);
        QVERIFY(!QDir(m_Stage.packageDirectory(u"vantor"_qs)).exists(u"partial-package.json"_qs));
    }

    void runningClientBlocksAnUpdateFromTheList() {
        const platform::TNamedFileMapping runningClient(ClientPresenceName, true);
        const TFlow flow = runFlow("click", {u"--show-ui"_qs});
        QCOMPARE(flow.Boxes,
                 QStringList{box("warning", "none", "Vantor Online update failed",
                                 u"Cannot update. The client is still running. Please close the client "
                                 "and try again."_qs)});
        QCOMPARE(flow.ExitCode, StillRunningExitCode);
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(u"vantor"_qs) + u"/partial-package.json"_qs));
        QCOMPARE(m_Stage.server().requestCount(u"/vantor/linux/package-1.json"_qs), 1);
    }

    void startFromTheListWaitsForTheClient_data() {
        QTest::addColumn<QString>("announce");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("client announces itself") << u"400"_qs << 0;
        QTest::newRow("client never announces itself") << u"never"_qs << 1;
    }

    void startFromTheListWaitsForTheClient() {
        QFETCH(QString, announce);
        QFETCH(int, exitCode);
        installGame();
        if (QTest::currentTestFailed()) {
            return;
        }
        QVERIFY(m_Stage.writeSettings(2000));
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_ANNOUNCE"_qs, announce);
        const int startsBefore = m_Stage.clientStarts().size();

        // Starting from the list closes the window; the launcher must still wait for the client.
        const TFlow flow = runFlow("click", {u"--show-ui"_qs});
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_ANNOUNCE"_qs, u"0"_qs);
        QCOMPARE(flow.ExitCode, exitCode);
        QVERIFY(flow.Boxes.isEmpty());
        const auto starts = m_Stage.clientStarts();
        QCOMPARE(starts.size(), startsBefore + 1);
        // Nothing was verified during this run: no up-to-date flag.
        QCOMPARE(starts.last().Arguments, TLauncherStage::gameParameters());
        QCOMPARE(starts.last().WorkingDirectory, m_Stage.packageDirectory(u"vantor"_qs));
        QVERIFY(starts.last().LauncherRunning);
        QVERIFY(m_Stage.endClients());
    }

    void closingTheLaunchingSplashEndsWithOne() {
        installGame();
        if (QTest::currentTestFailed()) {
            return;
        }
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_ANNOUNCE"_qs, u"never"_qs);
        const TFlow flow = runFlow("close-splash", {});
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_ANNOUNCE"_qs, u"0"_qs);
        QVERIFY(flow.has(u"SPLASH-CLOSED"_qs));
        QCOMPARE(flow.ExitCode, 1);
        QVERIFY(m_Stage.endClients());
    }

    void selfUpdateDecision_data() {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("decision");
        QTest::newRow("same version") << u"package-0.0.12.json"_qs << QStringList() << u"none"_qs;
        QTest::newRow("newer version") << u"package-0.0.13.json"_qs << QStringList() << u"update"_qs;
        QTest::newRow("older version") << u"package-0.0.11.json"_qs << QStringList() << u"update"_qs;
        QTest::newRow("same value, other text")
            << u"package-0.0.012.json"_qs << QStringList() << u"update"_qs;
        QTest::newRow("no version") << u"package-empty.json"_qs << QStringList() << u"update"_qs;
        QTest::newRow("skipped") << u"package-0.0.13.json"_qs << QStringList{u"-s"_qs} << u"none"_qs;
        QTest::newRow("document missing") << u"package-none.json"_qs << QStringList() << u"none"_qs;
    }

    void selfUpdateDecision() {
        QFETCH(QString, document);
        QFETCH(QStringList, arguments);
        QFETCH(QString, decision);
        const TStagePackage launcher{u"Launcher"_qs, u"launcher"_qs, u"launcher/linux/"_qs + document};
        QVERIFY(m_Stage.writeConfiguration(gamePackages(), launcher));
        const TFlow flow = runFlow("decision", arguments);
        QCOMPARE(flow.field(u"DECISION"_qs),
                 decision + (decision == u"update"_qs ? u"\twaiting"_qs : u"\tready"_qs));
        QCOMPARE(flow.Log.contains(u"startSelfUpdate Launcher"_qs), decision == u"update"_qs);
        QCOMPARE(flow.Log.contains(u"cleanupOldLauncherVersion"_qs), decision == u"none"_qs);
        QCOMPARE(flow.ExitCode, 0);
    }

    void storedCopyOffersOnlyInstalledPackages() {
        // The stored copy names a launcher of another version; offline there is no document for it.
        const TStagePackage launcher{u"Launcher"_qs, u"launcher"_qs,
                                     u"launcher/linux/package-0.0.13.json"_qs};
        QVERIFY(m_Stage.writeConfiguration(gamePackages(), launcher));
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_EXIT_AFTER"_qs, u"0.3"_qs);
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs, u"--skip-selfupdate"_qs}), 0);
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_EXIT_AFTER"_qs, u"60"_qs);
        QVERIFY(m_Stage.endClients());
        QVERIFY(QFileInfo::exists(m_Stage.sandbox().launcherDirectory() + u"/launchermetadata.json"_qs));

        m_Stage.server().stop();
        const TFlow flow = runFlow("report", {u"--show-ui"_qs});
        QVERIFY2(m_Stage.server().start(), qPrintable(m_Stage.server().errorString()));
        QCOMPARE(flow.field(u"OFFERED"_qs), u"Vantor Online=4"_qs);
        // With show-ui the up-to-date default is offered in the list, not started.
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QVERIFY(!flow.Log.contains(u"startSelfUpdate"_qs));
        QVERIFY(flow.Log.contains(u"cleanupOldLauncherVersion"_qs));
        QCOMPARE(flow.ExitCode, 0);
    }

    void clientArgumentsEndWithTheUpToDateFlagAfterAVerification() {
        auto package = testsupport::makeWindowPackage(0, u"Vantor Online"_qs, QByteArray());
        QCOMPARE(TLauncherApplication::clientArguments(*package), QStringList());
        package->markCheckedSinceStart();
        QCOMPARE(TLauncherApplication::clientArguments(*package), QStringList{u"--package-is-up-to-date"_qs});

        const QUrl base(u"http://127.0.0.1/"_qs);
        const QJsonObject document{{u"version"_qs, u"1"_qs},
                                   {u"executable"_qs, u"VantorOnlineClient"_qs},
                                   {u"parameters"_qs, QJsonArray{u"-a"_qs, u"b c"_qs}},
                                   {u"files"_qs, QJsonArray()},
                                   {u"chunks"_qs, QJsonArray()}};
        auto configured =
            testsupport::makeWindowPackage(1, u"Vantor Classic"_qs, QJsonDocument(document).toJson());
        QCOMPARE(TLauncherApplication::clientArguments(*configured), (QStringList{u"-a"_qs, u"b c"_qs}));
        configured->markCheckedSinceStart();
        QCOMPARE(TLauncherApplication::clientArguments(*configured),
                 (QStringList{u"-a"_qs, u"b c"_qs, u"--package-is-up-to-date"_qs}));
    }

private:
    TFlow runFlow(const char* Scenario, const QStringList& Arguments, const QString& Failure = QString());
    void installGame();
    std::vector<TStagePackage> gamePackages(bool ClassicAutomatic = false) const;

    TLauncherStage m_Stage;
};

std::vector<TStagePackage> TestLauncherFlow::gamePackages(bool ClassicAutomatic) const {
    return {{u"Vantor Online"_qs, u"vantor"_qs, u"vantor/linux/package-1.json"_qs, true},
            {u"Vantor Classic"_qs, u"classic"_qs, u"vantor/linux/package-1.json"_qs, ClassicAutomatic}};
}

TFlow TestLauncherFlow::runFlow(const char* Scenario, const QStringList& Arguments, const QString& Failure) {
    QProcessEnvironment environment = m_Stage.sandbox().environment();
    environment.insert(QString::fromLatin1(ScenarioVariable), QString::fromLatin1(Scenario));
    environment.insert(QString::fromLatin1(DirectoryVariable), m_Stage.sandbox().launcherDirectory());
    environment.insert(QString::fromLatin1(ArgumentsVariable), Arguments.join(u'\n'));
    environment.insert(QString::fromLatin1(FailureVariable), Failure);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(m_Stage.sandbox().launcherDirectory());
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    TFlow flow;
    if (!child.waitForFinished(180000)) {
        child.kill();
        child.waitForFinished();
    }
    flow.ExitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    flow.Log = QString::fromUtf8(child.readAllStandardError());
    if (qEnvironmentVariableIsSet("LAUNCHER_FLOW_SHOW_LOG")) {
        qDebug().noquote() << flow.Log;
    }
    for (const QString& line :
         QString::fromUtf8(child.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts)) {
        QStringList fields = line.split(u'\t');
        for (QString& field : fields) {
            field = unescaped(field);
        }
        if (fields.first() == u"BOX"_qs) {
            flow.Boxes << fields.mid(1).join(u'|');
        }
        flow.Events << fields.join(u'\t');
    }
    return flow;
}

void TestLauncherFlow::installGame() {
    // A first launch installs the automatic package and starts it; the client ends at once.
    m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_EXIT_AFTER"_qs, u"0.3"_qs);
    QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);
    QVERIFY(m_Stage.endClients());
    m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_EXIT_AFTER"_qs, u"60"_qs);
    QVERIFY(QFileInfo::exists(m_Stage.packageDirectory(u"vantor"_qs) + u"/package.json"_qs));
}

std::optional<int> scenarioChild(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet(ScenarioVariable))
        return std::nullopt;
    return runScenario(argc, argv);
}
LAUNCHER_TEST_CHILD_MODE(scenarioChild)
LAUNCHER_TEST(TestLauncherFlow)

#include "tst_launcherflow.moc"
