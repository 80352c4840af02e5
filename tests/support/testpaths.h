#pragma once

#include <QString>

namespace testsupport {

// Where the build put the launcher executable, its translations and the tools.
inline QString launcherBinDir() {
    return QStringLiteral(LAUNCHER_BIN_DIR);
}

} // namespace testsupport
