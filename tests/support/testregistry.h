#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

namespace testsupport {

using TTestFactory = std::function<std::unique_ptr<QObject>()>;

// Adds a QtTest class to the executable's list; returns a value so it can run at static
// initialisation through LAUNCHER_TEST.
int registerTest(const char* Name, TTestFactory Factory);

// A helper process the tests start from their own executable (a child holding a named object, an
// installation to kill): returns its exit code when the arguments or environment ask for it.
using TChildMode = std::function<std::optional<int>(int argc, char** argv)>;
int registerChildMode(TChildMode Mode);
std::optional<int> runChildMode(int argc, char** argv);

// Runs every registered class, or only those named by leading arguments (the class names), with
// the remaining arguments passed to QtTest. Returns the number of failed classes.
int runRegisteredTests(int argc, char** argv);

} // namespace testsupport

// Registers a QtTest class with the executable of its folder (one executable per subsystem).
#define LAUNCHER_TEST(Class)                                                                             \
    static const int Class##Registration =                                                              \
        testsupport::registerTest(#Class, [] { return std::unique_ptr<QObject>(new Class); });

// Registers a child mode (see TChildMode) with the executable of its folder.
#define LAUNCHER_TEST_CHILD_MODE(Function)                                                            \
    static const int Function##Registration = testsupport::registerChildMode(Function);
