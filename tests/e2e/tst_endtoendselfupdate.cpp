// ctest: serial
// Every launcher started here takes the launcher's fixed single-instance guard, and the sample
// client the fixed client object name.
//
// The launcher replacing itself: a launcher package of another version whose program is a build of
// the launcher, installed by the running launcher into its own directory.
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/settings/launcherconstants.h"
#include "platform/namedfilemapping.h"
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/stringliteral.h"
#include "support/testpaths.h"
#include "support/testregistry.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using testsupport::readBytes;
using testsupport::TLauncherStage;
using testsupport::TStagePackage;
using testsupport::operator""_qs;

namespace {

const QString ProgramName = u"VantorLauncher"_qs;
const QRegularExpression StartLine(QStringLiteral(R"(Info: Version: 0\.0\.12 Thread: )"));

QRegularExpression literal(const QString& Text) {
    return QRegularExpression(QRegularExpression::escape(Text));
}

bool writeProgram(const QString& Path, const QByteArray& Content) {
    return testsupport::writeBytes(Path, Content) &&
           QFile::setPermissions(Path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadGroup | QFile::ExeGroup);
}

} // namespace

class TestEndToEndSelfUpdate : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 1), qPrintable(m_Stage.errorString()));

        m_OfferedProgram = readBytes(testsupport::launcherBinDir() + u'/' + ProgramName);
        QVERIFY(!m_OfferedProgram.isEmpty());
        // An older build: the same program with a few bytes more at its end, which change nothing
        // when it runs but make it another file.
        m_OldProgram = m_OfferedProgram + QByteArray("\nan older launcher build\n");

        const QString good = m_Stage.workDirectory() + u"/launcher-good"_qs;
        QVERIFY(writeProgram(good + u'/' + ProgramName, m_OfferedProgram));
        QVERIFY(testsupport::writeBytes(good + u"/launcher-notes.txt"_qs, "What is new in 0.0.13\n"));
        QVERIFY2(m_Stage.publishTree(good, u"launcher/linux"_qs, u"package-good.json"_qs, u"0.0.13"_qs,
                                     ProgramName, {}),
                 qPrintable(m_Stage.errorString()));

        // The same build with a data file whose only chunk never downloads.
        const QString broken = m_Stage.workDirectory() + u"/launcher-broken"_qs;
        QVERIFY(writeProgram(broken + u'/' + ProgramName, m_OfferedProgram));
        QVERIFY(
            testsupport::writeBytes(broken + u"/launcher-data.bin"_qs, testsupport::seededBytes(77, 300000)));
        QVERIFY2(m_Stage.publishTree(broken, u"launcher/linux"_qs, u"package-broken.json"_qs, u"0.0.13"_qs,
                                     ProgramName, {}),
                 qPrintable(m_Stage.errorString()));
        const QUrl folder = m_Stage.server().url(u"launcher/linux/"_qs);
        const mirrel::launcher::TPackageConfigurationReader configuration(
            readBytes(m_Stage.server().documentRoot() + u"/launcher/linux/package-broken.json"_qs),
            QByteArray(), folder, folder);
        bool removed = false;
        for (const auto& file : configuration.files()) {
            if (file.LocalFile == u"launcher-data.bin"_qs) {
                QCOMPARE(file.Chunks.size(), std::size_t(1));
                const QUrl chunk =
                    configuration.chunks().at(static_cast<std::size_t>(file.Chunks.front())).Url;
                removed = QFile::remove(m_Stage.server().documentRoot() + chunk.path());
            }
        }
        QVERIFY(removed);
    }

    void init() {
        QVERIFY2(m_Stage.renewSandbox(), qPrintable(m_Stage.errorString()));
        QVERIFY(writeProgram(programPath(), m_OldProgram));
        QVERIFY(m_Stage.writeSettings());
        m_Stage.sandbox().setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_EXIT_AFTER"_qs, u"5"_qs);
        QVERIFY2(!platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName),
                 "another launcher is running");
    }

    void selfUpdateReplacesTheRunningLauncherAndRestartsIt() {
        QVERIFY(configure(u"package-good.json"_qs));
        auto launcher = m_Stage.startLauncher({u"--first-launch"_qs});
        QVERIFY(launcher->waitForFinished(120000));
        // The old launcher ends after starting its successor.
        QCOMPARE(launcher->exitCode(), 0);
        QCOMPARE(m_Stage.sandbox().countLogLines(literal(u"startSelfUpdate Launcher"_qs)), 1);
        QVERIFY(m_Stage.sandbox().countLogLines(literal(u"restartLauncher: "_qs + programPath())) == 1);
        QCOMPARE(readBytes(programPath()), m_OfferedProgram);
        QVERIFY(QFileInfo(programPath()).isExecutable());
        QVERIFY(QFileInfo::exists(m_Stage.sandbox().launcherDirectory() + u"/launcher-notes.txt"_qs));

        // The successor got every argument plus the skip option, and it removes the old program.
        QVERIFY(m_Stage.sandbox().waitForLogLine(
            literal(u"Command line options: first-launch, skip-selfupdate Thread: "_qs)));
        // A player starting the launcher meanwhile is turned away.
        const int index = m_Stage.launchersStarted() + 1;
        QCOMPARE(m_Stage.runLauncher({}, 30000), 0);
        QVERIFY2(m_Stage.launcherOutput(index).contains(u"already running"_qs),
                 qPrintable(m_Stage.launcherOutput(index)));

        // The successor goes on with the first launch: it installs the game and starts it.
        QVERIFY(QTest::qWaitFor([&] { return !m_Stage.clientStarts().isEmpty(); }, 120000));
        QVERIFY(QTest::qWaitFor(
            [] { return !platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName); },
            60000));
        QCOMPARE(m_Stage.sandbox().countLogLines(StartLine), 2);
        QCOMPARE(m_Stage.sandbox().countLogLines(literal(u"startSelfUpdate"_qs)), 1);
        QCOMPARE(m_Stage.sandbox().countLogLines(literal(u"cleanupOldLauncherVersion"_qs)), 1);
        QVERIFY(!QFileInfo::exists(programPath() + u".old"_qs));
        QCOMPARE(readBytes(programPath()), m_OfferedProgram);
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QVERIFY(m_Stage.clientStarts().first().Arguments.endsWith(u"--package-is-up-to-date"_qs));
    }

    void failedSelfUpdateRestoresTheLauncherAndGoesOn() {
        QVERIFY(configure(u"package-broken.json"_qs));
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);

        QCOMPARE(m_Stage.sandbox().countLogLines(literal(u"startSelfUpdate Launcher"_qs)), 1);
        QCOMPARE(m_Stage.sandbox().countLogLines(literal(u"Updating Vantor Online failed: Error 1"_qs)), 1);
        QCOMPARE(m_Stage.sandbox().countLogLines(literal(u"restartLauncher"_qs)), 0);
        QCOMPARE(m_Stage.sandbox().countLogLines(StartLine), 1);
        // Whatever the failed update did to the program on its way, the old one is back.
        QCOMPARE(readBytes(programPath()), m_OldProgram);
        QVERIFY(QFileInfo(programPath()).isExecutable());
        QVERIFY(!QFileInfo::exists(programPath() + u".old"_qs));
        // And the launcher went on with its first launch.
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QCOMPARE(m_Stage.clientStarts().first().WorkingDirectory, m_Stage.packageDirectory(u"vantor"_qs));
    }

private:
    bool configure(const QString& LauncherDocument);
    QString programPath() const;

    TLauncherStage m_Stage;
    // The launcher build the server offers, and the older build the sandbox starts with.
    QByteArray m_OfferedProgram;
    QByteArray m_OldProgram;
};

bool TestEndToEndSelfUpdate::configure(const QString& LauncherDocument) {
    const std::vector<TStagePackage> packages{
        {u"Vantor Online"_qs, u"vantor"_qs, u"vantor/linux/package-1.json"_qs, true}};
    return m_Stage.writeConfiguration(
        packages, {u"Launcher"_qs, u"launcher"_qs, u"launcher/linux/"_qs + LauncherDocument});
}

QString TestEndToEndSelfUpdate::programPath() const {
    return m_Stage.sandbox().executablePath();
}

LAUNCHER_TEST(TestEndToEndSelfUpdate)
#include "tst_endtoendselfupdate.moc"
