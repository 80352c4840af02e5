#include "shared/singleinstance/firstinstancetester.h"
#include "support/testregistry.h"

#include <QProcess>
#include <QUuid>
#include <QtTest>

#include <memory>
#include <stdexcept>

#include <signal.h>
#include <unistd.h>

using shared::FirstInstanceTester;

namespace {

const char childKeyVariable[] = "FIRST_INSTANCE_TEST_KEY";

// Runs in a copy of this test executable: takes the guard and waits to be killed.
int runGuardingChild(const QString& key) {
    const FirstInstanceTester tester(key);
    std::printf("%s\n", tester.isFirstInstance() ? "first" : "second");
    std::fflush(stdout);
    ::pause();
    return 0;
}

// A key of this test run only; the launcher's own key is covered by the
// process-level start-up test.
QString uniqueKey() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

class TestFirstInstanceTester : public QObject {
    Q_OBJECT

private slots:
    void firstAndSecondInstance() {
        const QString key = uniqueKey();
        auto first = std::make_unique<FirstInstanceTester>(key);
        QVERIFY(first->isFirstInstance());
        {
            const FirstInstanceTester second(key);
            QVERIFY(!second.isFirstInstance());
            // Another key is another guard.
            const FirstInstanceTester other(uniqueKey());
            QVERIFY(other.isFirstInstance());
        }
        // A second instance that ended does not release the first one's guard.
        const FirstInstanceTester third(key);
        QVERIFY(!third.isFirstInstance());

        first.reset();
        const FirstInstanceTester afterFirstEnded(key);
        QVERIFY(afterFirstEnded.isFirstInstance());
    }

    void guardGoesWithACrashedOwner() {
        const QString key = uniqueKey();
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(childKeyVariable), key);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForReadyRead(60000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("first"));

        {
            const FirstInstanceTester whileChildRuns(key);
            QVERIFY(!whileChildRuns.isFirstInstance());
        }

        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        const FirstInstanceTester afterCrash(key);
        QVERIFY(afterCrash.isFirstInstance());
    }

    void unusableKeyRaises() {
        QVERIFY_EXCEPTION_THROWN(FirstInstanceTester(QString(300, QLatin1Char('k'))), std::runtime_error);
    }
};

std::optional<int> guardingChild(int, char**) {
    if (!qEnvironmentVariableIsSet(childKeyVariable))
        return std::nullopt;
    return runGuardingChild(qEnvironmentVariable(childKeyVariable));
}
LAUNCHER_TEST_CHILD_MODE(guardingChild)
LAUNCHER_TEST(TestFirstInstanceTester)

#include "tst_firstinstancetester.moc"
