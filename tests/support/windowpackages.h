#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace mirrel::launcher {
class TLauncherConfigurationReader;
class TPackage;
} // namespace mirrel::launcher

namespace testsupport {

// A package entry of the launcher configuration with one build, for the system the tests run on.
QJsonObject packageEntry(const QString& Name, const QString& DirectoryName, const QString& Document);

// A client package as the window shows it: a build for the running system
// with the given package document attached (or none when Document is empty).
std::shared_ptr<mirrel::launcher::TPackage> makeWindowPackage(int Index, const QString& Name,
                                                              const QByteArray& Document,
                                                              const QString& LogoLinkTarget = QString());

// A package document of the given version, generation and variant words.
QByteArray packageDocument(const QString& Version, const QString& Generation = QStringLiteral("second"),
                           const QString& Variant = QStringLiteral("regular"));

// A launcher configuration listing a package per name, each with a build for
// the running system and a package document of version "1.<position>".
std::shared_ptr<mirrel::launcher::TLauncherConfigurationReader>
makeWindowConfiguration(const QStringList& Names);

} // namespace testsupport
