#include "support/windowpackages.h"

#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace testsupport {

std::shared_ptr<mirrel::launcher::TPackage>
makeWindowPackage(int Index, const QString& Name, const QByteArray& Document, const QString& LogoLinkTarget) {
    QJsonObject build;
    build.insert(QStringLiteral("os"), QStringLiteral("linux"));
    build.insert(QStringLiteral("architecture"), QStringLiteral("x86_64"));
    build.insert(QStringLiteral("url"), QStringLiteral("package.json"));
    QJsonObject entry;
    entry.insert(QStringLiteral("name"), Name);
    entry.insert(QStringLiteral("directoryname"), Name.toLower().remove(QLatin1Char(' ')));
    if (!LogoLinkTarget.isEmpty()) {
        entry.insert(QStringLiteral("logolinktarget"), LogoLinkTarget);
    }
    entry.insert(QStringLiteral("builds"), QJsonArray{build});

    const QUrl base(QStringLiteral("https://cdn.example.test/packages/"));
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
    document.insert(QStringLiteral("version"), Version);
    document.insert(QStringLiteral("executable"), QStringLiteral("bin/vantor"));
    document.insert(QStringLiteral("generation"), Generation);
    document.insert(QStringLiteral("variant"), Variant);
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

std::shared_ptr<mirrel::launcher::TLauncherConfigurationReader>
makeWindowConfiguration(const QStringList& Names) {
    QJsonArray packages;
    for (const QString& name : Names) {
        QJsonObject build;
        build.insert(QStringLiteral("os"), QStringLiteral("linux"));
        build.insert(QStringLiteral("architecture"), QStringLiteral("x86_64"));
        build.insert(QStringLiteral("url"), name.toLower() + QStringLiteral("/package.json"));
        QJsonObject entry;
        entry.insert(QStringLiteral("name"), name);
        entry.insert(QStringLiteral("directoryname"), name.toLower());
        entry.insert(QStringLiteral("builds"), QJsonArray{build});
        packages.append(entry);
    }
    QJsonObject document;
    document.insert(QStringLiteral("packages"), packages);
    const QUrl base(QStringLiteral("https://cdn.example.test/launcher/"));
    auto pConfiguration = std::make_shared<mirrel::launcher::TLauncherConfigurationReader>(
        QJsonDocument(document).toJson(QJsonDocument::Compact), base);
    for (const std::shared_ptr<mirrel::launcher::TPackage>& pPackage : pConfiguration->packages()) {
        mirrel::launcher::TPackageBuild* pBuild = pPackage->selectBuildForThisSystem();
        if (pBuild != nullptr) {
            pBuild->Configuration = std::make_unique<mirrel::launcher::TPackageConfigurationReader>(
                packageDocument(QStringLiteral("1.%1").arg(pPackage->index())), QByteArray(), base, base);
        }
    }
    return pConfiguration;
}

} // namespace testsupport
