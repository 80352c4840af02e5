#include "support/launcherstage.h"

#include "launcher/settings/launcherconstants.h"
#include "platform/namedfilemapping.h"
#include "support/publishedgame.h"
#include "support/testdata.h"
#include "support/stringliteral.h"
#include "support/testpaths.h"
#include "support/windowpackages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <signal.h>

namespace testsupport {

namespace {

constexpr qint64 WorldSize = 10 * 1024 * 1024;
constexpr qint64 WorldPatchOffset = 5 * 1024 * 1024;
constexpr qint64 WorldPatchSize = 1024 * 1024;

QJsonObject stageEntry(const TStagePackage& Package) {
    QJsonObject entry = packageEntry(Package.Name, Package.DirectoryName, Package.Document);
    entry.insert(u"installautomatically"_qs, Package.InstallAutomatically);
    return entry;
}

// The file a process was started from, as the kernel names it ("... (deleted)" when it is gone).
QString processExecutable(qint64 ProcessId) {
    return QFile::symLinkTarget(u"/proc/%1/exe"_qs.arg(ProcessId));
}

} // namespace

bool writeSampleGame(const QString& Directory, int Version, QString& Error) {
    QDir root(Directory);
    if (!root.removeRecursively() || !QDir().mkpath(Directory)) {
        Error = u"cannot prepare "_qs + Directory;
        return false;
    }
    const QString program = root.filePath(TLauncherStage::gameExecutable());
    if (!QFile::copy(launcherBinDir() + u"/vantor-sampleclient"_qs, program) || !makeExecutable(program)) {
        Error = u"cannot copy the sample client into "_qs + Directory;
        return false;
    }
    QByteArray world = seededBytes(11, WorldSize);
    if (Version >= 2) {
        world.replace(static_cast<int>(WorldPatchOffset), static_cast<int>(WorldPatchSize),
                      seededBytes(12, WorldPatchSize));
    }
    bool written = writeBytes(root.filePath(u"data/world.pak"_qs), world) &&
                   writeBytes(root.filePath(u"data/version.txt"_qs),
                              QByteArray("version ") + QByteArray::number(Version) + '\n');
    if (Version >= 2) {
        written = written && writeBytes(root.filePath(u"data/patch-notes.txt"_qs),
                                        "The middle of the world was redrawn.\n");
    } else {
        written = written && writeBytes(root.filePath(u"VantorOnlineClient_Data/Data/Settings/"
                                                      "graphics.ini"_qs),
                                        "[graphics]\nquality=high\n");
    }
    if (!written) {
        Error = u"cannot write the game files into "_qs + Directory;
    }
    return written;
}

TLauncherStage::TLauncherStage() {
    if (!m_WorkDirectory.isValid()) {
        m_ErrorString = u"no temporary directory"_qs;
    } else {
        renewSandbox();
    }
}

bool TLauncherStage::renewSandbox() {
    if (m_pSandbox) {
        endLaunchersLeftBehind();
        endClients();
    }
    QFile::remove(recordFile());
    m_pSandbox = std::make_unique<TLauncherSandbox>();
    if (!m_pSandbox->isValid()) {
        m_ErrorString = m_pSandbox->errorString();
        return false;
    }
    m_pSandbox->setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_RECORD"_qs, recordFile());
    m_pSandbox->setEnvironmentVariable(u"VANTOR_SAMPLE_CLIENT_EXIT_AFTER"_qs, u"60"_qs);
    return true;
}

TLauncherStage::~TLauncherStage() {
    endLaunchersLeftBehind();
    endClients();
}

bool TLauncherStage::start() {
    if (!m_ErrorString.isEmpty()) {
        return false;
    }
    if (!m_Server.start()) {
        m_ErrorString = m_Server.errorString();
        return false;
    }
    return true;
}

bool TLauncherStage::publishTree(const QString& Tree, const QString& Folder, const QString& DocumentName,
                                 const QString& Version, const QString& Executable,
                                 const QStringList& Parameters) {
    QStringList arguments{u"publish"_qs, u"--version"_qs, Version, u"--name"_qs,
                          DocumentName,  u"--method"_qs,  u"3"_qs, u"--no-progress"_qs};
    if (!Executable.isEmpty()) {
        arguments << u"--executable"_qs << Executable;
    }
    for (const QString& parameter : Parameters) {
        arguments << u"--parameter="_qs + parameter;
    }
    arguments << Tree << QDir(m_Server.documentRoot()).filePath(Folder);
    QString output;
    if (!runPublisher(arguments, output)) {
        m_ErrorString = u"publishing %1 failed: %2"_qs.arg(Tree, output);
        return false;
    }
    return true;
}

QString TLauncherStage::gameTree(int Version) const {
    return m_WorkDirectory.filePath(u"game-%1"_qs.arg(Version));
}

bool TLauncherStage::publishGame(const QString& Folder, int Version) {
    if (!writeSampleGame(gameTree(Version), Version, m_ErrorString)) {
        return false;
    }
    return publishTree(gameTree(Version), Folder, u"package-%1.json"_qs.arg(Version),
                       QString::number(Version), gameExecutable(), gameParameters());
}

bool TLauncherStage::writeConfiguration(const std::vector<TStagePackage>& Packages,
                                        const TStagePackage& LauncherPackage, bool PreventDefaultAutostart) {
    QJsonArray packages;
    for (const TStagePackage& package : Packages) {
        packages.append(stageEntry(package));
    }
    QJsonObject configuration{{u"packages"_qs, packages},
                              {u"preventdefaultautostart"_qs, PreventDefaultAutostart},
                              {u"showpackagenames"_qs, true}};
    if (!LauncherPackage.Document.isEmpty()) {
        configuration.insert(u"launcher"_qs, stageEntry(LauncherPackage));
    }
    return m_Server.writeFile(u"launcher.json"_qs, QJsonDocument(configuration).toJson());
}

bool TLauncherStage::writeSettings(qint64 ClientStartTimeout, const QStringList& ExtraOptions,
                                   const QString& ConfigurationDocument) {
    return m_pSandbox->writeSettings(
        launcherSettingsText(m_Server.url(ConfigurationDocument), ExtraOptions, ClientStartTimeout));
}

QString TLauncherStage::packageDirectory(const QString& DirectoryName) const {
    return m_pSandbox->launcherDirectory() + u"/packages/"_qs + DirectoryName;
}

QString TLauncherStage::installedExecutable(const QString& DirectoryName) const {
    return packageDirectory(DirectoryName) + u'/' + gameExecutable();
}

QString TLauncherStage::outputFile(int Index) const {
    return m_WorkDirectory.filePath(u"output-%1.txt"_qs.arg(Index));
}

std::unique_ptr<QProcess> TLauncherStage::startLauncher(const QStringList& Arguments) {
    return m_pSandbox->start(Arguments, outputFile(++m_LaunchersStarted));
}

int TLauncherStage::runLauncher(const QStringList& Arguments, int TimeoutMs) {
    const std::unique_ptr<QProcess> launcher = startLauncher(Arguments);
    if (!launcher->waitForFinished(TimeoutMs)) {
        TLauncherSandbox::stop(*launcher, SIGKILL);
        return -1;
    }
    return launcher->exitStatus() == QProcess::NormalExit ? launcher->exitCode() : -1;
}

QString TLauncherStage::launcherOutput(int Index) const {
    return QString::fromUtf8(readBytes(outputFile(Index)));
}

QString TLauncherStage::recordFile() const {
    return m_WorkDirectory.filePath(u"client-starts.jsonl"_qs);
}

QList<TClientStart> TLauncherStage::clientStarts() const {
    QList<TClientStart> starts;
    for (const QByteArray& line : readBytes(recordFile()).split('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(line).object();
        if (record.isEmpty()) {
            continue;
        }
        TClientStart start;
        for (const QJsonValue& argument : record.value(u"arguments"_qs).toArray()) {
            start.Arguments << argument.toString();
        }
        start.WorkingDirectory = record.value(u"workingDirectory"_qs).toString();
        start.LauncherRunning = record.value(u"launcherRunning"_qs).toBool();
        start.ProcessId = record.value(u"pid"_qs).toVariant().toLongLong();
        starts << start;
    }
    return starts;
}

bool TLauncherStage::endClients(int TimeoutMs) {
    const QString packages = m_pSandbox->launcherDirectory() + u"/packages/"_qs;
    for (const TClientStart& start : clientStarts()) {
        // Only a process that still runs a program installed by this stage's launcher.
        if (start.ProcessId > 0 && processExecutable(start.ProcessId).startsWith(packages)) {
            ::kill(static_cast<pid_t>(start.ProcessId), SIGTERM);
        }
    }
    return QTest::qWaitFor(
        [] { return !platform::TNamedFileMapping::exists(mirrel::launcher::ClientPresenceName); }, TimeoutMs);
}

void TLauncherStage::endLaunchersLeftBehind() {
    const QString launcherDirectory = m_pSandbox->launcherDirectory() + u'/';
    QList<qint64> left;
    for (const QString& entry : QDir(u"/proc"_qs).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isProcess = false;
        const qint64 processId = entry.toLongLong(&isProcess);
        if (isProcess && processExecutable(processId).startsWith(launcherDirectory)) {
            ::kill(static_cast<pid_t>(processId), SIGTERM);
            left << processId;
        }
    }
    const bool ended = QTest::qWaitFor(
        [&left] {
            for (const qint64 processId : left) {
                if (QFileInfo::exists(u"/proc/%1/exe"_qs.arg(processId)) &&
                    !processExecutable(processId).isEmpty()) {
                    return false;
                }
            }
            return true;
        },
        10000);
    if (!ended)
        qWarning("Programs of an earlier launcher did not end on SIGTERM");
}

} // namespace testsupport
