// ctest: serial
// The launcher's single-instance guard and the client's object have fixed names.
//
// A launcher told to stop in the middle of a run ends at once instead of finishing the work on its
// thread pool, and leaves the run for the next start to complete.
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QtTest>

#include <signal.h>

using namespace testsupport;

namespace {

// Bytes the process has read so far, all its threads together.
qint64 bytesRead(qint64 ProcessId) {
    QFile io(u"/proc/%1/io"_qs.arg(ProcessId));
    const QList<QByteArray> lines =
        io.open(QIODevice::ReadOnly) ? io.readAll().split('\n') : QList<QByteArray>();
    return lines.isEmpty() ? 0 : lines.front().mid(int(qstrlen("rchar:"))).trimmed().toLongLong();
}

} // namespace

class TestEndToEndStop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 1), qPrintable(m_Stage.errorString()));
        QVERIFY(m_Stage.writeConfiguration(
            {{u"Vantor Online"_qs, u"vantor"_qs, u"vantor/linux/package-1.json"_qs, true}}));
        QVERIFY(m_Stage.writeSettings());
    }

    // The big file of the game stands in the package as a huge sparse file: reading it through
    // takes minutes on any machine, so the launcher can only end in time by leaving it.
    void signalDuringAScanEndsTheLauncherAndTheNextStartCompletes() {
        const QString package = m_Stage.packageDirectory(u"vantor"_qs);
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

private:
    TLauncherStage m_Stage;
};

LAUNCHER_TEST(TestEndToEndStop)
#include "tst_endtoendstop.moc"
