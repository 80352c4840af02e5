#include "publisher/launcherconfigurationbuilder.h"

#include "publisher/usageerror.h"

#include <QDateTime>
#include <QJsonArray>
#include <QStringList>
#include <QUrl>

namespace publisher {

namespace {

const QStringList OperatingSystems = {QStringLiteral("windows"), QStringLiteral("macos"),
                                      QStringLiteral("linux")};
const QStringList Architectures = {QStringLiteral("i386"), QStringLiteral("x86_64")};

bool parseFlag(const QString& Key, const QString& Value) {
    if (Value == QLatin1String("true")) {
        return true;
    }
    if (Value == QLatin1String("false")) {
        return false;
    }
    throw TUsageError(QStringLiteral("'%1' must be true or false, not '%2'.").arg(Key, Value));
}

// The launcher creates the installation directory below its packages folder
// under this name, so it must be one plain path component.
bool isPlainDirectoryName(const QString& Name) {
    return !Name.isEmpty() && Name != QLatin1String(".") && Name != QLatin1String("..") &&
           !Name.contains(QLatin1Char('/')) && !Name.contains(QLatin1Char('\\')) &&
           !Name.contains(QLatin1Char(':'));
}

} // namespace

TPackageEntry TLauncherConfigurationBuilder::parsePackageEntry(const QString& Text) {
    TPackageEntry Entry;
    for (const QString& Field : Text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int Equals = Field.indexOf(QLatin1Char('='));
        if (Equals <= 0) {
            throw TUsageError(QStringLiteral("Package field '%1' is not of the form key=value.").arg(Field));
        }
        const QString Key = Field.left(Equals).trimmed();
        const QString Value = Field.mid(Equals + 1).trimmed();
        if (Key == QLatin1String("name")) {
            Entry.Name = Value;
        } else if (Key == QLatin1String("directoryname")) {
            Entry.DirectoryName = Value;
        } else if (Key == QLatin1String("logolinktarget")) {
            Entry.LogoLinkTarget = Value;
        } else if (Key == QLatin1String("installautomatically")) {
            Entry.InstallAutomatically = parseFlag(Key, Value);
        } else if (Key == QLatin1String("build")) {
            Entry.Builds.push_back(parseBuild(Value));
        } else {
            throw TUsageError(QStringLiteral("Unknown package field '%1' (known: name, directoryname, "
                                             "logolinktarget, installautomatically, build).")
                                  .arg(Key));
        }
    }
    if (Entry.Name.isEmpty()) {
        throw TUsageError(QStringLiteral("The package '%1' has no name.").arg(Text));
    }
    if (!isPlainDirectoryName(Entry.DirectoryName)) {
        throw TUsageError(
            QStringLiteral("The package '%1' needs a directoryname that is a single folder name.")
                .arg(Entry.Name));
    }
    return Entry;
}

TBuildEntry TLauncherConfigurationBuilder::parseBuild(const QString& Text) {
    const QStringList Parts = Text.split(QLatin1Char(','));
    if (Parts.size() < 3 || Parts.size() > 4) {
        throw TUsageError(
            QStringLiteral("Build '%1' must be <os>,<architecture>,<package url>[,<assets url>].").arg(Text));
    }
    TBuildEntry Build;
    Build.OperatingSystem = Parts.at(0).trimmed().toLower();
    Build.Architecture = Parts.at(1).trimmed().toLower();
    Build.Url = Parts.at(2).trimmed();
    Build.AssetsUrl = Parts.size() == 4 ? Parts.at(3).trimmed() : QString();
    if (!OperatingSystems.contains(Build.OperatingSystem)) {
        throw TUsageError(QStringLiteral("Unknown operating system '%1' (known: %2).")
                              .arg(Parts.at(0), OperatingSystems.join(QStringLiteral(", "))));
    }
    if (!Architectures.contains(Build.Architecture)) {
        throw TUsageError(QStringLiteral("Unknown architecture '%1' (known: %2).")
                              .arg(Parts.at(1), Architectures.join(QStringLiteral(", "))));
    }
    if (Build.Url.isEmpty()) {
        throw TUsageError(QStringLiteral("Build '%1' has no package document address.").arg(Text));
    }
    return Build;
}

QJsonObject TLauncherConfigurationBuilder::build(const TLauncherConfigurationSettings& Settings) {
    QJsonObject Document;
    if (Settings.Launcher) {
        Document.insert(QStringLiteral("launcher"), packageObject(*Settings.Launcher));
    }
    QJsonArray Packages;
    for (const TPackageEntry& Entry : Settings.Packages) {
        Packages.append(packageObject(Entry));
    }
    Document.insert(QStringLiteral("packages"), Packages);
    insertServiceUrl(Document, QStringLiteral("hints"), Settings.HintsUrl);
    insertServiceUrl(Document, QStringLiteral("funnel"), Settings.FunnelUrl);
    insertServiceUrl(Document, QStringLiteral("hardwaresurvey"), Settings.HardwareSurveyUrl);
    Document.insert(QStringLiteral("preventdefaultautostart"), Settings.PreventDefaultAutostart);
    Document.insert(QStringLiteral("showpackagenames"), Settings.ShowPackageNames);
    insertExpiry(Document, Settings.Expires);
    return Document;
}

void TLauncherConfigurationBuilder::insertExpiry(QJsonObject& Document, const QString& Expires) {
    if (Expires.isEmpty()) {
        return;
    }
    const QDateTime Time = QDateTime::fromString(Expires, Qt::ISODate);
    if (!Time.isValid() || Time.timeSpec() == Qt::LocalTime) {
        throw TUsageError(QStringLiteral("--expires needs a UTC time such as 2027-01-31T00:00:00Z, not '%1'.")
                              .arg(Expires));
    }
    Document.insert(QStringLiteral("expires"), Time.toUTC().toString(Qt::ISODate));
}

QJsonObject TLauncherConfigurationBuilder::packageObject(const TPackageEntry& Entry) {
    QJsonObject Object;
    Object.insert(QStringLiteral("name"), Entry.Name);
    Object.insert(QStringLiteral("directoryname"), Entry.DirectoryName);
    if (!Entry.LogoLinkTarget.isEmpty()) {
        Object.insert(QStringLiteral("logolinktarget"), Entry.LogoLinkTarget);
    }
    Object.insert(QStringLiteral("installautomatically"), Entry.InstallAutomatically);
    QJsonArray Builds;
    for (const TBuildEntry& Build : Entry.Builds) {
        QJsonObject BuildObject;
        BuildObject.insert(QStringLiteral("os"), Build.OperatingSystem);
        BuildObject.insert(QStringLiteral("architecture"), Build.Architecture);
        BuildObject.insert(QStringLiteral("url"), Build.Url);
        if (!Build.AssetsUrl.isEmpty()) {
            BuildObject.insert(QStringLiteral("assetsurl"), Build.AssetsUrl);
        }
        Builds.append(BuildObject);
    }
    Object.insert(QStringLiteral("builds"), Builds);
    return Object;
}

void TLauncherConfigurationBuilder::insertServiceUrl(QJsonObject& Document, const QString& Key,
                                                     const QString& Url) {
    if (Url.isEmpty()) {
        return;
    }
    const QUrl Parsed(Url, QUrl::StrictMode);
    const QString Scheme = Parsed.scheme();
    if (!Parsed.isValid() || (Scheme != QLatin1String("http") && Scheme != QLatin1String("https")) ||
        Parsed.host().isEmpty()) {
        throw TUsageError(
            QStringLiteral("The %1 address '%2' is not an absolute http or https address.").arg(Key, Url));
    }
    Document.insert(Key, Url);
}

} // namespace publisher
