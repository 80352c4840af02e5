#include "support/isolateduserdirectories.h"

#include <QDir>
#include <QFile>

namespace testsupport {

namespace {

void pointAt(const char* Variable, const QString& Path) {
    QDir().mkpath(Path);
    qputenv(Variable, QFile::encodeName(Path));
}

} // namespace

TIsolatedUserDirectories::TIsolatedUserDirectories() {
    pointAt("HOME", home());
    pointAt("XDG_CONFIG_HOME", configHome());
    pointAt("XDG_DATA_HOME", dataHome());
    pointAt("XDG_CACHE_HOME", m_Root.filePath(QStringLiteral("cache")));
    pointAt("XDG_RUNTIME_DIR", m_Root.filePath(QStringLiteral("runtime")));
    QFile::setPermissions(m_Root.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString TIsolatedUserDirectories::home() const {
    return m_Root.filePath(QStringLiteral("home"));
}

QString TIsolatedUserDirectories::configHome() const {
    return m_Root.filePath(QStringLiteral("config"));
}

QString TIsolatedUserDirectories::dataHome() const {
    return m_Root.filePath(QStringLiteral("data"));
}

} // namespace testsupport
