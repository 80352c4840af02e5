#include "launcher/storage/launcherfilesystemhelper.h"

#include "launcher/settings/launcherconstants.h"
#include "launcher/settings/launchersettings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace mirrel::launcher {

TLauncherFilesystemHelper::TLauncherFilesystemHelper()
    : TLauncherFilesystemHelper(QCoreApplication::applicationDirPath()) {}

TLauncherFilesystemHelper::TLauncherFilesystemHelper(const QString& launcherDirectory)
    : m_LauncherDirectory(QDir(launcherDirectory).absolutePath()) {
    const QString localIni = joinPath({m_LauncherDirectory, SettingsFileName});
    const QString iniPath = fileExists(localIni) ? localIni : EmbeddedSettingsFolder + SettingsFileName;
    m_pSettings = std::make_shared<const TLauncherSettings>(iniPath);

    m_AccountGroupFileName = m_pSettings->accountGroupFile();
    m_AccountGroupTargetPath = joinPath({m_pSettings->settingsTarget(), m_AccountGroupFileName});
    // The launcher's directory never changes while it runs, so the source path is
    // fixed here once instead of on first use from whichever thread comes first.
    m_AccountGroupSourcePath = joinPath({m_LauncherDirectory, m_AccountGroupFileName});
}

TLauncherFilesystemHelper::~TLauncherFilesystemHelper() = default;

QString TLauncherFilesystemHelper::launcherFilePath(const QString& fileName) const {
    return joinPath({m_LauncherDirectory, fileName});
}

QString TLauncherFilesystemHelper::packagesDirectoryPath() const {
    return QDir::cleanPath(joinPath({m_LauncherDirectory, m_pSettings->packagesDirectory()}));
}

QDir TLauncherFilesystemHelper::packagesDirectory() const {
    return createDirectory(packagesDirectoryPath());
}

QString TLauncherFilesystemHelper::packageDirectoryPath(const QString& DirectoryName) const {
    return pathInside(QDir(packagesDirectoryPath()), DirectoryName);
}

bool TLauncherFilesystemHelper::accountGroupFileExists() const {
    // Without a file name the source path is the launcher's directory itself,
    // which exists but is no account group file.
    return !m_AccountGroupFileName.isEmpty() && fileExists(m_AccountGroupSourcePath);
}

QJsonObject TLauncherFilesystemHelper::readAccountGroupFile() const {
    if (!accountGroupFileExists()) {
        return QJsonObject{{QStringLiteral("error"), QStringLiteral("File does not exist")}};
    }
    QFile file(m_AccountGroupSourcePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning().noquote() << "Failed to open file:" << file.errorString();
        return QJsonObject{{QStringLiteral("error"), m_AccountGroupSourcePath}};
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        qWarning().noquote() << "JSON parse error:" << parseError.errorString();
        return QJsonObject();
    }
    if (!document.isObject()) {
        qWarning().noquote() << "JSON file does not contain a valid JSON object.";
        return QJsonObject();
    }
    return document.object();
}

void TLauncherFilesystemHelper::copyAccountGroupFileTo(const QDir& packageDirectory) const {
    // Read and rewrite instead of a plain file copy: a copy neither replaces an
    // older file nor creates the settings directory, and it fails silently, so
    // the client would keep a stale key without anyone noticing.
    const QString target = joinPath({packageDirectory.absolutePath(), m_AccountGroupTargetPath});
    writeFile(target, readFile(m_AccountGroupSourcePath));
}

} // namespace mirrel::launcher
