#pragma once

#include "launcher/package/packagetypes.h"

class QString;

namespace mirrel::launcher {

// How builds in the launcher configuration are matched with the machine the launcher runs on.

// "windows", "macos", "linux", compared without regard to case; anything else is unknown.
EOperatingSystem operatingSystemFromName(const QString& name);
// "i386", "x86_64", compared without regard to case; anything else is unknown.
EArchitecture architectureFromName(const QString& name);

// From Qt's system description: product type "windows" is Windows, "osx", "macos" or "darwin" is
// macOS; otherwise a "linux" kernel (any distribution) is Linux.
EOperatingSystem operatingSystemFromSystemInfo(const QString& productType, const QString& kernelType);
// From the architecture the launcher was built for ("i386", "x86_64").
EArchitecture architectureFromBuildCpu(const QString& buildCpuArchitecture);

EOperatingSystem runningOperatingSystem();
EArchitecture launcherBuildArchitecture();

} // namespace mirrel::launcher
