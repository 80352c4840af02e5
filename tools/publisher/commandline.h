#pragma once

#include "publisher/configurecommand.h"
#include "publisher/publishcommand.h"
#include "publisher/signcommand.h"

#include <QString>
#include <QStringList>

namespace publisher {

enum class ECommand { Help, Publish, Configure, Sign, PublicKey };

struct TParsedCommandLine {
    ECommand Command = ECommand::Help;
    QString HelpText;
    bool ShowProgress = true;
    TPublishOptions Publish;
    TConfigureOptions Configure;
    TSignOptions Sign;
};

// The publisher's command line: "publish" a build directory, "configure" the
// launcher configuration document, "sign" documents or print the "public-key"
// of a signing key. Throws TUsageError for anything it
// cannot act on.
class TCommandLine {
public:
    static TParsedCommandLine parse(const QStringList& Arguments);

    static QString generalHelp();
    static QString publishHelp();
    static QString configureHelp();
    static QString signHelp();

private:
    static TParsedCommandLine parsePublish(const QStringList& Arguments);
    static TParsedCommandLine parseConfigure(const QStringList& Arguments);
    static TParsedCommandLine parseSign(const QStringList& Arguments, ECommand Command);
};

} // namespace publisher
