#include "publisher/configurecommand.h"

#include "publisher/usageerror.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace publisher {

TConfigureCommand::TConfigureCommand(std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                                     TConfigureOptions ConfigureOptions)
    : m_pFileSystem(std::move(FileSystem))
    , Options(std::move(ConfigureOptions)) {}

QString TConfigureCommand::run() const {
    if (Options.OutputFile.isEmpty()) {
        throw TUsageError(QStringLiteral("Name the configuration file to write."));
    }
    const QJsonObject Document = TLauncherConfigurationBuilder::build(Options.Settings);
    m_pFileSystem->writeFile(Options.OutputFile, QJsonDocument(Document).toJson());
    return QStringLiteral("Wrote %1: %2 packages%3.")
        .arg(Options.OutputFile)
        .arg(Options.Settings.Packages.size())
        .arg(Options.Settings.Launcher ? QStringLiteral(" and the launcher package") : QString());
}

} // namespace publisher
