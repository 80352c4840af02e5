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
    if (Command.isEmpty() || Command == QLatin1String("help") || Command == QLatin1String("--help") ||
        Command == QLatin1String("-h")) {
        TParsedCommandLine Parsed;
        Parsed.HelpText = generalHelp();
        return Parsed;
    }
    throw TUsageError(QStringLiteral("Unknown command '%1' (known: publish, configure).").arg(Command));
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
                       valueOption(QStringLiteral("threads"), QStringLiteral("count")),
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
    return Parsed;
}

TParsedCommandLine TCommandLine::parseConfigure(const QStringList& Arguments) {
    QCommandLineParser Parser;
    Parser.addOptions({helpOption(), valueOption(QStringLiteral("launcher"), QStringLiteral("package")),
                       valueOption(QStringLiteral("package"), QStringLiteral("package")),
                       valueOption(QStringLiteral("hints"), QStringLiteral("url")),
                       valueOption(QStringLiteral("funnel"), QStringLiteral("url")),
                       valueOption(QStringLiteral("hardware-survey"), QStringLiteral("url")),
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

} // namespace publisher
