#pragma once

#include <QByteArray>
#include <QUrl>

#include <memory>
#include <vector>

class QJsonObject;

namespace shared {
class TMirrorSet;
}

namespace mirrel::launcher {

class TPackage;

// The parsed launcher configuration: the launcher's own package, the client packages in display
// order, the service addresses and two flags. Owns the package objects, which it shares.
class TLauncherConfigurationReader {
public:
    // Parses at once; throws TLauncherConfigurationException when the document is not valid JSON.
    // A document that is valid JSON but no object is an empty configuration.
    TLauncherConfigurationReader(const QByteArray& document, const QUrl& baseUrl);
    ~TLauncherConfigurationReader();

    TLauncherConfigurationReader(const TLauncherConfigurationReader&) = delete;
    TLauncherConfigurationReader& operator=(const TLauncherConfigurationReader&) = delete;

    // The directory the document came from; relative package document addresses resolve against it.
    const QUrl& baseUrl() const { return BaseUrl; }
    // The document exactly as received; this is what the stored copy holds.
    const QByteArray& rawDocument() const { return RawDocument; }
    // Null when the configuration offers no launcher package (no self-update then).
    const std::shared_ptr<TPackage>& launcherPackage() const { return LauncherPackage; }
    const std::vector<std::shared_ptr<TPackage>>& packages() const { return Packages; }
    const QUrl& hardwareSurveyUrl() const { return HardwareSurveyUrl; }
    const QUrl& hintsUrl() const { return HintsUrl; }
    const QUrl& funnelUrl() const { return FunnelUrl; }
    bool preventDefaultAutostart() const { return PreventDefaultAutostart; }
    bool showPackageNames() const { return ShowPackageNames; }
    // The servers of "mirrors" that copy the one the document came from; null without any.
    const std::shared_ptr<::shared::TMirrorSet>& mirrors() const { return Mirrors; }

    // The packages, in order, that have a build for this system with a parsed configuration
    // attached; only these are offered.
    std::vector<std::shared_ptr<TPackage>> availablePackages() const;

private:
    void read(const QJsonObject& object);
    void readMirrors(const QJsonObject& object);

    QUrl BaseUrl;
    QByteArray RawDocument;
    std::shared_ptr<TPackage> LauncherPackage;
    std::vector<std::shared_ptr<TPackage>> Packages;
    QUrl HardwareSurveyUrl;
    QUrl HintsUrl;
    QUrl FunnelUrl;
    bool PreventDefaultAutostart = false;
    bool ShowPackageNames = false;
    std::shared_ptr<::shared::TMirrorSet> Mirrors;
};

} // namespace mirrel::launcher
