#pragma once

#include <QtGlobal>

class QMessageLogContext;
class QString;

namespace mirrel::launcher {

// Routes every Qt message of the process into the executable's file name plus
// ".log" beside the executable; when that file cannot be opened (a folder the
// player cannot write to), into the same name in "$XDG_STATE_HOME/<executable>/"
// (~/.local/state without XDG_STATE_HOME), with a first line that says why.
// Never throws: a failure is reported as a warning and the launcher runs on
// without a log file.
void setupLogging();

// The same, into the given file; the launcher uses the path beside its executable.
void setupLogging(const QString& logFilePath);

// Qt message handler writing one whole line per message:
// "yyyy-MM-dd hh:mm:ss (file:line) Kind: message", the file being the source
// file's name without its folders. A fatal message aborts the process without
// writing.
void logMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// The current thread's id as operation log lines end with it (" Thread: " + id).
QString currentThreadIdText();

} // namespace mirrel::launcher
