#include "publisher/commandline.h"
#include "publisher/configurecommand.h"
#include "publisher/progressreporter.h"
#include "publisher/publishcommand.h"
#include "publisher/signcommand.h"
#include "publisher/usageerror.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

namespace {

int usageFailure(const char* Message) {
    std::fprintf(stderr, "vantor-publisher: %s\nRun 'vantor-publisher --help' for usage.\n", Message);
    return 2;
}

int runCommand(const publisher::TParsedCommandLine& Parsed) {
    using namespace publisher;
    const auto FileSystem = std::make_shared<shared::TFileSystemHelper>();
    TProgressReporter Progress(stderr, Parsed.ShowProgress && TProgressReporter::isTerminal(stderr));
    try {
        QString Summary;
        if (Parsed.Command == ECommand::Publish) {
            TPublishCommand Command(FileSystem, Parsed.Publish);
            Command.setProgressCallback(
                [&Progress](quint64 Done, quint64 Total) { Progress.update(Done, Total); });
            Summary = Command.run();
        } else if (Parsed.Command == ECommand::Sign) {
            Summary = TSignCommand(FileSystem, Parsed.Sign).sign();
        } else if (Parsed.Command == ECommand::PublicKey) {
            Summary = TSignCommand(FileSystem, Parsed.Sign).publicKey();
        } else {
            Summary = TConfigureCommand(FileSystem, Parsed.Configure).run();
        }
        Progress.finish();
        std::printf("%s\n", Summary.toLocal8Bit().constData());
        return 0;
    } catch (const TUsageError& Error) {
        Progress.finish();
        return usageFailure(Error.what());
    } catch (const std::exception& Error) {
        Progress.finish();
        std::fprintf(stderr, "vantor-publisher: %s\n", Error.what());
        return 1;
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication Application(argc, argv);
    publisher::TParsedCommandLine Parsed;
    try {
        Parsed = publisher::TCommandLine::parse(QCoreApplication::arguments());
    } catch (const publisher::TUsageError& Error) {
        return usageFailure(Error.what());
    }
    if (Parsed.Command == publisher::ECommand::Help) {
        std::printf("%s", Parsed.HelpText.toLocal8Bit().constData());
        return 0;
    }
    return runCommand(Parsed);
}
