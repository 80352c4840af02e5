#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class QProcess;
class QRegularExpression;

namespace testsupport {

// The real launcher executable copied into a temporary directory of its own, with HOME, the XDG
// folders and TMPDIR pointing into that directory too, so a started launcher reads only the
// settings the test wrote beside it and writes its log there.
class TLauncherSandbox {
public:
    TLauncherSandbox();
    ~TLauncherSandbox();
    TLauncherSandbox(const TLauncherSandbox&) = delete;
    TLauncherSandbox& operator=(const TLauncherSandbox&) = delete;

    bool isValid() const { return m_errorString.isEmpty(); }
    QString errorString() const { return m_errorString; }

    QString launcherDirectory() const;
    QString executablePath() const;
    QString logFilePath() const;

    // "launchersettings.ini" beside the executable.
    bool writeSettings(const QByteArray& iniText) const;

    // An extra variable for every launcher started from now on (and the programs it starts).
    void setEnvironmentVariable(const QString& name, const QString& value);
    QProcessEnvironment environment() const;
    // Starts the launcher and waits until the process runs (not until it is ready). With an output
    // file, its standard output and error go there, so a launcher that outlives the test's process
    // handle never writes into a closed pipe.
    std::unique_ptr<QProcess> start(const QStringList& arguments = QStringList(),
                                    const QString& outputFile = QString()) const;

    QStringList logLines() const;
    int countLogLines(const QRegularExpression& pattern) const;
    // Waits until at least count log lines match.
    bool waitForLogLine(const QRegularExpression& pattern, int count = 1, int timeoutMs = 30000) const;

    // Sends the signal and waits for the process to end.
    static bool stop(QProcess& process, int signalNumber, int timeoutMs = 30000);

private:
    QTemporaryDir m_root;
    QString m_errorString;
    QProcessEnvironment m_extraEnvironment;
};

} // namespace testsupport
