#include "support/testregistry.h"

#include <QStringList>
#include <QtTest>

#include <map>
#include <string>
#include <vector>

namespace testsupport {
namespace {

std::map<std::string, TTestFactory>& registry() {
    static std::map<std::string, TTestFactory> tests;
    return tests;
}

std::vector<TChildMode>& childModes() {
    static std::vector<TChildMode> modes;
    return modes;
}

} // namespace

int registerChildMode(TChildMode Mode) {
    childModes().push_back(std::move(Mode));
    return 0;
}

std::optional<int> runChildMode(int argc, char** argv) {
    for (const TChildMode& mode : childModes()) {
        if (const std::optional<int> exitCode = mode(argc, argv))
            return exitCode;
    }
    return std::nullopt;
}

int registerTest(const char* Name, TTestFactory Factory) {
    registry().emplace(Name, std::move(Factory));
    return 0;
}

int runRegisteredTests(int argc, char** argv) {
    QStringList selected;
    QStringList arguments{QString::fromLocal8Bit(argv[0])};
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (arguments.size() == 1 && registry().count(argument.toStdString()) > 0)
            selected << argument;
        else
            arguments << argument;
    }
    int failedClasses = 0;
    for (const auto& [name, factory] : registry()) {
        if (!selected.isEmpty() && !selected.contains(QString::fromStdString(name)))
            continue;
        const std::unique_ptr<QObject> test = factory();
        if (QTest::qExec(test.get(), arguments) != 0)
            ++failedClasses;
    }
    return failedClasses;
}

} // namespace testsupport
