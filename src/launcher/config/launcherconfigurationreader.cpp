#include "launcher/config/launcherconfigurationreader.h"

#include "launcher/config/launcherconfigurationexception.h"
#include "launcher/package/package.h"
#include "shared/network/mirrorset.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QtDebug>

namespace mirrel::launcher {

TLauncherConfigurationReader::TLauncherConfigurationReader(const QByteArray& document, const QUrl& baseUrl)
    : BaseUrl(baseUrl)
    , RawDocument(document) {
    QJsonParseError error;
    const QJsonDocument json = QJsonDocument::fromJson(document, &error);
    if (error.error != QJsonParseError::NoError) {
        throw TLauncherConfigurationException(error.errorString());
    }
    read(json.object());
}

TLauncherConfigurationReader::~TLauncherConfigurationReader() = default;

void TLauncherConfigurationReader::read(const QJsonObject& object) {
    const QJsonValue launcher = object.value(QLatin1String("launcher"));
    if (launcher.isObject()) {
        LauncherPackage =
            std::make_shared<TPackage>(TPackage::LauncherPackageIndex, launcher.toObject(), BaseUrl);
    }
    const QJsonArray packages = object.value(QLatin1String("packages")).toArray();
    Packages.reserve(static_cast<std::size_t>(packages.size()));
    for (int position = 0; position < packages.size(); ++position) {
        Packages.push_back(std::make_shared<TPackage>(position, packages.at(position).toObject(), BaseUrl));
    }
    // Service addresses are taken as they stand, not resolved against the document's address.
    HardwareSurveyUrl = QUrl(object.value(QLatin1String("hardwaresurvey")).toString());
    HintsUrl = QUrl(object.value(QLatin1String("hints")).toString());
    FunnelUrl = QUrl(object.value(QLatin1String("funnel")).toString());
    PreventDefaultAutostart = object.value(QLatin1String("preventdefaultautostart")).toBool(false);
    ShowPackageNames = object.value(QLatin1String("showpackagenames")).toBool(false);
    readMirrors(object);
}

void TLauncherConfigurationReader::readMirrors(const QJsonObject& object) {
    const QJsonValue value = object.value(QLatin1String("mirrors"));
    if (value.isUndefined()) {
        return;
    }
    if (!value.isArray()) {
        qWarning().noquote() << "\"mirrors\" is not an array of addresses; no mirror is used.";
        return;
    }
    QList<QUrl> candidates;
    for (const QJsonValue& entry : value.toArray()) {
        candidates.append(QUrl(entry.toString(), QUrl::StrictMode));
    }
    // Only a document from a server has copies elsewhere; the stored copy's directory has none.
    const QList<QUrl> mirrors = ::shared::TMirrorSet::validMirrors(candidates);
    if (mirrors.isEmpty() || BaseUrl.isLocalFile()) {
        return;
    }
    Mirrors = std::make_shared<::shared::TMirrorSet>(BaseUrl, mirrors);
    for (const std::shared_ptr<TPackage>& package : Packages) {
        package->setMirrors(Mirrors);
    }
    if (LauncherPackage) {
        LauncherPackage->setMirrors(Mirrors);
    }
}

std::vector<std::shared_ptr<TPackage>> TLauncherConfigurationReader::availablePackages() const {
    std::vector<std::shared_ptr<TPackage>> available;
    for (const std::shared_ptr<TPackage>& package : Packages) {
        if (package->configurationForThisSystem()) {
            available.push_back(package);
        }
    }
    return available;
}

} // namespace mirrel::launcher
