#pragma once

#include <QString>
#include <QTemporaryDir>

namespace testsupport {

// Points HOME and the XDG folders (configuration, data, cache, runtime) at a fresh temporary
// directory for the rest of the process, so that QSettings' user store and QStandardPaths never
// reach the real user's files. Create it in main(), before the QCoreApplication.
class TIsolatedUserDirectories {
public:
    TIsolatedUserDirectories();
    TIsolatedUserDirectories(const TIsolatedUserDirectories&) = delete;
    TIsolatedUserDirectories& operator=(const TIsolatedUserDirectories&) = delete;

    QString home() const;

private:
    QTemporaryDir m_Root;
};

} // namespace testsupport
