#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

namespace publisher {

struct TBuildEntry {
    QString OperatingSystem; // "windows", "macos" or "linux"
    QString Architecture;    // "i386" or "x86_64"
    QString Url;             // package document, relative to the configuration or absolute
    QString AssetsUrl;       // asset document; may be empty
};

struct TPackageEntry {
    QString Name;
    QString DirectoryName;
    QString LogoLinkTarget;
    bool InstallAutomatically = false;
    std::vector<TBuildEntry> Builds;
};

struct TLauncherConfigurationSettings {
    std::optional<TPackageEntry> Launcher;
    std::vector<TPackageEntry> Packages;
    QString HintsUrl;
    QString FunnelUrl;
    QString HardwareSurveyUrl;
    bool PreventDefaultAutostart = false;
    bool ShowPackageNames = false;
    QString Expires; // UTC time after which a launcher with a public key refuses the document
};

// Writes the launcher configuration document that lists the packages, their
// builds, the launcher's own package and the service addresses.
class TLauncherConfigurationBuilder {
public:
    // Parses one package given on the command line:
    //   name=<text>;directoryname=<name>[;logolinktarget=<url>][;installautomatically=true|false]
    //   ;build=<os>,<architecture>,<package document url>[,<asset document url>] (repeatable)
    // Throws TUsageError naming what is wrong.
    static TPackageEntry parsePackageEntry(const QString& Text);

    // Throws TUsageError for a service address that is not an absolute
    // http or https address, or an expiry that is not an ISO 8601 UTC time.
    static QJsonObject build(const TLauncherConfigurationSettings& Settings);

private:
    static TBuildEntry parseBuild(const QString& Text);
    static QJsonObject packageObject(const TPackageEntry& Entry);
    static void insertExpiry(QJsonObject& Document, const QString& Expires);
    static void insertServiceUrl(QJsonObject& Document, const QString& Key, const QString& Url);
};

} // namespace publisher
