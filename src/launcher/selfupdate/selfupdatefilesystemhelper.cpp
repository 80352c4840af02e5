#include "launcher/selfupdate/selfupdatefilesystemhelper.h"

#include <QFile>
#include <QImage>
#include <QSettings>

#include <stdexcept>

#include <sys/stat.h>

namespace mirrel::launcher {

TSelfUpdateFilesystemHelper::TSelfUpdateFilesystemHelper(std::shared_ptr<TLauncherFilesystemHelper> pInner,
                                                         QString RunningProgram)
    : TLauncherFilesystemHelper(pInner->launcherDirectory())
    , m_pInner(std::move(pInner))
    , m_RunningProgram(std::move(RunningProgram)) {}

TSelfUpdateFilesystemHelper::~TSelfUpdateFilesystemHelper() = default;

bool TSelfUpdateFilesystemHelper::isRunningProgram(const QString& Path) const {
    struct stat Program {};
    struct stat Candidate {};
    if (::stat(QFile::encodeName(m_RunningProgram).constData(), &Program) != 0 ||
        ::lstat(QFile::encodeName(Path).constData(), &Candidate) != 0) {
        return false;
    }
    return Program.st_dev == Candidate.st_dev && Program.st_ino == Candidate.st_ino;
}

bool TSelfUpdateFilesystemHelper::removeFile(const QString& path) const {
    if (isRunningProgram(path)) {
        throw std::runtime_error(
            (QStringLiteral("Failed to delete file ") + path + QStringLiteral(" (the running launcher)"))
                .toStdString());
    }
    return m_pInner->removeFile(path);
}

std::shared_ptr<::shared::TReadOnlyMemoryBlob>
TSelfUpdateFilesystemHelper::openMemoryBlob(const QString& path) const {
    return m_pInner->openMemoryBlob(path);
}

QByteArray TSelfUpdateFilesystemHelper::readFile(const QString& path) const {
    return m_pInner->readFile(path);
}

QByteArray TSelfUpdateFilesystemHelper::readFileIfPresent(const QString& path) const {
    return m_pInner->readFileIfPresent(path);
}

void TSelfUpdateFilesystemHelper::writeFile(const QString& path, const QByteArray& data) const {
    m_pInner->writeFile(path, data);
}

void TSelfUpdateFilesystemHelper::writeTextFile(const QString& path, const QString& text) const {
    m_pInner->writeTextFile(path, text);
}

void TSelfUpdateFilesystemHelper::appendTextFile(const QString& path, const QString& text) const {
    m_pInner->appendTextFile(path, text);
}

void TSelfUpdateFilesystemHelper::copyFile(const QString& source, const QString& target) const {
    m_pInner->copyFile(source, target);
}

QDir TSelfUpdateFilesystemHelper::createDirectory(const QString& path) const {
    return m_pInner->createDirectory(path);
}

QString TSelfUpdateFilesystemHelper::pathInside(const QDir& base, const QString& relative) const {
    return m_pInner->pathInside(base, relative);
}

void TSelfUpdateFilesystemHelper::forEachFile(
    const QString& directory, const std::function<void(const ::shared::TLocalFileInfo&)>& visit) const {
    m_pInner->forEachFile(directory, visit);
}

std::vector<::shared::TLocalFileInfo> TSelfUpdateFilesystemHelper::listFiles(const QString& directory) const {
    return m_pInner->listFiles(directory);
}

bool TSelfUpdateFilesystemHelper::fileExists(const QString& path) const {
    return m_pInner->fileExists(path);
}

bool TSelfUpdateFilesystemHelper::directoryExists(const QString& path) const {
    return m_pInner->directoryExists(path);
}

QString TSelfUpdateFilesystemHelper::joinPath(const std::vector<QString>& parts) const {
    return m_pInner->joinPath(parts);
}

QDir TSelfUpdateFilesystemHelper::subdirectory(const QDir& parent, const QString& name) const {
    return m_pInner->subdirectory(parent, name);
}

std::shared_ptr<QSettings> TSelfUpdateFilesystemHelper::openSettings(const QString& path) const {
    return m_pInner->openSettings(path);
}

QJsonDocument TSelfUpdateFilesystemHelper::readJsonFileAsQJsonDocument(const QString& path,
                                                                       bool& error) const {
    return m_pInner->readJsonFileAsQJsonDocument(path, error);
}

std::shared_ptr<QImage> TSelfUpdateFilesystemHelper::readImage(const QString& path,
                                                               const char* format) const {
    return m_pInner->readImage(path, format);
}

void TSelfUpdateFilesystemHelper::writeImage(const QImage& image, const QString& path,
                                             const char* format) const {
    m_pInner->writeImage(image, path, format);
}

} // namespace mirrel::launcher
