#include "publisher/configurecommand.h"

#include "publisher/documentsigner.h"
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
    // The key is read before anything is written, so a bad key leaves no unsigned document behind.
    const std::unique_ptr<TDocumentSigner> Signer =
        Options.SignKey.isEmpty() ? nullptr : std::make_unique<TDocumentSigner>(Options.SignKey);
    const QByteArray Bytes = QJsonDocument(Document).toJson();
    m_pFileSystem->writeFile(Options.OutputFile, Bytes);
    if (Signer) {
        m_pFileSystem->writeFile(TDocumentSigner::signaturePath(Options.OutputFile),
                                 Signer->signatureText(Bytes));
    }
    return QStringLiteral("Wrote %1: %2 packages%3.")
        .arg(Options.OutputFile)
        .arg(Options.Settings.Packages.size())
        .arg(Options.Settings.Launcher ? QStringLiteral(" and the launcher package") : QString());
}

} // namespace publisher
