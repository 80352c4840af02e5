#pragma once

#include <QString>
#include <QStringList>

namespace sampleclient {

// What a test wants to know about one start of the client: the arguments it got
// (without the program name), where it was started, and whether a launcher was
// running at that moment.
struct TStartRecord {
    QStringList Arguments;
    QString WorkingDirectory;
    bool LauncherRunning = false;
    qint64 ProcessId = 0;

    static TStartRecord ofThisProcess();
    // Appends the record as one JSON line; false when the file cannot be written.
    bool appendTo(const QString& Path) const;
};

} // namespace sampleclient
