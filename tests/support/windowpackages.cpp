#include "support/windowpackages.h"

#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "support/stringliteral.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace testsupport {

std::shared_ptr<mirrel::launcher::TPackage>
makeWindowPackage(int Index, const QString& Name, const QByteArray& Document, const QString& LogoLinkTarget) {
    QJsonObject build;
    build.insert(u"os"_qs, u"linux"_qs);
    build.insert(u"architecture"_qs, u"x86_64"_qs);
    build.insert(u"url"_qs, u"package.json"_qs);
    QJsonObject entry;
    entry.insert(u"name"_qs, Name);
    entry.insert(u"directoryname"_qs, Name.toLower().remove(u' '));
    if (!LogoLinkTarget.isEmpty()) {
        entry.insert(u"logolinktarget"_qs, LogoLinkTarget);
    }
    entry.insert(u"builds"_qs, QJsonArray{build});

    const QUrl base(u"https://cdn.example.test/packages/"_qs);
    auto pPackage = std::make_shared<mirrel::launcher::TPackage>(Index, entry, base);
    mirrel::launcher::TPackageBuild* pBuild = pPackage->selectBuildForThisSystem();
    if (pBuild != nullptr && !Document.isEmpty()) {
        pBuild->Configuration = std::make_unique<mirrel::launcher::TPackageConfigurationReader>(
            Document, QByteArray(), base, base);
    }
    return pPackage;
}

QByteArray packageDocument(const QString& Version, const QString& Generation, const QString& Variant) {
    QJsonObject document;
    document.insert(u"version"_qs, Version);
    document.insert(u"executable"_qs, u"bin/vantor"_qs);
    document.insert(u"generation"_qs, Generation);
    document.insert(u"variant"_qs, Variant);
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

std::shared_ptr<mirrel::launcher::TLauncherConfigurationReader>
makeWindowConfiguration(const QStringList& Names) {
    QJsonArray packages;
    for (const QString& name : Names) {
        QJsonObject build;
        build.insert(u"os"_qs, u"linux"_qs);
        build.insert(u"architecture"_qs, u"x86_64"_qs);
        build.insert(u"url"_qs, name.toLower() + u"/package.json"_qs);
        QJsonObject entry;
        entry.insert(u"name"_qs, name);
        entry.insert(u"directoryname"_qs, name.toLower());
        entry.insert(u"builds"_qs, QJsonArray{build});
        packages.append(entry);
    }
    QJsonObject document;
    document.insert(u"packages"_qs, packages);
    const QUrl base(u"https://cdn.example.test/launcher/"_qs);
    auto pConfiguration = std::make_shared<mirrel::launcher::TLauncherConfigurationReader>(
        QJsonDocument(document).toJson(QJsonDocument::Compact), base);
    for (const std::shared_ptr<mirrel::launcher::TPackage>& pPackage : pConfiguration->packages()) {
        mirrel::launcher::TPackageBuild* pBuild = pPackage->selectBuildForThisSystem();
        if (pBuild != nullptr) {
            pBuild->Configuration = std::make_unique<mirrel::launcher::TPackageConfigurationReader>(
                packageDocument(u"1.%1"_qs.arg(pPackage->index())), QByteArray(), base, base);
        }
    }
    return pConfiguration;
}

} // namespace testsupport
