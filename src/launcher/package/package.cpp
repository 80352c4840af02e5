#include "launcher/package/package.h"

#include "launcher/package/packageconfigurationreader.h"
#include "launcher/package/resolveurl.h"
#include "launcher/package/systemidentity.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>

#include <utility>

namespace mirrel::launcher {

namespace {

// An address from the configuration; an absent or empty text stays empty instead of becoming the
// configuration's own directory.
QUrl resolvedAddress(const QUrl& baseUrl, const QJsonValue& value) {
    const QString text = value.toString();
    return text.isEmpty() ? QUrl() : resolveUrl(baseUrl, QUrl(text));
}

} // namespace

TPackage::TPackage(std::int32_t index, const QJsonObject& entry, const QUrl& baseUrl, QObject* parent)
    : QObject(parent)
    , Index(index)
    , Name(entry.value(QLatin1String("name")).toString())
    , DirectoryName(entry.value(QLatin1String("directoryname")).toString())
    , LogoLinkTarget(entry.value(QLatin1String("logolinktarget")).toString())
    , InstallAutomatically(entry.value(QLatin1String("installautomatically")).toBool(false)) {
    readBuilds(entry, baseUrl);
}

TPackage::~TPackage() = default;

void TPackage::readBuilds(const QJsonObject& entry, const QUrl& baseUrl) {
    const QJsonArray builds = entry.value(QLatin1String("builds")).toArray();
    Builds.reserve(static_cast<std::size_t>(builds.size()));
    for (const QJsonValue& value : builds) {
        const QJsonObject object = value.toObject();
        TPackageBuild build;
        build.OperatingSystem = operatingSystemFromName(object.value(QLatin1String("os")).toString());
        build.Architecture = architectureFromName(object.value(QLatin1String("architecture")).toString());
        build.PackageConfigurationUrl = resolvedAddress(baseUrl, object.value(QLatin1String("url")));
        build.AssetConfigurationUrl = resolvedAddress(baseUrl, object.value(QLatin1String("assetsurl")));
        Builds.push_back(std::move(build));
    }
}

TPackageBuild* TPackage::selectBuildForThisSystem() {
    return selectBuild(runningOperatingSystem(), launcherBuildArchitecture());
}

const TPackageBuild* TPackage::selectBuildForThisSystem() const {
    return selectBuild(runningOperatingSystem(), launcherBuildArchitecture());
}

TPackageBuild* TPackage::selectBuild(EOperatingSystem operatingSystem, EArchitecture architecture) {
    return const_cast<TPackageBuild*>(std::as_const(*this).selectBuild(operatingSystem, architecture));
}

const TPackageBuild* TPackage::selectBuild(EOperatingSystem operatingSystem,
                                           EArchitecture architecture) const {
    // A system or a build we cannot name never matches, not even another unknown one.
    if (operatingSystem == EOperatingSystem::Unknown || architecture == EArchitecture::Unknown) {
        return nullptr;
    }
    for (const TPackageBuild& build : Builds) {
        if (build.OperatingSystem == operatingSystem && build.Architecture == architecture) {
            return &build;
        }
    }
    return nullptr;
}

const TPackageConfigurationReader* TPackage::configurationForThisSystem() const {
    return sharedConfigurationForThisSystem().get();
}

std::shared_ptr<const TPackageConfigurationReader> TPackage::sharedConfigurationForThisSystem() const {
    const TPackageBuild* build = selectBuildForThisSystem();
    return build ? build->Configuration : nullptr;
}

} // namespace mirrel::launcher
