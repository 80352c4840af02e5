#include "platform/namedfilemapping.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QProcess>
#include <QtTest>

#include <memory>
#include <stdexcept>
#include <string>

#include <signal.h>
#include <unistd.h>

using platform::TNamedFileMapping;
using testsupport::operator""_qs;

namespace {

const char childNameVariable[] = "NAMED_OBJECT_TEST_HOLD";

// Names unique to this test run, so parallel test runs never meet.
std::string uniqueName(const char* purpose) {
    return "mirrel-test-" + std::to_string(::getpid()) + "-" + purpose;
}

// Runs in a copy of this test executable: holds the object until killed.
int runHoldingChild(const QByteArray& name) {
    const TNamedFileMapping mapping(name.constData(), true);
    std::printf("%s\n", mapping.holdsObject() ? "holding" : "not holding");
    std::fflush(stdout);
    ::pause();
    return 0;
}

std::unique_ptr<QProcess> startHoldingChild(const std::string& name) {
    auto child = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(childNameVariable), QString::fromStdString(name));
    child->setProcessEnvironment(environment);
    child->start(QCoreApplication::applicationFilePath(), QStringList());
    return child;
}

} // namespace

class TestNamedFileMapping : public QObject {
    Q_OBJECT

private slots:
    void existsExactlyWhileHeld() {
        const std::string name = uniqueName("held");
        QVERIFY(!TNamedFileMapping::exists(name.c_str()));
        {
            const TNamedFileMapping mapping(name.c_str(), true);
            QVERIFY(mapping.holdsObject());
            QCOMPARE(mapping.name(), name);
            QVERIFY(TNamedFileMapping::exists(name.c_str()));
            // A similar name is a different object.
            QVERIFY(!TNamedFileMapping::exists((name + "x").c_str()));
            QVERIFY(!TNamedFileMapping::exists(name.substr(0, name.size() - 1).c_str()));
        }
        QVERIFY(!TNamedFileMapping::exists(name.c_str()));
    }

    void secondHolderInOneProcessHoldsNothing() {
        const std::string name = uniqueName("twice");
        auto first = std::make_unique<TNamedFileMapping>(name.c_str(), true);
        const TNamedFileMapping second(name.c_str(), true);
        QVERIFY(first->holdsObject());
        QVERIFY(!second.holdsObject());

        // The object belongs to the first holder: it goes with it.
        first.reset();
        QVERIFY(!TNamedFileMapping::exists(name.c_str()));
    }

    void nameOnlyObjectCreatesNothing() {
        const std::string name = uniqueName("name-only");
        const TNamedFileMapping mapping(name.c_str(), false);
        QVERIFY(!mapping.holdsObject());
        QCOMPARE(mapping.name(), name);
        QVERIFY(!TNamedFileMapping::exists(name.c_str()));
    }

    void killedHolderLeavesNoObject() {
        const std::string name = uniqueName("killed");
        auto child = startHoldingChild(name);
        QVERIFY(child->waitForReadyRead(60000));
        QCOMPARE(child->readLine().trimmed(), QByteArray("holding"));
        QVERIFY(TNamedFileMapping::exists(name.c_str()));

        // Another process sees the name taken and holds nothing.
        const TNamedFileMapping late(name.c_str(), true);
        QVERIFY(!late.holdsObject());

        ::kill(static_cast<pid_t>(child->processId()), SIGKILL);
        QVERIFY(child->waitForFinished(60000));
        QVERIFY(!TNamedFileMapping::exists(name.c_str()));

        // The name is free again for the next holder.
        const TNamedFileMapping next(name.c_str(), true);
        QVERIFY(next.holdsObject());
    }

    void startedProgramsDoNotInheritTheObject() {
        const std::string name = uniqueName("inherit");
        auto mapping = std::make_unique<TNamedFileMapping>(name.c_str(), true);
        QProcess sleeper;
        sleeper.start(u"sleep"_qs, {u"60"_qs});
        QVERIFY(sleeper.waitForStarted(60000));

        mapping.reset();
        const bool existsAfterRelease = TNamedFileMapping::exists(name.c_str());
        sleeper.kill();
        sleeper.waitForFinished(60000);
        QVERIFY2(!existsAfterRelease, "a started program kept the object alive");
    }

    void unusableNamesAreRejected() {
        const std::string tooLong(200, 'n');
        try {
            const TNamedFileMapping mapping(tooLong.c_str(), true);
            QFAIL("an over-long name was accepted");
        } catch (const std::runtime_error& error) {
            QCOMPARE(QString::fromUtf8(error.what()), u"Error from CreateFileMapping: 36"_qs);
        }
        QVERIFY(!TNamedFileMapping::exists(tooLong.c_str()));
        QVERIFY(!TNamedFileMapping::exists(""));
    }
};

std::optional<int> holdingChild(int, char**) {
    if (!qEnvironmentVariableIsSet(childNameVariable))
        return std::nullopt;
    return runHoldingChild(qgetenv(childNameVariable));
}
LAUNCHER_TEST_CHILD_MODE(holdingChild)
LAUNCHER_TEST(TestNamedFileMapping)

#include "tst_namedfilemapping.moc"
