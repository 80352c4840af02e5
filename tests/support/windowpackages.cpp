#include "support/windowpackages.h"

#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "support/stringliteral.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QUrl>

namespace testsupport {

QJsonObject packageEntry(const QString& Name, const QString& DirectoryName, const QString& Document) {
    const QString architecture = QSysInfo::buildCpuArchitecture() == u"i386"_qs ? u"i386"_qs : u"x86_64"_qs;
    const QJsonObject build{
        {u"os"_qs, u"linux"_qs}, {u"architecture"_qs, architecture}, {u"url"_qs, Document}};
    return QJsonObject{
        {u"name"_qs, Name}, {u"directoryname"_qs, DirectoryName}, {u"builds"_qs, QJsonArray{build}}};
}

namespace {

void attachDocument(mirrel::launcher::TPackage& Package, const QByteArray& Document, const QUrl& Base) {
    mirrel::launcher::TPackageBuild* pBuild = Package.selectBuildForThisSystem();
    if (pBuild != nullptr && !Document.isEmpty()) {
        pBuild->Configuration = std::make_unique<mirrel::launcher::TPackageConfigurationReader>(
            Document, QByteArray(), Base, Base);
    }
}

} // namespace

std::shared_ptr<mirrel::launcher::TPackage>
makeWindowPackage(int Index, const QString& Name, const QByteArray& Document, const QString& LogoLinkTarget) {
    QJsonObject entry = packageEntry(Name, Name.toLower().remove(u' '), u"package.json"_qs);
    if (!LogoLinkTarget.isEmpty()) {
        entry.insert(u"logolinktarget"_qs, LogoLinkTarget);
    }
    const QUrl base(u"https://cdn.example.test/packages/"_qs);
    auto pPackage = std::make_shared<mirrel::launcher::TPackage>(Index, entry, base);
    attachDocument(*pPackage, Document, base);
    return pPackage;
}

QByteArray packageDocument(const QString& Version, const QString& Generation, const QString& Variant) {
    return QJsonDocument(QJsonObject{{u"version"_qs, Version},
                                     {u"executable"_qs, u"bin/vantor"_qs},
                                     {u"generation"_qs, Generation},
                                     {u"variant"_qs, Variant}})
        .toJson(QJsonDocument::Compact);
}

std::shared_ptr<mirrel::launcher::TLauncherConfigurationReader>
makeWindowConfiguration(const QStringList& Names) {
    QJsonArray packages;
    for (const QString& name : Names) {
        packages.append(packageEntry(name, name.toLower(), name.toLower() + u"/package.json"_qs));
    }
    const QUrl base(u"https://cdn.example.test/launcher/"_qs);
    auto pConfiguration = std::make_shared<mirrel::launcher::TLauncherConfigurationReader>(
        QJsonDocument(QJsonObject{{u"packages"_qs, packages}}).toJson(QJsonDocument::Compact), base);
    for (const std::shared_ptr<mirrel::launcher::TPackage>& pPackage : pConfiguration->packages()) {
        attachDocument(*pPackage, packageDocument(u"1.%1"_qs.arg(pPackage->index())), base);
    }
    return pConfiguration;
}

} // namespace testsupport
