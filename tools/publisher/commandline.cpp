#include "publisher/commandline.h"

#include "publisher/usageerror.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace publisher {

namespace {

const QStringList Generations = {QStringLiteral("first"), QStringLiteral("second")};
const QStringList Variants = {QStringLiteral("regular"), QStringLiteral("preview"), QStringLiteral("beta"),
                              QStringLiteral("test")};

QCommandLineOption valueOption(const QString& Name, const QString& ValueName) {
    return QCommandLineOption(Name, QString(), ValueName);
}

QCommandLineOption signKeyOption() {
    return valueOption(QStringLiteral("sign-key"), QStringLiteral("key.pem"));
}

QCommandLineOption helpOption() {
    return QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
}

void parseOrThrow(QCommandLineParser& Parser, const QStringList& Arguments) {
    Parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!Parser.parse(Arguments)) {
        throw TUsageError(Parser.errorText());
    }
}

QString oneOf(const QCommandLineParser& Parser, const QString& Name, const QStringList& Allowed) {
    const QString Value = Parser.value(Name);
    if (!Value.isEmpty() && !Allowed.contains(Value)) {
        throw TUsageError(QStringLiteral("--%1 must be one of %2, not '%3'.")
                              .arg(Name, Allowed.join(QStringLiteral(", ")), Value));
    }
    return Value;
}

int integerOption(const QCommandLineParser& Parser, const QString& Name, int Default, int Minimum) {
    if (!Parser.isSet(Name)) {
        return Default;
    }
    bool Ok = false;
    const int Value = Parser.value(Name).toInt(&Ok);
    if (!Ok || Value < Minimum) {
        throw TUsageError(QStringLiteral("--%1 needs a whole number of at least %2, not '%3'.")
                              .arg(Name)
                              .arg(Minimum)
                              .arg(Parser.value(Name)));
    }
    return Value;
}

} // namespace

TParsedCommandLine TCommandLine::parse(const QStringList& Arguments) {
    const QString Command = Arguments.value(1);
    const QStringList Rest = Arguments.mid(0, 1) + Arguments.mid(2);
    if (Command == QLatin1String("publish")) {
        return parsePublish(Rest);
    }
    if (Command == QLatin1String("configure")) {
        return parseConfigure(Rest);
    }
    if (Command == QLatin1String("sign")) {
        return parseSign(Rest, ECommand::Sign);
    }
    if (Command == QLatin1String("public-key")) {
        return parseSign(Rest, ECommand::PublicKey);
    }
    if (Command.isEmpty() || Command == QLatin1String("help") || Command == QLatin1String("--help") ||
        Command == QLatin1String("-h")) {
        TParsedCommandLine Parsed;
        Parsed.HelpText = generalHelp();
        return Parsed;
    }
    throw TUsageError(
        QStringLiteral("Unknown command '%1' (known: publish, configure, sign, public-key).").arg(Command));
}

TParsedCommandLine TCommandLine::parsePublish(const QStringList& Arguments) {
    QCommandLineParser Parser;
    Parser.addOptions({helpOption(), valueOption(QStringLiteral("version"), QStringLiteral("text")),
                       valueOption(QStringLiteral("document"), QStringLiteral("kind")),
                       valueOption(QStringLiteral("name"), QStringLiteral("file")),
                       valueOption(QStringLiteral("package-document"), QStringLiteral("file")),
                       valueOption(QStringLiteral("assets-document"), QStringLiteral("file")),
                       valueOption(QStringLiteral("executable"), QStringLiteral("path")),
                       valueOption(QStringLiteral("parameter"), QStringLiteral("argument")),
                       valueOption(QStringLiteral("generation"), QStringLiteral("generation")),
                       valueOption(QStringLiteral("variant"), QStringLiteral("variant")),
                       valueOption(QStringLiteral("method"), QStringLiteral("id")),
                       valueOption(QStringLiteral("minimum-saving"), QStringLiteral("percent")),
                       valueOption(QStringLiteral("threads"), QStringLiteral("count")), signKeyOption(),
                       QCommandLineOption(QStringLiteral("no-progress"))});
    parseOrThrow(Parser, Arguments);
    TParsedCommandLine Parsed;
    if (Parser.isSet(QStringLiteral("help"))) {
        Parsed.HelpText = publishHelp();
        return Parsed;
    }
    const QStringList Positional = Parser.positionalArguments();
    if (Positional.size() != 2) {
        throw TUsageError(QStringLiteral("publish needs the build directory and the output folder."));
    }
    Parsed.Command = ECommand::Publish;
    Parsed.ShowProgress = !Parser.isSet(QStringLiteral("no-progress"));
    TPublishOptions& Options = Parsed.Publish;
    Options.InputDirectory = Positional.at(0);
    Options.OutputDirectory = Positional.at(1);
    const QString Kind =
        oneOf(Parser, QStringLiteral("document"), {QStringLiteral("package"), QStringLiteral("assets")});
    Options.Document.Kind = Kind == QLatin1String("assets") ? EDocumentKind::Assets : EDocumentKind::Package;
    Options.Document.Version = Parser.value(QStringLiteral("version"));
    Options.Document.Executable = Parser.value(QStringLiteral("executable"));
    Options.Document.Parameters = Parser.values(QStringLiteral("parameter"));
    Options.Document.Generation = oneOf(Parser, QStringLiteral("generation"), Generations);
    Options.Document.Variant = oneOf(Parser, QStringLiteral("variant"), Variants);
    Options.DocumentName = Parser.value(QStringLiteral("name"));
    Options.PackageDocumentName = Parser.value(QStringLiteral("package-document"));
    Options.AssetDocumentName = Parser.value(QStringLiteral("assets-document"));
    Options.Method = integerOption(Parser, QStringLiteral("method"), 5, 0);
    Options.MinimumSaving = integerOption(Parser, QStringLiteral("minimum-saving"), 3, 0) / 100.0;
    Options.Threads = integerOption(Parser, QStringLiteral("threads"), 0, 1);
    Options.SignKey = Parser.value(QStringLiteral("sign-key"));
    return Parsed;
}

TParsedCommandLine TCommandLine::parseConfigure(const QStringList& Arguments) {
    QCommandLineParser Parser;
    Parser.addOptions({helpOption(), valueOption(QStringLiteral("launcher"), QStringLiteral("package")),
                       valueOption(QStringLiteral("package"), QStringLiteral("package")),
                       valueOption(QStringLiteral("hints"), QStringLiteral("url")),
                       valueOption(QStringLiteral("funnel"), QStringLiteral("url")),
                       valueOption(QStringLiteral("hardware-survey"), QStringLiteral("url")),
                       valueOption(QStringLiteral("expires"), QStringLiteral("time")), signKeyOption(),
                       QCommandLineOption(QStringLiteral("prevent-default-autostart")),
                       QCommandLineOption(QStringLiteral("show-package-names"))});
    parseOrThrow(Parser, Arguments);
    TParsedCommandLine Parsed;
    if (Parser.isSet(QStringLiteral("help"))) {
        Parsed.HelpText = configureHelp();
        return Parsed;
    }
    const QStringList Positional = Parser.positionalArguments();
    if (Positional.size() != 1) {
        throw TUsageError(QStringLiteral("configure needs the configuration file to write."));
    }
    Parsed.Command = ECommand::Configure;
    TConfigureOptions& Options = Parsed.Configure;
    Options.OutputFile = Positional.at(0);
    if (Parser.isSet(QStringLiteral("launcher"))) {
        Options.Settings.Launcher =
            TLauncherConfigurationBuilder::parsePackageEntry(Parser.value(QStringLiteral("launcher")));
    }
    for (const QString& Package : Parser.values(QStringLiteral("package"))) {
        Options.Settings.Packages.push_back(TLauncherConfigurationBuilder::parsePackageEntry(Package));
    }
    Options.Settings.HintsUrl = Parser.value(QStringLiteral("hints"));
    Options.Settings.FunnelUrl = Parser.value(QStringLiteral("funnel"));
    Options.Settings.HardwareSurveyUrl = Parser.value(QStringLiteral("hardware-survey"));
    Options.Settings.PreventDefaultAutostart = Parser.isSet(QStringLiteral("prevent-default-autostart"));
    Options.Settings.ShowPackageNames = Parser.isSet(QStringLiteral("show-package-names"));
    Options.Settings.Expires = Parser.value(QStringLiteral("expires"));
    Options.SignKey = Parser.value(QStringLiteral("sign-key"));
    return Parsed;
}

TParsedCommandLine TCommandLine::parseSign(const QStringList& Arguments, ECommand Command) {
    QCommandLineParser Parser;
    Parser.addOptions({helpOption(), signKeyOption()});
    parseOrThrow(Parser, Arguments);
    TParsedCommandLine Parsed;
    if (Parser.isSet(QStringLiteral("help"))) {
        Parsed.HelpText = signHelp();
        return Parsed;
    }
    if (!Parser.isSet(QStringLiteral("sign-key"))) {
        throw TUsageError(QStringLiteral("--sign-key names the private key file."));
    }
    const QStringList Positional = Parser.positionalArguments();
    if (Command == ECommand::Sign && Positional.isEmpty()) {
        throw TUsageError(QStringLiteral("sign needs the documents to sign."));
    }
    if (Command == ECommand::PublicKey && !Positional.isEmpty()) {
        throw TUsageError(QStringLiteral("public-key takes no documents."));
    }
    Parsed.Command = Command;
    Parsed.Sign.KeyFile = Parser.value(QStringLiteral("sign-key"));
    Parsed.Sign.Documents = Positional;
    return Parsed;
}

QString TCommandLine::generalHelp() {
    return QStringLiteral(
        "Usage: vantor-publisher <command> [options]\n"
        "\n"
        "Turns client builds into what the Vantor Online launcher downloads.\n"
        "\n"
        "Commands:\n"
        "  publish    Chunk a build directory into a CDN folder and write its package or asset document.\n"
        "  configure  Write the launcher configuration document that lists the packages.\n"
        "  sign       Sign documents written by hand (writes <document>.sig beside each).\n"
        "  public-key Print the public key a launcher needs to trust the signed documents.\n"
        "\n"
        "Signed documents: with --sign-key <key.pem>, publish and configure write a detached\n"
        "Ed25519 signature <document>.sig beside every document they write. A launcher whose\n"
        "launchersettings.ini holds the public half of the key then installs nothing from a\n"
        "document whose signature is missing or wrong:\n"
        "  openssl genpkey -algorithm ed25519 -out key.pem      (keep key.pem private)\n"
        "  openssl pkey -in key.pem -pubout -outform DER | tail -c 32 | base64\n"
        "    (or: vantor-publisher public-key --sign-key key.pem)\n"
        "and in launchersettings.ini:\n"
        "  [SECURITY]\n"
        "  publicKey=<that base64 text>\n"
        "\n"
        "Run 'vantor-publisher <command> --help' for the options of a command.\n");
}

QString TCommandLine::publishHelp() {
    return QStringLiteral(
        "Usage: vantor-publisher publish [options] <build-directory> <output-folder>\n"
        "\n"
        "Cuts every file of <build-directory> into content-defined chunks, packs each chunk and\n"
        "stores it under <output-folder>/chunks/, named by the SHA-256 of its content (chunks\n"
        "that are already there, from an earlier version, are reused), then writes the document\n"
        "<output-folder>/<name> with addresses relative to that folder. Publish every version of\n"
        "a build into the same output folder so that unchanged chunks are stored only once.\n"
        "\n"
        "Options:\n"
        "  --version <text>          Version written into the document (required).\n"
        "  --document package|assets Which document to write (default: package).\n"
        "  --name <file>             Document file name (default: package.json or assets.json).\n"
        "  --package-document <file> For assets: the package document in the output folder whose\n"
        "                            chunks the asset chunks follow (default: package.json).\n"
        "  --assets-document <file>  For packages: an asset document in the output folder to keep\n"
        "                            in step with the new package document (default: assets.json).\n"
        "  --executable <path>       The client's start file, relative to the build directory.\n"
        "  --parameter <argument>    A client command-line argument; repeat for more.\n"
        "  --generation first|second\n"
        "  --variant regular|preview|beta|test\n"
        "  --method 0|3|4|5          Packing: 0 stored, 3 DEFLATE, 4 lzip, 5 LZMA (default: 5).\n"
        "  --minimum-saving <percent> A chunk stays packed only when packing saves at least this\n"
        "                            much; otherwise it is stored unpacked (default: 3).\n"
        "  --threads <count>         Worker threads (default: one per processor).\n"
        "  --sign-key <key.pem>      Sign the documents written (<document>.sig beside each).\n"
        "  --no-progress             No progress bar, even on a terminal.\n"
        "  -h, --help                Show this help.\n"
        "\n"
        "A file's execute bit becomes its \"executable\" flag. The summary line goes to standard\n"
        "output; errors go to standard error with exit code 1 (2 for a bad command line).\n");
}

QString TCommandLine::configureHelp() {
    return QStringLiteral(
        "Usage: vantor-publisher configure [options] <output-file>\n"
        "\n"
        "Writes the launcher configuration document.\n"
        "\n"
        "Options:\n"
        "  --package <package>       A client package, in display order; repeat for more.\n"
        "  --launcher <package>      The launcher's own package (for its self-update).\n"
        "  --hints <url>             Address of the hints document.\n"
        "  --funnel <url>            Address the funnel events are posted to.\n"
        "  --hardware-survey <url>   Address the hardware survey is posted to.\n"
        "  --prevent-default-autostart  Never start the default package after updates.\n"
        "  --show-package-names      The launcher window shows package names.\n"
        "  --expires <time>          UTC time (2027-01-31T00:00:00Z) after which a launcher that\n"
        "                            checks signatures refuses this configuration: publish a new\n"
        "                            one before then, so an old one cannot be replayed for ever.\n"
        "  --sign-key <key.pem>      Sign the document (<output-file>.sig beside it).\n"
        "  -h, --help                Show this help.\n"
        "\n"
        "A package is written as fields separated by ';':\n"
        "  name=<text>;directoryname=<folder>[;logolinktarget=<url>][;installautomatically=true]\n"
        "  ;build=<os>,<architecture>,<package document url>[,<asset document url>]\n"
        "with one build= field per build (os: windows, macos, linux; architecture: i386, x86_64).\n"
        "Document addresses may be relative to the configuration document's folder.\n"
        "\n"
        "Example:\n"
        "  vantor-publisher configure cdn/launcher.json \\\n"
        "    --package 'name=Vantor Online;directoryname=vantor;build=linux,x86_64,vantor/linux/package.json,"
        "vantor/linux/assets.json'\n");
}

QString TCommandLine::signHelp() {
    return QStringLiteral(
        "Usage: vantor-publisher sign --sign-key <key.pem> <document>...\n"
        "       vantor-publisher public-key --sign-key <key.pem>\n"
        "\n"
        "sign writes <document>.sig, the base64 Ed25519 signature over the document's exact bytes,\n"
        "beside every document; sign again after every change. public-key prints the value of\n"
        "\"[SECURITY] publicKey\" in launchersettings.ini that makes a launcher trust these\n"
        "signatures (the same as: openssl pkey -in key.pem -pubout -outform DER | tail -c 32 | base64).\n"
        "Make a key with: openssl genpkey -algorithm ed25519 -out key.pem\n");
}

} // namespace publisher
