#include "support/launchersandbox.h"

#include "support/testpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <signal.h>

namespace testsupport {

namespace {

const QString executableName = QStringLiteral("VantorLauncher");

} // namespace

TLauncherSandbox::TLauncherSandbox() {
    if (!m_root.isValid()) {
        m_errorString = QStringLiteral("no temporary directory");
        return;
    }
    const QDir root(m_root.path());
    for (const QString& folder : {QStringLiteral("launcher"), QStringLiteral("home"),
                                  QStringLiteral("config"), QStringLiteral("data"), QStringLiteral("cache"),
                                  QStringLiteral("runtime"), QStringLiteral("tmp")}) {
        root.mkpath(folder);
    }
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString source = launcherBinDir() + QLatin1Char('/') + executableName;
    if (!QFile::copy(source, executablePath())) {
        m_errorString = QStringLiteral("cannot copy %1").arg(source);
    }
}

TLauncherSandbox::~TLauncherSandbox() = default;

QString TLauncherSandbox::launcherDirectory() const {
    return m_root.filePath(QStringLiteral("launcher"));
}

QString TLauncherSandbox::executablePath() const {
    return launcherDirectory() + QLatin1Char('/') + executableName;
}

QString TLauncherSandbox::logFilePath() const {
    return executablePath() + QStringLiteral(".log");
}

bool TLauncherSandbox::writeSettings(const QByteArray& iniText) const {
    return writeLauncherFile(QStringLiteral("launchersettings.ini"), iniText);
}

bool TLauncherSandbox::writeLauncherFile(const QString& relativePath, const QByteArray& content) const {
    const QString path = launcherDirectory() + QLatin1Char('/') + relativePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

void TLauncherSandbox::setEnvironmentVariable(const QString& name, const QString& value) {
    m_extraEnvironment.insert(name, value);
}

QProcessEnvironment TLauncherSandbox::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), m_root.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_root.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_root.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_root.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_root.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("TMPDIR"), m_root.filePath(QStringLiteral("tmp")));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(m_extraEnvironment);
    return environment;
}

std::unique_ptr<QProcess> TLauncherSandbox::start(const QStringList& arguments) const {
    auto process = std::make_unique<QProcess>();
    process->setProgram(executablePath());
    process->setArguments(arguments);
    process->setProcessEnvironment(environment());
    process->setWorkingDirectory(launcherDirectory());
    process->start();
    process->waitForStarted(30000);
    return process;
}

QByteArray TLauncherSandbox::logContent() const {
    QFile file(logFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList TLauncherSandbox::logLines() const {
    return QString::fromUtf8(logContent()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

int TLauncherSandbox::countLogLines(const QRegularExpression& pattern) const {
    int count = 0;
    for (const QString& line : logLines()) {
        if (pattern.match(line).hasMatch()) {
            ++count;
        }
    }
    return count;
}

bool TLauncherSandbox::waitForLogLine(const QRegularExpression& pattern, int count, int timeoutMs) const {
    return QTest::qWaitFor([&] { return countLogLines(pattern) >= count; }, timeoutMs);
}

bool TLauncherSandbox::stop(QProcess& process, int signalNumber, int timeoutMs) {
    if (process.state() == QProcess::NotRunning) {
        return true;
    }
    ::kill(static_cast<pid_t>(process.processId()), signalNumber);
    return process.waitForFinished(timeoutMs);
}

} // namespace testsupport
