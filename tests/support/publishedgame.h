#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>

namespace mirrel::launcher {
class TLauncherConfigurationReader;
class TLauncherFilesystemHelper;
} // namespace mirrel::launcher

namespace testsupport {

// Two versions of a small game, each a client tree (package document) and an asset tree (asset
// document), published with the real publisher into one CDN folder, and a launcher configuration
// that offers the game for this system as two packages: "Vantor Online" (directory "vantor") and
// "Vantor Classic" (directory "classic"), and once more as the launcher's own package. Version 2 changes a
// big file in its middle, rewrites a small one and the asset, adds a file and drops one; "stable.bin"
// (several chunks) and the client program stay the same.
class TPublishedGame {
public:
    explicit TPublishedGame(const QString& WorkDirectory);

    // Writes both versions' trees and publishes them below CdnRoot; Error tells why not.
    bool publish(const QString& CdnRoot, QString& Error) const;
    // Makes Version (1 or 2) the one the launcher configuration offers.
    bool release(const QString& CdnRoot, int Version) const;

    QString clientTree(int Version) const;
    QString assetTree(int Version) const;
    // The installation holds exactly the version's files (besides the launcher's own files such
    // as markers); Difference names the first mismatch.
    bool isInstalled(int Version, const QString& InstallationDirectory, QString& Difference) const;

    static QString packageVersion(int Version) { return QString::number(Version); }
    static QString assetVersion(int Version) { return QString::number(Version + 6); }
    static QString executable() { return QStringLiteral("bin/client"); }

private:
    bool writeTrees() const;
    bool publishVersion(const QString& CdnRoot, int Version, QString& Error) const;

    QString m_WorkDirectory;
};

// A complete "launchersettings.ini" text that fetches the configuration from ConfigurationUrl;
// ExtraOptions are further lines of the [OPTIONS] section ("fastScan=false").
QByteArray launcherSettingsText(const QUrl& ConfigurationUrl, const QStringList& ExtraOptions = QStringList(),
                                qint64 ClientStartTimeout = 30000);

// Fetches the launcher configuration and every package's documents with the launcher's own
// configuration handler, as a start of the launcher does. Null on failure, with Error set.
std::shared_ptr<mirrel::launcher::TLauncherConfigurationReader>
loadLauncherConfiguration(const std::shared_ptr<mirrel::launcher::TLauncherFilesystemHelper>& FileSystem,
                          QString& Error);

} // namespace testsupport
