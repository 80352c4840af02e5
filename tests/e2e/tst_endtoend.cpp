// ctest: serial
// Whole runs of the real launcher (serial: it takes fixed instance and client names) against nginx.
#include "launcher/settings/launcherconstants.h"
#include "platform/namedfilemapping.h"
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/stringliteral.h"
#include "support/testpaths.h"
#include "support/testregistry.h"

#include <QtTest>

#include <signal.h>

using namespace testsupport;
using mirrel::launcher::ClientPresenceName;
using mirrel::launcher::LauncherPresenceName;

namespace {

const QString ProgramName = u"VantorLauncher"_qs;
const QString Vantor = u"vantor"_qs;
const QString Classic = u"classic"_qs;
const QString UpToDate = u"--package-is-up-to-date"_qs;
const QString OfferedLauncher = u"launcher/linux/package.json"_qs;
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

// Bytes the process has read so far, all its threads together.
qint64 bytesRead(qint64 ProcessId) {
    QFile io(u"/proc/%1/io"_qs.arg(ProcessId));
    const QList<QByteArray> lines =
        io.open(QIODevice::ReadOnly) ? io.readAll().split('\n') : QList<QByteArray>();
    return lines.isEmpty() ? 0 : lines.front().mid(int(qstrlen("rchar:"))).trimmed().toLongLong();
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        for (const int version : {1, 2}) {
            QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, version), qPrintable(m_Stage.errorString()));
        }

        // The offered launcher: the running build with bytes appended, without its execute bit.
        m_OldProgram = readBytes(launcherBinDir() + u'/' + ProgramName);
        QVERIFY(!m_OldProgram.isEmpty());
        m_OfferedProgram = m_OldProgram + QByteArray("\nVantor Online launcher 0.0.13\n");
        const QString tree = m_Stage.workDirectory() + u"/launcher-tree"_qs;
        QVERIFY(writeBytes(tree + u'/' + ProgramName, m_OfferedProgram));
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
        QVERIFY2(!platform::TNamedFileMapping::exists(LauncherPresenceName), "another launcher is running");
        QVERIFY2(!platform::TNamedFileMapping::exists(ClientPresenceName), "a game client is running");
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
        QVERIFY(QTest::qWaitFor([] { return !platform::TNamedFileMapping::exists(LauncherPresenceName); },
                                60000));
        QCOMPARE(readBytes(program), replaced ? m_OfferedProgram : m_OldProgram);
        QVERIFY(QFileInfo(program).isExecutable());
        QVERIFY(!QFileInfo::exists(program + u".old"_qs));
        QVERIFY(!QFileInfo::exists(program + u".new"_qs));
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

        auto launcher = m_Stage.startLauncher({});
        QVERIFY(sandbox.waitForLogLine(StartLine));
        QVERIFY(QFileInfo::exists(lock));
        QCOMPARE(QFileInfo(folder).permissions() & 0x0077, QFile::Permissions());
        QVERIFY(QDir(open.path()).isEmpty());
        QVERIFY(TLauncherSandbox::stop(*launcher, SIGTERM));
    }

    // A huge sparse file takes minutes to read: the launcher ends in time only by leaving the scan.
    void signalDuringAScanEndsTheLauncherAndTheNextStartCompletes() {
        const QString package = m_Stage.packageDirectory(Vantor);
        const QString world = package + u"/data/world.pak"_qs;
        const qint64 hugeSize = qint64(256) << 30;
        QVERIFY(QDir().mkpath(package + u"/data"_qs));
        QVERIFY(QFile(world).open(QIODevice::WriteOnly) && QFile::resize(world, hugeSize));

        auto launcher = m_Stage.startLauncher({u"--first-launch"_qs});
        const qint64 processId = launcher->processId();
        QVERIFY(QTest::qWaitFor([processId] { return bytesRead(processId) > (qint64(256) << 20); }, 120000));
        QVERIFY(TLauncherSandbox::stop(*launcher, SIGTERM, 30000));
        QCOMPARE(launcher->exitStatus(), QProcess::NormalExit);
        QCOMPARE(launcher->exitCode(), 128 + SIGTERM);
        QVERIFY(QFileInfo::exists(package + u"/partial-package.json"_qs));
        QVERIFY(!QFileInfo::exists(package + u"/package.json"_qs));
        QCOMPARE(QFileInfo(world).size(), hugeSize);

        // What a cut-off copy leaves; the next start reads it through and installs the rest.
        QVERIFY(QFile::resize(world, 1 << 20));
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);
        QVERIFY(m_Stage.endClients());
        QString difference;
        QVERIFY2(sameTree(m_Stage.gameTree(1), package, difference), qPrintable(difference));
        QVERIFY(QFileInfo::exists(package + u"/package.json"_qs));
    }

    // A first launch installs the automatic packages and starts the default one flagged up to date;
    // offline, the next start starts it from the stored documents without window, flag or self-update.
    void firstLaunchInstallsAutomaticPackagesAndStartsTheFirst() {
        QVERIFY(release(1, false, OfferedLauncher));
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs, u"--skip-selfupdate"_qs}), 0);
        QVERIFY(isInstalled(Vantor, 1) && isInstalled(Classic, 1));
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(u"preview"_qs)));
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(Vantor) + u"/partial-package.json"_qs));
        QVERIFY(QFileInfo::exists(m_Stage.packageDirectory(Vantor) + u"/default"_qs));
        QVERIFY(!QFileInfo::exists(m_Stage.packageDirectory(Classic) + u"/default"_qs));
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QCOMPARE(m_Stage.clientStarts().first().Arguments,
                 TLauncherStage::gameParameters() + QStringList{UpToDate});
        QCOMPARE(m_Stage.clientStarts().first().WorkingDirectory, m_Stage.packageDirectory(Vantor));
        // The launcher ended only once the client held its object.
        QVERIFY(m_Stage.clientStarts().first().LauncherRunning);

        QVERIFY(m_Stage.endClients());
        m_Stage.server().stop();
        const int exitCode = m_Stage.runLauncher({});
        QVERIFY2(m_Stage.server().start(), qPrintable(m_Stage.server().errorString()));
        QCOMPARE(exitCode, 0);
        QCOMPARE(m_Stage.clientStarts().last().Arguments, TLauncherStage::gameParameters());
        QCOMPARE(logLines(u"sendFunnelEvent: launcher_started"_qs), 1);
        QCOMPARE(logLines(u"startSelfUpdate"_qs), 0);
    }

    // Second starts end at once; a new version reaches a FORCE_PATCH package alone, then the client
    // asking for its own update.
    void newVersionReachesEachPackageWhenAskedFor() {
        QVERIFY(release(1, true));
        auto first = m_Stage.startLauncher({u"--first-launch"_qs});
        QVERIFY(waitForLogLine(u"onLauncherReadyForAction"_qs));
        for (const QStringList& arguments : {QStringList(), QStringList{u"-s"_qs}}) {
            QCOMPARE(m_Stage.runLauncher(arguments, 30000), 0);
            QVERIFY(
                m_Stage.launcherOutput(m_Stage.launchersStarted()).contains(u"0.0.12 already running"_qs));
        }
        // A start would follow the second verification in the same step; the launcher's end comes after.
        QVERIFY(waitForLogLine(u"onVerificationFinished found package: "_qs, 2));
        QVERIFY(TLauncherSandbox::stop(*first, SIGTERM));
        QCOMPARE(first->exitCode(), 128 + SIGTERM);
        QVERIFY(isInstalled(Vantor, 1) && isInstalled(Classic, 1));
        QCOMPARE(logLines(u"Info: Version: 0.0.12 Thread: "_qs), 1);

        QVERIFY(release(2));
        auto plain = m_Stage.startLauncher({});
        QVERIFY(waitForLogLine(u"sendFunnelEvent: launcher_started"_qs, 2));
        // Killed, it leaves no presence behind: the next start is the first instance again.
        QVERIFY(TLauncherSandbox::stop(*plain, SIGKILL));
        QVERIFY(!platform::TNamedFileMapping::exists(LauncherPresenceName));
        const QString marker = m_Stage.packageDirectory(Classic) + u"/FORCE_PATCH"_qs;
        QVERIFY(writeBytes(marker, QByteArray()));
        auto forced = m_Stage.startLauncher({});
        QVERIFY(waitForLogLine(u"onVerificationFinished found package: Vantor Classic"_qs, 2));
        QVERIFY(TLauncherSandbox::stop(*forced, SIGTERM));
        QVERIFY(!QFileInfo::exists(marker));
        QVERIFY(isInstalled(Classic, 2) && isInstalled(Vantor, 1));
        QCOMPARE(logLines(u"startPackageAndExit: "_qs), 0);

        QCOMPARE(m_Stage.runLauncher({u"--patch"_qs, m_Stage.installedExecutable(Vantor)}), 0);
        QVERIFY(isInstalled(Vantor, 2));
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QCOMPARE(m_Stage.clientStarts().last().Arguments,
                 TLauncherStage::gameParameters() + QStringList{UpToDate});
    }

private:
    // The game's version as automatic packages Online and Classic and a package Preview.
    bool release(int Version, bool PreventDefaultAutostart = false, const QString& LauncherDocument = {}) {
        const QString document = u"vantor/linux/package-%1.json"_qs.arg(Version);
        return m_Stage.writeConfiguration({{u"Vantor Online"_qs, Vantor, document, true},
                                           {u"Vantor Classic"_qs, Classic, document, true},
                                           {u"Vantor Preview"_qs, u"preview"_qs, document, false}},
                                          {u"Launcher"_qs, u"launcher"_qs, LauncherDocument},
                                          PreventDefaultAutostart);
    }

    // The package holds the version's files and its package document; version 2 dropped a file.
    bool isInstalled(const QString& Directory, int Version) const {
        const QString installed = m_Stage.packageDirectory(Directory);
        QString difference;
        const QString document = u"/vantor/linux/package-%1.json"_qs.arg(Version);
        return sameTree(m_Stage.gameTree(Version), installed, difference) &&
               readBytes(installed + u"/package.json"_qs) ==
                   readBytes(m_Stage.server().documentRoot() + document) &&
               (Version == 1 ||
                !QFileInfo::exists(installed + u"/VantorOnlineClient_Data/Data/Settings/graphics.ini"_qs));
    }

    int logLines(const QString& Text) const { return m_Stage.sandbox().countLogLines(literal(Text)); }
    bool waitForLogLine(const QString& Text, int Count = 1) const {
        return m_Stage.sandbox().waitForLogLine(literal(Text), Count, 120000);
    }

    std::vector<TStagePackage> packages() const {
        return {{u"Vantor Online"_qs, Vantor, u"vantor/linux/package-1.json"_qs, true}};
    }
    bool writeDocumentWithWrongProgramHash();

    TLauncherStage m_Stage;
    QByteArray m_OldProgram;
    QByteArray m_OfferedProgram;
};

// The offered launcher's document with another hash for its program: its chunks are all fine, but
// the whole program is not the one the document describes.
bool TestEndToEnd::writeDocumentWithWrongProgramHash() {
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
    return writeBytes(folder + u"package-wrong-hash.json"_qs, QJsonDocument(document).toJson());
}

LAUNCHER_TEST(TestEndToEnd)
#include "tst_endtoend.moc"
