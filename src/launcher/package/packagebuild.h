#pragma once

#include "launcher/package/packagetypes.h"

#include <QUrl>

#include <memory>

namespace mirrel::launcher {

class TPackageConfigurationReader;

// One build of a package: the package documents for one operating system and architecture.
struct TPackageBuild {
    TPackageBuild();
    ~TPackageBuild();
    TPackageBuild(TPackageBuild&&) noexcept;
    TPackageBuild& operator=(TPackageBuild&&) noexcept;

    EOperatingSystem OperatingSystem = EOperatingSystem::Unknown;
    EArchitecture Architecture = EArchitecture::Unknown;
    QUrl PackageConfigurationUrl; // resolved; empty when the entry names none
    QUrl AssetConfigurationUrl;   // resolved; empty when the build has no asset document
    // Attached by the configuration handler once both documents arrived and parsed as valid; null
    // until then, and for the whole run when a document failed. Shared with the installation runs,
    // which keep it, uncopied, while the build takes another.
    std::shared_ptr<const TPackageConfigurationReader> Configuration;
};

} // namespace mirrel::launcher
