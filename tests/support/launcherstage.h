#pragma once

#include "support/launchersandbox.h"
#include "support/nginxfixture.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace testsupport {

// One start of the sample client as it recorded itself.
struct TClientStart {
    QStringList Arguments;
    QString WorkingDirectory;
    bool LauncherRunning = false;
    qint64 ProcessId = 0;
};

// A package entry of the launcher configuration the stage writes.
struct TStagePackage {
    QString Name;
    QString DirectoryName;
    // Below the document root, e.g. "vantor/linux/package-1.json".
    QString Document;
    bool InstallAutomatically = false;
};

// Writes version 1 or 2 of a small game whose program is the sample client ("VantorOnlineClient"):
// "data/world.pak" (about 10 MB, several chunks), "data/version.txt" and
// "VantorOnlineClient_Data/Data/Settings/graphics.ini". Version 2 rewrites the middle of world.pak
// and version.txt, adds "data/patch-notes.txt" and drops graphics.ini. Seeded, so every run writes
// the same bytes.
bool writeSampleGame(const QString& Directory, int Version, QString& Error);

// The stage of a whole launcher run: a real nginx serving what the real publisher made of the
// sample game, a launcher configuration naming it, and the real launcher executable in a sandbox
// whose settings point at that server. Every program the launcher starts (the sample client)
// records itself into a file of the stage, and the launcher's own output goes to files, so
// programs that outlive the test's process handles never write into a closed pipe.
class TLauncherStage {
public:
    static QString gameExecutable() { return QStringLiteral("VantorOnlineClient"); }
    static QStringList gameParameters() {
        return {QStringLiteral("--realm=test"), QStringLiteral("--quality=high")};
    }

    TLauncherStage();
    ~TLauncherStage();
    TLauncherStage(const TLauncherStage&) = delete;
    TLauncherStage& operator=(const TLauncherStage&) = delete;

    // Starts nginx; call addServerDirectives on server() before.
    bool start();
    QString errorString() const { return m_ErrorString; }

    TNginxFixture& server() { return m_Server; }
    const TNginxFixture& server() const { return m_Server; }
    TLauncherSandbox& sandbox() { return *m_pSandbox; }
    const TLauncherSandbox& sandbox() const { return *m_pSandbox; }
    // A fresh launcher directory (and user folders) for the next run; the server and what was
    // published stay. Ends what the previous sandbox left running and forgets its client starts.
    bool renewSandbox();
    QString workDirectory() const { return m_WorkDirectory.path(); }

    // Publishes a tree with the real publisher as "<Folder>/<DocumentName>" below the document root.
    bool publishTree(const QString& Tree, const QString& Folder, const QString& DocumentName,
                     const QString& Version, const QString& Executable, const QStringList& Parameters);
    // Publishes version 1 or 2 of the sample game as "<Folder>/package-<Version>.json".
    bool publishGame(const QString& Folder, int Version);
    QString gameTree(int Version) const;

    // "launcher.json" below the document root. A launcher package is written when its document is
    // not empty.
    bool writeConfiguration(const std::vector<TStagePackage>& Packages,
                            const TStagePackage& LauncherPackage = TStagePackage(),
                            bool PreventDefaultAutostart = false);
    // A complete "launchersettings.ini" beside the launcher, pointing at the configuration document
    // (a path below the document root).
    bool writeSettings(qint64 ClientStartTimeout = 30000, const QStringList& ExtraOptions = QStringList(),
                       const QString& ConfigurationDocument = QStringLiteral("launcher.json"));

    QString packageDirectory(const QString& DirectoryName) const;
    QString installedExecutable(const QString& DirectoryName) const;

    // Starts the launcher with its output going to the file output-<n>.txt of the stage.
    std::unique_ptr<QProcess> startLauncher(const QStringList& Arguments);
    // Runs the launcher to its end; -1 when it had not ended within the time.
    int runLauncher(const QStringList& Arguments, int TimeoutMs = 120000);
    // What the n-th started launcher wrote to its standard output and error.
    QString launcherOutput(int Index) const;
    int launchersStarted() const { return m_LaunchersStarted; }

    QString recordFile() const;
    QList<TClientStart> clientStarts() const;
    // Ends every recorded client that still runs and waits until no client holds the client's
    // named object any more.
    bool endClients(int TimeoutMs = 15000);
    // Ends every process still running from the sandbox's launcher directory (a launcher that was
    // restarted detached, say), by its id.
    void endLaunchersLeftBehind();

private:
    QString outputFile(int Index) const;

    QTemporaryDir m_WorkDirectory;
    TNginxFixture m_Server;
    std::unique_ptr<TLauncherSandbox> m_pSandbox;
    QString m_ErrorString;
    int m_LaunchersStarted = 0;
};

} // namespace testsupport
