// ctest: serial
// Every launcher started here takes the launcher's fixed single-instance guard, and the sample
// client the fixed client object name.
//
// The launcher on a player's machine: it replaces its running program without ever leaving it
// unstartable, brings its window back when the game cannot be started, keeps its guard and its log
// to the player's own folders, and ends on the system's termination signals as when its window
// closes.
#include "launcher/settings/launcherconstants.h"
#include "platform/namedfilemapping.h"
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testpaths.h"
#include "support/testregistry.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

#include <signal.h>

using testsupport::readBytes;
using testsupport::TLauncherSandbox;
using testsupport::TLauncherStage;
using testsupport::TScriptedAnswer;
using testsupport::TStagePackage;
using testsupport::operator""_qs;

namespace {

const QString ProgramName = u"VantorLauncher"_qs;
const QString Vantor = u"vantor"_qs;
const QRegularExpression StartLine(QStringLiteral(R"(Info: Version: 0\.0\.12 Thread: )"));
const QRegularExpression WindowShown(u"sendFunnelEvent: launcher_started$"_qs);
// "(file:line)" naming the source file without any folder.
const QRegularExpression Location(QStringLiteral(R"(^\S+ \S+ \(([^()]*):\d+\) )"));

QRegularExpression literal(const QString& Text) {
    return QRegularExpression(QRegularExpression::escape(Text));
}

QStringList fileLines(const QString& Path) {
    return QString::fromUtf8(readBytes(Path)).split(u'\n', Qt::SkipEmptyParts);
}

bool waitForLine(const QString& Path, const QRegularExpression& Pattern) {
    return QTest::qWaitFor([&] { return !fileLines(Path).filter(Pattern).isEmpty(); }, 60000);
}

// Every line names its source file by its name alone; the first offender otherwise.
QString lineWithFolderInLocation(const QStringList& Lines) {
    for (const QString& line : Lines) {
        const QRegularExpressionMatch match = Location.match(line);
        if (!match.hasMatch() || match.captured(1).isEmpty() || match.captured(1).contains(u'/')) {
            return line;
        }
    }
    return QString();
}

int endedCode(QProcess& Process) {
    return Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
}

} // namespace

class TestEndToEndPlayerMachine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 1), qPrintable(m_Stage.errorString()));

        // The offered launcher: the running build with bytes appended, so that all its chunks but
        // the last are the running program's; published without its execute bit.
        m_OldProgram = readBytes(testsupport::launcherBinDir() + u'/' + ProgramName);
        QVERIFY(!m_OldProgram.isEmpty());
        m_OfferedProgram = m_OldProgram + QByteArray("\nVantor Online launcher 0.0.13\n");
        const QString tree = m_Stage.workDirectory() + u"/launcher-tree"_qs;
        QVERIFY(testsupport::writeBytes(tree + u'/' + ProgramName, m_OfferedProgram));
        QVERIFY(QFile::setPermissions(tree + u'/' + ProgramName, QFile::ReadOwner | QFile::WriteOwner));
        QVERIFY2(m_Stage.publishTree(tree, u"launcher/linux"_qs, u"package.json"_qs, u"0.0.13"_qs,
                                     ProgramName, {}),
                 qPrintable(m_Stage.errorString()));
        QVERIFY(writeDocumentWithWrongProgramHash());
    }

    void init() {
        QVERIFY2(m_Stage.renewSandbox(), qPrintable(m_Stage.errorString()));
        QVERIFY(m_Stage.writeSettings());
        QVERIFY(m_Stage.writeConfiguration(packages()));
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_EXIT_AFTER"_qs, u"5"_qs);
        QVERIFY2(!platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName),
                 "another launcher is running");
    }

    void selfUpdateReplacesTheRunningProgramBesideIt_data() {
        QTest::addColumn<QString>("document");
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<QString>("logged");
        QTest::newRow("chunks shared, executable flag off")
            << u"package.json"_qs << true << u"restartLauncher: "_qs;
        QTest::newRow("program that is not the one described")
            << u"package-wrong-hash.json"_qs << false
            << u"Updating Vantor Online failed: the new launcher %1 does not match its package's hash"_qs;
    }

    void selfUpdateReplacesTheRunningProgramBesideIt() {
        QFETCH(QString, document);
        QFETCH(bool, replaced);
        QFETCH(QString, logged);
        const QString program = m_Stage.sandbox().executablePath();
        const TStagePackage launcher{u"Launcher"_qs, u"launcher"_qs, u"launcher/linux/"_qs + document};
        QVERIFY(m_Stage.writeConfiguration(packages(), launcher));

        auto first = m_Stage.startLauncher({u"--first-launch"_qs});
        QVERIFY(QTest::qWaitFor([&] { return first->state() == QProcess::NotRunning; }, 120000));
        QCOMPARE(endedCode(*first), 0);
        // Whoever goes on (the restarted successor, or the old launcher) installs and starts the game.
        QVERIFY(QTest::qWaitFor([&] { return !m_Stage.clientStarts().isEmpty(); }, 120000));
        QVERIFY(QTest::qWaitFor(
            [] { return !platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName); },
            60000));
        QCOMPARE(readBytes(program), replaced ? m_OfferedProgram : m_OldProgram);
        QVERIFY(QFileInfo(program).isExecutable());
        QVERIFY(!QFileInfo::exists(program + u".old"_qs));
        QVERIFY(!QFileInfo::exists(program + u".new"_qs));
        QCOMPARE(m_Stage.sandbox().countLogLines(
                     literal(u"Command line options: first-launch, skip-selfupdate Thread: "_qs)),
                 replaced ? 1 : 0);
        QCOMPARE(m_Stage.sandbox().countLogLines(StartLine), replaced ? 2 : 1);
        // Most of the running program was reused, read from it into a new file beside it.
        const QRegularExpression reused(
            QRegularExpression::escape(u"building "_qs + program + u".new beside "_qs + program + u": "_qs) +
            u"[1-9]\\d* chunks reused, 1 to download"_qs);
        QVERIFY2(m_Stage.sandbox().countLogLines(reused) == 1,
                 qPrintable(m_Stage.sandbox().logLines().join(u'\n')));
        QVERIFY2(m_Stage.sandbox().countLogLines(literal(logged.replace(u"%1"_qs, program))) == 1,
                 qPrintable(m_Stage.sandbox().logLines().join(u'\n')));
    }

    void launcherStartedFromItsBackupTakesItsNameBack() {
        // What a player finds when an update was cut off with the program's name empty.
        TLauncherSandbox& sandbox = m_Stage.sandbox();
        const QString program = sandbox.executablePath();
        const QString backup = program + u".old"_qs;
        QVERIFY(QFile::rename(program, backup));
        QProcess launcher;
        launcher.setProgram(backup);
        launcher.setProcessEnvironment(sandbox.environment());
        launcher.setWorkingDirectory(sandbox.launcherDirectory());
        launcher.start();
        QVERIFY(waitForLine(backup + u".log"_qs, WindowShown));
        QVERIFY(!fileLines(backup + u".log"_qs).filter(literal(backup + u" took its place"_qs)).isEmpty());
        QCOMPARE(readBytes(program), m_OldProgram);
        QVERIFY(QFileInfo(program).isExecutable());
        QVERIFY(!QFileInfo::exists(backup));
        QVERIFY(TLauncherSandbox::stop(launcher, SIGTERM));
    }

    void gameThatCannotStartBringsTheWindowBack_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("program missing") << u"remove"_qs << u"%1 is missing"_qs;
        QTest::newRow("program not executable") << u"chmod"_qs << u"%1 is not executable"_qs;
        QTest::newRow("program ends with an error")
            << u"exit"_qs << u"it ended with exit code 3 before it was ready"_qs;
    }

    void gameThatCannotStartBringsTheWindowBack() {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);
        QVERIFY(m_Stage.endClients());
        const QString client = m_Stage.installedExecutable(Vantor);
        if (fault == u"remove"_qs) {
            QVERIFY(QFile::remove(client));
        } else if (fault == u"chmod"_qs) {
            QVERIFY(QFile::setPermissions(client, QFile::ReadOwner | QFile::WriteOwner));
        } else {
            m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_ANNOUNCE"_qs, u"never"_qs);
            m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_EXIT_AFTER"_qs, u"0"_qs);
            m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_EXIT_CODE"_qs, u"3"_qs);
        }
        // Far longer than any wait here: only the client's end can bring the message.
        QVERIFY(m_Stage.writeSettings(3600000));

        auto launcher = m_Stage.startLauncher({});
        QVERIFY(m_Stage.sandbox().waitForLogLine(
            literal(u"The game could not be started: "_qs + reason.replace(u"%1"_qs, client)), 1, 60000));
        QVERIFY(m_Stage.sandbox().waitForLogLine(WindowShown, 2));
        QVERIFY(m_Stage.sandbox().waitForLogLine(literal(u"repair offered for Vantor Online"_qs)));
        QCOMPARE(launcher->state(), QProcess::Running);
        QVERIFY(TLauncherSandbox::stop(*launcher, SIGTERM));
        QCOMPARE(endedCode(*launcher), 128 + SIGTERM);
    }

    void startLogsToTheUsersFoldersAndEndsOnSignals_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("logPathTaken");
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("SIGINT, log path taken by a folder") << int(SIGINT) << true;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    }

    void startLogsToTheUsersFoldersAndEndsOnSignals() {
        QFETCH(int, signalNumber);
        QFETCH(bool, logPathTaken);
        TLauncherSandbox& sandbox = m_Stage.sandbox();
        const QTemporaryDir state;
        sandbox.setEnvironmentVariable(u"XDG_STATE_HOME"_qs, state.path());
        const QString stateLog = state.path() + u"/VantorLauncher/VantorLauncher.log"_qs;
        if (logPathTaken) {
            QVERIFY(QDir().mkpath((sandbox.executablePath() + u".log"_qs)));
        }
        const QString log = logPathTaken ? stateLog : (sandbox.executablePath() + u".log"_qs);

        auto launcher = m_Stage.startLauncher({});
        QVERIFY(waitForLine(log, WindowShown));
        QVERIFY(TLauncherSandbox::stop(*launcher, signalNumber));
        QCOMPARE(endedCode(*launcher), 128 + signalNumber);

        const QStringList lines = fileLines(log);
        QVERIFY(QFileInfo::exists(stateLog) == logPathTaken);
        if (logPathTaken) {
            QVERIFY2(lines.first().contains(u"setupLogging: the log file "_qs +
                                            (sandbox.executablePath() + u".log"_qs) +
                                            u" cannot be opened"_qs),
                     qPrintable(lines.first()));
        }
        QCOMPARE(lines.filter(StartLine).size(), 1);
        QCOMPARE(lines.filter(u"onSignalReceived: signal %1 ends the launcher"_qs.arg(signalNumber)).size(),
                 1);
        const QString offender = lineWithFolderInLocation(lines);
        QVERIFY2(offender.isEmpty(), qPrintable(offender));
    }

    void guardLivesInAFolderOnlyTheUserReaches_data() {
        QTest::addColumn<bool>("runtimeOpenToAll");
        QTest::newRow("private runtime folder") << false;
        QTest::newRow("runtime folder open to all") << true;
    }

    void guardLivesInAFolderOnlyTheUserReaches() {
        QFETCH(bool, runtimeOpenToAll);
        TLauncherSandbox& sandbox = m_Stage.sandbox();
        const QString root = QDir::cleanPath(sandbox.launcherDirectory() + u"/.."_qs);
        const QTemporaryDir open;
        QString folder = root + u"/runtime"_qs;
        if (runtimeOpenToAll) {
            QVERIFY(QFile::setPermissions(open.path(), QFile::Permissions(0x7777)));
            sandbox.setEnvironmentVariable(u"XDG_RUNTIME_DIR"_qs, open.path());
            folder = root + u"/cache/vantor-runtime"_qs;
        }
        const QString lock = folder + u'/' + mirrel::launcher::SingleInstanceKey + u".lock"_qs;

        auto killed = m_Stage.startLauncher({});
        QVERIFY(sandbox.waitForLogLine(StartLine));
        QVERIFY(QFileInfo::exists(lock));
        QCOMPARE(QFileInfo(folder).permissions() & 0x0077, QFile::Permissions());
        QVERIFY(QDir(open.path()).isEmpty());
        // A second start, the restart option included, leaves at once.
        const int second = m_Stage.launchersStarted() + 1;
        QCOMPARE(m_Stage.runLauncher({u"-s"_qs}, 60000), 0);
        QVERIFY(m_Stage.launcherOutput(second).contains(u"already running"_qs));

        // The lock file the killed launcher left does not block the next start.
        QVERIFY(TLauncherSandbox::stop(*killed, SIGKILL));
        auto next = m_Stage.startLauncher({});
        QVERIFY(sandbox.waitForLogLine(StartLine, 2));
        QVERIFY(TLauncherSandbox::stop(*next, SIGTERM));
        QCOMPARE(endedCode(*next), 128 + SIGTERM);
    }

    void terminationDuringADownloadIsResumedByTheNextStart() {
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        const QStringList chunks = serveDocumentRoot(server, true);
        QVERIFY(!chunks.isEmpty());
        QVERIFY(writeSettingsFor(server));

        auto interrupted = m_Stage.startLauncher({u"--first-launch"_qs});
        QVERIFY(QTest::qWaitFor(
            [&] {
                return std::any_of(chunks.begin(), chunks.end(),
                                   [&](const QString& Path) { return server.requestCount(Path) > 0; });
            },
            60000));
        QVERIFY(TLauncherSandbox::stop(*interrupted, SIGTERM));
        QCOMPARE(endedCode(*interrupted), 128 + SIGTERM);
        QVERIFY(QFileInfo::exists(m_Stage.packageDirectory(Vantor) + u"/partial-package.json"_qs));
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(Vantor) + u"/package.json"_qs));

        serveDocumentRoot(server, false);
        auto resumed = m_Stage.startLauncher({u"--first-launch"_qs});
        QVERIFY(QTest::qWaitFor([&] { return resumed->state() == QProcess::NotRunning; }, 120000));
        QCOMPARE(endedCode(*resumed), 0);
        QString difference;
        QVERIFY2(testsupport::sameTree(m_Stage.gameTree(1), m_Stage.packageDirectory(Vantor), difference),
                 qPrintable(difference));
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(Vantor) + u"/partial-package.json"_qs));
        QCOMPARE(m_Stage.clientStarts().size(), 1);
    }

private:
    std::vector<TStagePackage> packages() const {
        return {{u"Vantor Online"_qs, Vantor, u"vantor/linux/package-1.json"_qs, true}};
    }
    bool writeDocumentWithWrongProgramHash();
    QStringList serveDocumentRoot(testsupport::TScriptedHttpServer& Server, bool StallChunks) const;
    bool writeSettingsFor(const testsupport::TScriptedHttpServer& Server);

    TLauncherStage m_Stage;
    QByteArray m_OldProgram;
    QByteArray m_OfferedProgram;
};

// The offered launcher's document with another hash for its program: its chunks are all fine, but
// the whole program is not the one the document describes.
bool TestEndToEndPlayerMachine::writeDocumentWithWrongProgramHash() {
    const QString folder = m_Stage.server().documentRoot() + u"/launcher/linux/"_qs;
    QJsonObject document = QJsonDocument::fromJson(readBytes(folder + u"package.json"_qs)).object();
    QJsonArray files = document.value(u"files"_qs).toArray();
    for (int index = 0; index < files.size(); ++index) {
        QJsonObject file = files.at(index).toObject();
        if (file.value(u"localfile"_qs).toString() == ProgramName) {
            file.insert(u"unpackedhash"_qs, QString(64, u'e'));
            files.replace(index, file);
        }
    }
    document.insert(u"files"_qs, files);
    return testsupport::writeBytes(folder + u"package-wrong-hash.json"_qs, QJsonDocument(document).toJson());
}

// Answers every file below nginx's document root at its path; the pieces of the game (everything
// but documents) stall after their headers when asked to. Returns the paths of those pieces.
QStringList TestEndToEndPlayerMachine::serveDocumentRoot(testsupport::TScriptedHttpServer& Server,
                                                         bool StallChunks) const {
    const QDir root(m_Stage.server().documentRoot());
    QStringList pieces;
    QDirIterator files(root.path(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = u'/' + root.relativeFilePath(files.next());
        const QByteArray body = readBytes(files.filePath());
        const bool piece = path.startsWith(u"/vantor/"_qs) && !path.endsWith(u".json"_qs);
        if (piece) {
            pieces << path;
        }
        Server.setAnswer(path, piece && StallChunks
                                   ? TScriptedAnswer::faulty(testsupport::EScriptedFault::StallMidBody, body)
                                   : TScriptedAnswer::ok(body));
    }
    return pieces;
}

bool TestEndToEndPlayerMachine::writeSettingsFor(const testsupport::TScriptedHttpServer& Server) {
    return m_Stage.sandbox().writeSettings(
        "[URLS]\nlauncherConfiguration=" + Server.url(u"/launcher.json"_qs).toEncoded() +
        "\n\n[DIRECTORIES]\npackages=packages\nsettingsTarget=VantorOnlineClient_Data/Data/Settings\n\n"
        "[FILES]\npackageFile=package.json\npartialPackageFile=partial-package.json\n"
        "assetFile=assets.json\naccountGroupFile=accountgroup.json\n\n"
        "[TIMING]\nwaitNotificationTimeout=500\ndownloadErrorTimeout=10000\nclientStartTimeout=30000\n");
}

LAUNCHER_TEST(TestEndToEndPlayerMachine)
#include "tst_endtoendplayermachine.moc"
