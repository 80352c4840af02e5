#include "platform/namedfilemapping.h"
#include "support/testregistry.h"

#include <QProcess>
#include <QtTest>

#include <memory>
#include <stdexcept>
#include <string>

#include <signal.h>
#include <unistd.h>

using platform::TNamedFileMapping;

namespace {

const char childNameVariable[] = "NAMED_OBJECT_TEST_HOLD";

// Names unique to this test run, so parallel test runs never meet.
std::string uniqueName(const char* purpose) {
    return "mirrel-test-" + std::to_string(::getpid()) + "-" + purpose;
}

// Runs in a copy of this test executable: holds the object until killed.
std::optional<int> holdingChild(int, char**) {
    if (!qEnvironmentVariableIsSet(childNameVariable))
        return std::nullopt;
    const TNamedFileMapping mapping(qgetenv(childNameVariable).constData(), true);
    std::printf("%s\n", mapping.holdsObject() ? "holding" : "not holding");
    std::fflush(stdout);
    ::pause();
    return 0;
}

} // namespace

class TestNamedFileMapping : public QObject {
    Q_OBJECT

private slots:
    void existsExactlyWhileItsFirstHolderLives() {
        const std::string name = uniqueName("held");
        // A name-only instance takes nothing.
        QVERIFY(!TNamedFileMapping(name.c_str(), false).holdsObject());
        QVERIFY(!TNamedFileMapping::exists(name.c_str()));

        auto first = std::make_unique<TNamedFileMapping>(name.c_str(), true);
        QVERIFY(first->holdsObject());
        QVERIFY(TNamedFileMapping::exists(name.c_str()));
        // A similar name is a different object.
        QVERIFY(!TNamedFileMapping::exists((name + "x").c_str()));
        QVERIFY(!TNamedFileMapping::exists(name.substr(0, name.size() - 1).c_str()));
        // A second holder holds nothing, and does not take the object along when it ends.
        QVERIFY(!TNamedFileMapping(name.c_str(), true).holdsObject());
        QVERIFY(TNamedFileMapping::exists(name.c_str()));
        // A program started meanwhile does not keep it alive.
        QProcess sleeper;
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        QVERIFY(sleeper.waitForStarted(60000));
        first.reset();
        QVERIFY(!TNamedFileMapping::exists(name.c_str()));
    }

    void killedHolderLeavesNoObject() {
        const std::string name = uniqueName("killed");
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(childNameVariable), QString::fromStdString(name));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForReadyRead(60000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("holding"));
        // Another process sees the name taken and holds nothing.
        QVERIFY(!TNamedFileMapping(name.c_str(), true).holdsObject());

        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(60000));
        QVERIFY(!TNamedFileMapping::exists(name.c_str()));
        QVERIFY(TNamedFileMapping(name.c_str(), true).holdsObject());
    }

    void unusableNamesAreRejected() {
        for (const std::string& unusable : {std::string(200, 'n'), std::string()}) {
            QVERIFY_EXCEPTION_THROWN(TNamedFileMapping(unusable.c_str(), true), std::runtime_error);
            QVERIFY(!TNamedFileMapping::exists(unusable.c_str()));
        }
    }
};

LAUNCHER_TEST_CHILD_MODE(holdingChild)
LAUNCHER_TEST(TestNamedFileMapping)
#include "tst_namedfilemapping.moc"
