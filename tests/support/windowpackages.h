#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace mirrel::launcher {
class TPackage;
}

namespace testsupport {

// A client package as the window shows it: a build for the running system
// with the given package document attached (or none when Document is empty).
std::shared_ptr<mirrel::launcher::TPackage> makeWindowPackage(int Index, const QString& Name,
                                                              const QByteArray& Document,
                                                              const QString& LogoLinkTarget = QString());

// A package document of the given version, generation and variant words.
QByteArray packageDocument(const QString& Version, const QString& Generation = QStringLiteral("second"),
                           const QString& Variant = QStringLiteral("regular"));

} // namespace testsupport
