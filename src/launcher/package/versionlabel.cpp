#include "launcher/package/versionlabel.h"

#include "launcher/package/packageconfigurationreader.h"

#include <QString>

namespace mirrel::launcher {

namespace {

QString versionOrQuestionMark(const QString& version) {
    return version.isEmpty() ? QStringLiteral("?") : version;
}

} // namespace

QString versionLabel(const QString& packageVersion, const QString& assetVersion) {
    // Both values in one arg() call, so a "%" inside a version is never substituted again.
    return QStringLiteral("P%1 A%2").arg(versionOrQuestionMark(packageVersion),
                                         versionOrQuestionMark(assetVersion));
}

QString versionLabel(const TPackageConfigurationReader& configuration) {
    return versionLabel(configuration.packageVersion(), configuration.assetVersion());
}

} // namespace mirrel::launcher
