#include "support/launchersandbox.h"

#include "support/stringliteral.h"
#include "support/testdata.h"
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

const QString executableName = u"VantorLauncher"_qs;

} // namespace

TLauncherSandbox::TLauncherSandbox() {
    if (!m_root.isValid()) {
        m_errorString = u"no temporary directory"_qs;
        return;
    }
    const QDir root(m_root.path());
    for (const QString& folder :
         {u"launcher"_qs, u"home"_qs, u"config"_qs, u"data"_qs, u"cache"_qs, u"runtime"_qs, u"tmp"_qs}) {
        root.mkpath(folder);
    }
    QFile::setPermissions(root.filePath(u"runtime"_qs),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString source = launcherBinDir() + u'/' + executableName;
    if (!QFile::copy(source, executablePath())) {
        m_errorString = u"cannot copy %1"_qs.arg(source);
    }
}

TLauncherSandbox::~TLauncherSandbox() = default;

QString TLauncherSandbox::launcherDirectory() const {
    return m_root.filePath(u"launcher"_qs);
}

QString TLauncherSandbox::executablePath() const {
    return launcherDirectory() + u'/' + executableName;
}

QString TLauncherSandbox::logFilePath() const {
    return executablePath() + u".log"_qs;
}

bool TLauncherSandbox::writeSettings(const QByteArray& iniText) const {
    return writeBytes(launcherDirectory() + u"/launchersettings.ini"_qs, iniText);
}

void TLauncherSandbox::setEnvironmentVariable(const QString& name, const QString& value) {
    m_extraEnvironment.insert(name, value);
}

QProcessEnvironment TLauncherSandbox::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_qs, m_root.filePath(u"home"_qs));
    environment.insert(u"XDG_CONFIG_HOME"_qs, m_root.filePath(u"config"_qs));
    environment.insert(u"XDG_DATA_HOME"_qs, m_root.filePath(u"data"_qs));
    environment.insert(u"XDG_CACHE_HOME"_qs, m_root.filePath(u"cache"_qs));
    environment.insert(u"XDG_RUNTIME_DIR"_qs, m_root.filePath(u"runtime"_qs));
    environment.insert(u"TMPDIR"_qs, m_root.filePath(u"tmp"_qs));
    environment.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
    environment.insert(m_extraEnvironment);
    return environment;
}

std::unique_ptr<QProcess> TLauncherSandbox::start(const QStringList& arguments,
                                                  const QString& outputFile) const {
    auto process = std::make_unique<QProcess>();
    process->setProgram(executablePath());
    process->setArguments(arguments);
    process->setProcessEnvironment(environment());
    process->setWorkingDirectory(launcherDirectory());
    if (!outputFile.isEmpty()) {
        process->setStandardInputFile(QProcess::nullDevice());
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->setStandardOutputFile(outputFile);
    }
    process->start();
    process->waitForStarted(30000);
    return process;
}

QStringList TLauncherSandbox::logLines() const {
    return QString::fromUtf8(readBytes(logFilePath())).split(u'\n', Qt::SkipEmptyParts);
}

int TLauncherSandbox::countLogLines(const QRegularExpression& pattern) const {
    return logLines().filter(pattern).size();
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
