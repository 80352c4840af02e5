#include "launcher/package/systemidentity.h"

#include <QString>
#include <QSysInfo>

namespace mirrel::launcher {

EOperatingSystem operatingSystemFromName(const QString& name) {
    if (name.compare(QLatin1String("windows"), Qt::CaseInsensitive) == 0) {
        return EOperatingSystem::Windows;
    }
    if (name.compare(QLatin1String("macos"), Qt::CaseInsensitive) == 0) {
        return EOperatingSystem::MacOs;
    }
    if (name.compare(QLatin1String("linux"), Qt::CaseInsensitive) == 0) {
        return EOperatingSystem::Linux;
    }
    return EOperatingSystem::Unknown;
}

EArchitecture architectureFromName(const QString& name) {
    if (name.compare(QLatin1String("i386"), Qt::CaseInsensitive) == 0) {
        return EArchitecture::I386;
    }
    if (name.compare(QLatin1String("x86_64"), Qt::CaseInsensitive) == 0) {
        return EArchitecture::X86_64;
    }
    return EArchitecture::Unknown;
}

EOperatingSystem operatingSystemFromSystemInfo(const QString& productType, const QString& kernelType) {
    if (productType == QLatin1String("windows")) {
        return EOperatingSystem::Windows;
    }
    if (productType == QLatin1String("osx") || productType == QLatin1String("macos") ||
        productType == QLatin1String("darwin")) {
        return EOperatingSystem::MacOs;
    }
    // Linux distributions report their own product type ("debian", "ubuntu", ...), so the kernel
    // decides.
    if (kernelType == QLatin1String("linux")) {
        return EOperatingSystem::Linux;
    }
    return EOperatingSystem::Unknown;
}

EArchitecture architectureFromBuildCpu(const QString& buildCpuArchitecture) {
    if (buildCpuArchitecture == QLatin1String("i386")) {
        return EArchitecture::I386;
    }
    if (buildCpuArchitecture == QLatin1String("x86_64")) {
        return EArchitecture::X86_64;
    }
    return EArchitecture::Unknown;
}

EOperatingSystem runningOperatingSystem() {
    return operatingSystemFromSystemInfo(QSysInfo::productType(), QSysInfo::kernelType());
}

EArchitecture launcherBuildArchitecture() {
    return architectureFromBuildCpu(QSysInfo::buildCpuArchitecture());
}

} // namespace mirrel::launcher
