#include "launcher/logging/logging.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QTextStream>
#include <QThread>

#include <cstdlib>
#include <exception>
#include <memory>
#include <stdexcept>

namespace mirrel::launcher {

namespace {

// The process-wide log sink. Both are created once and never destroyed, so a
// message logged while static objects are torn down at exit is still safe.
std::shared_ptr<QFile>& logFile() {
    static auto* file = new std::shared_ptr<QFile>();
    return *file;
}

QMutex& logMutex() {
    static auto* mutex = new QMutex();
    return *mutex;
}

// The local time of a line, to the second; called with the log's lock held. Working the local time
// out makes the system read its time-zone file again each time, and an install logs several lines
// per chunk: the text is kept for the second it stands for. Never destroyed, like the sink.
const QString& timeStampText() {
    static auto* second = new qint64(-1);
    static auto* text = new QString();
    const qint64 now = QDateTime::currentMSecsSinceEpoch() / 1000;
    if (now != *second) {
        *second = now;
        *text = QDateTime::fromSecsSinceEpoch(now).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    }
    return *text;
}

QString executableName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

QString logFilePathBesideExecutable() {
    const QString directory = QCoreApplication::applicationDirPath();
    if (!QDir(directory).exists() && !QDir().mkpath(directory)) {
        throw std::runtime_error("Failed to create subdirectory.");
    }
    return QDir::cleanPath(directory + QDir::separator() + executableName() + QStringLiteral(".log"));
}

// "$XDG_STATE_HOME/<executable>/<executable>.log", with ~/.local/state standing in for an unset
// or relative XDG_STATE_HOME.
QString logFilePathInStateFolder() {
    QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
    if (stateHome.isEmpty() || QDir::isRelativePath(stateHome)) {
        stateHome = QDir::homePath() + QStringLiteral("/.local/state");
    }
    const QString directory = QDir::cleanPath(stateHome + QLatin1Char('/') + executableName());
    QDir().mkpath(directory);
    return directory + QLatin1Char('/') + executableName() + QStringLiteral(".log");
}

std::shared_ptr<QFile> openLogFile(const QString& logFilePath) {
    auto file = std::make_shared<QFile>(logFilePath);
    file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
    return file;
}

void installLogFile(std::shared_ptr<QFile> file) {
    {
        const QMutexLocker lock(&logMutex());
        logFile() = std::move(file);
    }
    qInstallMessageHandler(logMessageHandler);
}

// A launcher directory the player cannot write to must not cost the log: it goes to the user's
// state folder then, and its first line says why.
void installLogFileBesideExecutable() {
    const QString besidePath = logFilePathBesideExecutable();
    std::shared_ptr<QFile> beside = openLogFile(besidePath);
    if (beside->isOpen()) {
        installLogFile(std::move(beside));
        return;
    }
    const QString fallbackPath = logFilePathInStateFolder();
    installLogFile(openLogFile(fallbackPath));
    qWarning().noquote() << "setupLogging: the log file " + besidePath + " cannot be opened (" +
                                beside->errorString() + "), logging into " + fallbackPath +
                                " Thread: " + currentThreadIdText();
}

// The source file's name without the build machine's folders.
const char* sourceFileName(const char* path) {
    if (path == nullptr) {
        return "";
    }
    const char* name = path;
    for (const char* character = path; *character != '\0'; ++character) {
        if (*character == '/' || *character == '\\') {
            name = character + 1;
        }
    }
    return name;
}

void reportSetupFailure(const QString& text) {
    qWarning().noquote() << text;
}

template <typename Setup>
void guardedSetup(Setup setup) {
    try {
        setup();
    } catch (const std::exception& error) {
        reportSetupFailure(QStringLiteral("couldn't setup logging. exception: ") +
                           QString::fromLocal8Bit(error.what()));
    } catch (...) {
        reportSetupFailure(QStringLiteral("couldn't setup logging"));
    }
}

QString kindText(QtMsgType type, const QString& message) {
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug: %1").arg(message);
    case QtWarningMsg:
        return QStringLiteral("Warning: %1").arg(message);
    case QtCriticalMsg:
        return QStringLiteral("Critical: %1").arg(message);
    case QtInfoMsg:
        return QStringLiteral("Info: %1").arg(message);
    case QtFatalMsg:
        return QStringLiteral("Fatal: %1").arg(message);
    }
    return QString();
}

} // namespace

void setupLogging() {
    guardedSetup([] { installLogFileBesideExecutable(); });
}

void setupLogging(const QString& logFilePath) {
    // An unopenable file is not reported: its messages are simply lost.
    guardedSetup([&logFilePath] { installLogFile(openLogFile(logFilePath)); });
}

void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QString kind = kindText(type, message);
    if (type == QtFatalMsg) {
        std::abort();
    }
    const QString location = QStringLiteral("(%1:%2)").arg(QString::fromUtf8(sourceFileName(context.file)),
                                                           QString::number(context.line));

    const QMutexLocker lock(&logMutex());
    const std::shared_ptr<QFile>& file = logFile();
    // A file that could not be opened loses its messages quietly; writing to it
    // would only make Qt report the failed write through this very handler.
    if (!file || !file->isOpen()) {
        return;
    }
    QTextStream stream(file.get());
    stream.setCodec("UTF-8");
    stream << QStringLiteral("%1 %2 %3").arg(timeStampText(), location, kind) << '\n';
    stream.flush();
}

QString currentThreadIdText() {
    return QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(QThread::currentThreadId()), 16);
}

} // namespace mirrel::launcher
