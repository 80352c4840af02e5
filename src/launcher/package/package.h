#pragma once

#include "launcher/package/packagebuild.h"
#include "launcher/package/packagetypes.h"
#include "launcher/package/runsizeestimate.h"
#include "launcher/settings/launcherconstants.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <memory>
#include <vector>

class QJsonObject;

namespace shared {
class TMirrorSet;
}

namespace mirrel::launcher {

class TPackageConfigurationReader;

// One installable client as the launcher configuration lists it, with its builds. Shared through
// std::shared_ptr by everyone who shows, installs or starts it; lives on the GUI thread.
class TPackage : public QObject {
    Q_OBJECT

public:
    // The launcher's own package carries this index; its installation directory is the launcher's.
    static constexpr std::int32_t LauncherPackageIndex = ::mirrel::launcher::LauncherPackageIndex;

    // Local status values as the installation manager stores them.
    static constexpr std::int32_t StatusNotDetermined = 0;
    static constexpr std::int32_t StatusNotInstalled = 1;
    static constexpr std::int32_t StatusPartiallyInstalled = 2;
    static constexpr std::int32_t StatusUpdateAvailable = 3;
    static constexpr std::int32_t StatusUpToDate = 4;

    // Builds the package from its entry in the launcher configuration; relative document addresses
    // of the builds are resolved against baseUrl (the configuration's own directory).
    TPackage(std::int32_t index, const QJsonObject& entry, const QUrl& baseUrl, QObject* parent = nullptr);
    ~TPackage() override;

    std::int32_t index() const { return Index; }
    bool isLauncherPackage() const { return Index == LauncherPackageIndex; }
    const QString& name() const { return Name; }
    const QString& directoryName() const { return DirectoryName; }
    const QUrl& logoLinkTarget() const { return LogoLinkTarget; }
    bool installAutomatically() const { return InstallAutomatically; }

    // Set whenever a verification stage of this package ended during this run; never cleared.
    bool checkedSinceStart() const { return CheckedSinceStart; }
    void markCheckedSinceStart() { CheckedSinceStart = true; }

    bool isDefaultPackage() const { return DefaultPackage; }
    void setDefaultPackage(bool isDefault) { DefaultPackage = isDefault; }

    // Stores the value only; whoever changes the status emits localPackageStatusChanged().
    std::int32_t localStatus() const { return LocalStatus; }
    void setLocalStatus(std::int32_t status) { LocalStatus = status; }

    // What an install or update would fetch and take on the disk, as the installation manager last
    // worked it out; not known before it has.
    const TRunSizeEstimate& runSizeEstimate() const { return RunSize; }
    void setRunSizeEstimate(const TRunSizeEstimate& Estimate) { RunSize = Estimate; }

    const std::vector<TPackageBuild>& builds() const { return Builds; }

    // The player paused this package's update (in this run or when the launcher last ran) and has
    // not resumed it yet.
    bool isUpdatePaused() const { return UpdatePaused; }
    void setUpdatePaused(bool Paused) { UpdatePaused = Paused; }

    // The servers that copy the configuration's; shared by every package of one configuration, so
    // a server that keeps failing is skipped for all of them. Null without mirrors.
    const std::shared_ptr<::shared::TMirrorSet>& mirrors() const { return Mirrors; }
    void setMirrors(std::shared_ptr<::shared::TMirrorSet> pMirrors) { Mirrors = std::move(pMirrors); }

    // The first build, in list order, for the running system and the launcher's architecture;
    // null when there is none.
    TPackageBuild* selectBuildForThisSystem();
    const TPackageBuild* selectBuildForThisSystem() const;
    TPackageBuild* selectBuild(EOperatingSystem operatingSystem, EArchitecture architecture);
    const TPackageBuild* selectBuild(EOperatingSystem operatingSystem, EArchitecture architecture) const;

    // The parsed configuration attached to the build for this system; null without one.
    const TPackageConfigurationReader* configurationForThisSystem() const;
    std::shared_ptr<const TPackageConfigurationReader> sharedConfigurationForThisSystem() const;

signals:
    void localPackageStatusChanged();

private:
    void readBuilds(const QJsonObject& entry, const QUrl& baseUrl);

    std::int32_t Index = 0;
    QString Name;
    QString DirectoryName;
    QUrl LogoLinkTarget;
    bool InstallAutomatically = false;
    bool CheckedSinceStart = false;
    bool DefaultPackage = false;
    bool UpdatePaused = false;
    std::vector<TPackageBuild> Builds; // filled once in the constructor, so build addresses stay put
    std::int32_t LocalStatus = StatusNotDetermined;
    TRunSizeEstimate RunSize;
    std::shared_ptr<::shared::TMirrorSet> Mirrors;
};

} // namespace mirrel::launcher

// Packages travel through signals (and queued connections) as shared pointers.
Q_DECLARE_METATYPE(std::shared_ptr<mirrel::launcher::TPackage>)
