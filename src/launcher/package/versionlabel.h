#pragma once

class QString;

namespace mirrel::launcher {

class TPackageConfigurationReader;

// "P<package version> A<asset version>", "?" standing for an empty version. Two configurations
// with equal labels are the same version of a package.
QString versionLabel(const QString& packageVersion, const QString& assetVersion);
QString versionLabel(const TPackageConfigurationReader& configuration);

} // namespace mirrel::launcher
