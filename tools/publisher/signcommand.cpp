#include "publisher/signcommand.h"

#include "publisher/documentsigner.h"
#include "publisher/usageerror.h"
#include "shared/filesystemhelper/filesystemhelper.h"

namespace publisher {

TSignCommand::TSignCommand(std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                           TSignOptions SignOptions)
    : m_pFileSystem(std::move(FileSystem))
    , Options(std::move(SignOptions)) {}

QString TSignCommand::sign() const {
    if (Options.Documents.isEmpty()) {
        throw TUsageError(QStringLiteral("sign needs the documents to sign."));
    }
    const TDocumentSigner Signer(Options.KeyFile);
    for (const QString& Document : Options.Documents) {
        Signer.signFile(*m_pFileSystem, Document);
    }
    return QStringLiteral("Signed %1 documents.").arg(Options.Documents.size());
}

QString TSignCommand::publicKey() const {
    return TDocumentSigner(Options.KeyFile).publicKeyText();
}

} // namespace publisher
