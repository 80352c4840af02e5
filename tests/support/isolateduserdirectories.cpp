#include "support/isolateduserdirectories.h"
#include "support/stringliteral.h"

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
    pointAt("XDG_CONFIG_HOME", m_Root.filePath(u"config"_qs));
    pointAt("XDG_DATA_HOME", m_Root.filePath(u"data"_qs));
    pointAt("XDG_CACHE_HOME", m_Root.filePath(u"cache"_qs));
    pointAt("XDG_RUNTIME_DIR", m_Root.filePath(u"runtime"_qs));
    QFile::setPermissions(m_Root.filePath(u"runtime"_qs),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString TIsolatedUserDirectories::home() const {
    return m_Root.filePath(u"home"_qs);
}

} // namespace testsupport
