#include "sampleclient/startrecord.h"

#include "launcher/settings/launcherconstants.h"
#include "platform/namedfilemapping.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace sampleclient {

TStartRecord TStartRecord::ofThisProcess() {
    TStartRecord Record;
    Record.Arguments = QCoreApplication::arguments().mid(1);
    Record.WorkingDirectory = QDir::currentPath();
    Record.LauncherRunning = platform::TNamedFileMapping::exists(mirrel::launcher::LauncherPresenceName);
    Record.ProcessId = QCoreApplication::applicationPid();
    return Record;
}

bool TStartRecord::appendTo(const QString& Path) const {
    const QJsonObject Object{{QStringLiteral("arguments"), QJsonArray::fromStringList(Arguments)},
                             {QStringLiteral("workingDirectory"), WorkingDirectory},
                             {QStringLiteral("launcherRunning"), LauncherRunning},
                             {QStringLiteral("pid"), ProcessId}};
    QFile File(Path);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return false;
    }
    // One line per start, written at once, so a reader never sees half a record.
    const QByteArray Line = QJsonDocument(Object).toJson(QJsonDocument::Compact) + '\n';
    return File.write(Line) == Line.size() && File.flush();
}

} // namespace sampleclient
