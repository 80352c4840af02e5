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
#include "support/testpaths.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

using testsupport::readBytes;
using testsupport::TLauncherStage;
using testsupport::TStagePackage;

namespace {

const QString ProgramName = QStringLiteral("VantorLauncher");
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
        QVERIFY2(m_Stage.publishGame(QStringLiteral("vantor/linux"), 1), qPrintable(m_Stage.errorString()));

        m_OfferedProgram = readBytes(testsupport::launcherBinDir() + QLatin1Char('/') + ProgramName);
        QVERIFY(!m_OfferedProgram.isEmpty());
        // An older build: the same program with a few bytes more at its end, which change nothing
        // when it runs but make it another file.
        m_OldProgram = m_OfferedProgram + QByteArray("\nan older launcher build\n");

        const QString good = m_Stage.workDirectory() + QStringLiteral("/launcher-good");
        QVERIFY(writeProgram(good + QLatin1Char('/') + ProgramName, m_OfferedProgram));
        QVERIFY(
            testsupport::writeBytes(good + QStringLiteral("/launcher-notes.txt"), "What is new in 0.0.13\n"));
        QVERIFY2(m_Stage.publishTree(good, QStringLiteral("launcher/linux"),
                                     QStringLiteral("package-good.json"), QStringLiteral("0.0.13"),
                                     ProgramName, {}),
                 qPrintable(m_Stage.errorString()));

        // The same build with a data file whose only chunk never downloads.
        const QString broken = m_Stage.workDirectory() + QStringLiteral("/launcher-broken");
        QVERIFY(writeProgram(broken + QLatin1Char('/') + ProgramName, m_OfferedProgram));
        QVERIFY(testsupport::writeBytes(broken + QStringLiteral("/launcher-data.bin"),
                                        testsupport::seededBytes(77, 300000)));
        QVERIFY2(m_Stage.publishTree(broken, QStringLiteral("launcher/linux"),
                                     QStringLiteral("package-broken.json"), QStringLiteral("0.0.13"),
                                     ProgramName, {}),
                 qPrintable(m_Stage.errorString()));
        const QUrl folder = m_Stage.server().url(QStringLiteral("launcher/linux/"));
        const mirrel::launcher::TPackageConfigurationReader configuration(
            readBytes(m_Stage.server().documentRoot() +
                      QStringLiteral("/launcher/linux/package-broken.json")),
            QByteArray(), folder, folder);
        bool removed = false;
        for (const auto& file : configuration.files()) {
            if (file.LocalFile == QLatin1String("launcher-data.bin")) {
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
        m_Stage.sandbox().setEnvironmentVariable(QStringLiteral("VANTOR_SAMPLE_CLIENT_EXIT_AFTER"),
                                                 QStringLiteral("5"));
        QVERIFY2(!platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName),
                 "another launcher is running");
    }

    void selfUpdateReplacesTheRunningLauncherAndRestartsIt() {
        QVERIFY(configure(QStringLiteral("package-good.json")));
        auto launcher = m_Stage.startLauncher({QStringLiteral("--first-launch")});
        QVERIFY(launcher->waitForFinished(120000));
        // The old launcher ends after starting its successor.
        QCOMPARE(launcher->exitCode(), 0);
        QCOMPARE(m_Stage.sandbox().countLogLines(literal(QStringLiteral("startSelfUpdate Launcher"))), 1);
        QVERIFY(m_Stage.sandbox().countLogLines(
                    literal(QStringLiteral("restartLauncher: ") + programPath())) == 1);
        QCOMPARE(readBytes(programPath()), m_OfferedProgram);
        QVERIFY(QFileInfo(programPath()).isExecutable());
        QVERIFY(
            QFileInfo::exists(m_Stage.sandbox().launcherDirectory() + QStringLiteral("/launcher-notes.txt")));

        // The successor got every argument plus the skip option, and it removes the old program.
        QVERIFY(m_Stage.sandbox().waitForLogLine(
            literal(QStringLiteral("Command line options: first-launch, skip-selfupdate Thread: "))));
        // A player starting the launcher meanwhile is turned away.
        const int index = m_Stage.launchersStarted() + 1;
        QCOMPARE(m_Stage.runLauncher({}, 30000), 0);
        QVERIFY2(m_Stage.launcherOutput(index).contains(QStringLiteral("already running")),
                 qPrintable(m_Stage.launcherOutput(index)));

        // The successor goes on with the first launch: it installs the game and starts it.
        QVERIFY(QTest::qWaitFor([&] { return !m_Stage.clientStarts().isEmpty(); }, 120000));
        QVERIFY(QTest::qWaitFor(
            [] { return !platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName); },
            60000));
        QCOMPARE(m_Stage.sandbox().countLogLines(StartLine), 2);
        QCOMPARE(m_Stage.sandbox().countLogLines(literal(QStringLiteral("startSelfUpdate"))), 1);
        QCOMPARE(m_Stage.sandbox().countLogLines(literal(QStringLiteral("cleanupOldLauncherVersion"))), 1);
        QVERIFY(!QFileInfo::exists(programPath() + QStringLiteral(".old")));
        QCOMPARE(readBytes(programPath()), m_OfferedProgram);
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QVERIFY(m_Stage.clientStarts().first().Arguments.endsWith(QStringLiteral("--package-is-up-to-date")));
    }

    void failedSelfUpdateRestoresTheLauncherAndGoesOn() {
        QVERIFY(configure(QStringLiteral("package-broken.json")));
        QCOMPARE(m_Stage.runLauncher({QStringLiteral("--first-launch")}), 0);

        QCOMPARE(m_Stage.sandbox().countLogLines(literal(QStringLiteral("startSelfUpdate Launcher"))), 1);
        QCOMPARE(m_Stage.sandbox().countLogLines(
                     literal(QStringLiteral("Updating Vantor Online failed: Error 1"))),
                 1);
        QCOMPARE(m_Stage.sandbox().countLogLines(literal(QStringLiteral("restartLauncher"))), 0);
        QCOMPARE(m_Stage.sandbox().countLogLines(StartLine), 1);
        // Whatever the failed update did to the program on its way, the old one is back.
        QCOMPARE(readBytes(programPath()), m_OldProgram);
        QVERIFY(QFileInfo(programPath()).isExecutable());
        QVERIFY(!QFileInfo::exists(programPath() + QStringLiteral(".old")));
        // And the launcher went on with its first launch.
        QCOMPARE(m_Stage.clientStarts().size(), 1);
        QCOMPARE(m_Stage.clientStarts().first().WorkingDirectory,
                 m_Stage.packageDirectory(QStringLiteral("vantor")));
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
    const std::vector<TStagePackage> packages{{QStringLiteral("Vantor Online"), QStringLiteral("vantor"),
                                               QStringLiteral("vantor/linux/package-1.json"), true}};
    return m_Stage.writeConfiguration(packages, {QStringLiteral("Launcher"), QStringLiteral("launcher"),
                                                 QStringLiteral("launcher/linux/") + LauncherDocument});
}

QString TestEndToEndSelfUpdate::programPath() const {
    return m_Stage.sandbox().executablePath();
}

QTEST_GUILESS_MAIN(TestEndToEndSelfUpdate)
#include "tst_endtoendselfupdate.moc"
