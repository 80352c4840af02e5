#include "support/isolateduserdirectories.h"
#include "support/testregistry.h"

#include <QApplication>

// The one entry point of the test executables: the classes of a subsystem's folder register
// themselves and run in one process, under the offscreen platform CTest sets. HOME and the XDG
// folders point at a temporary directory, so no test reaches the real user's settings.
int main(int argc, char** argv) {
    if (const std::optional<int> exitCode = testsupport::runChildMode(argc, argv))
        return *exitCode;
    const testsupport::TIsolatedUserDirectories userDirectories;
    QApplication::setAttribute(Qt::AA_Use96Dpi, true);
    QApplication application(argc, argv);
    return testsupport::runRegisteredTests(argc, argv);
}
