#pragma once

#include "publisher/configurecommand.h"
#include "publisher/publishcommand.h"

#include <QString>
#include <QStringList>

namespace publisher {

enum class ECommand { Help, Publish, Configure };

struct TParsedCommandLine {
    ECommand Command = ECommand::Help;
    QString HelpText;
    bool ShowProgress = true;
    TPublishOptions Publish;
    TConfigureOptions Configure;
};

// The publisher's command line: "publish" a build directory, or "configure"
// the launcher configuration document. Throws TUsageError for anything it
// cannot act on.
class TCommandLine {
public:
    static TParsedCommandLine parse(const QStringList& Arguments);

    static QString generalHelp();
    static QString publishHelp();
    static QString configureHelp();

private:
    static TParsedCommandLine parsePublish(const QStringList& Arguments);
    static TParsedCommandLine parseConfigure(const QStringList& Arguments);
};

} // namespace publisher
