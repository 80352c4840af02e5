#include "publisher/publishcommand.h"

#include "publisher/bytetext.h"
#include "publisher/documentsigner.h"
#include "publisher/usageerror.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <stdexcept>

namespace publisher {

namespace {

const QStringList KnownMethods = {QStringLiteral("0"), QStringLiteral("3"), QStringLiteral("4"),
                                  QStringLiteral("5")};

bool isPlainFileName(const QString& Name) {
    return !Name.isEmpty() && Name != QLatin1String(".") && Name != QLatin1String("..") &&
           !Name.contains(QLatin1Char('/')) && !Name.contains(QLatin1Char('\\'));
}

std::runtime_error failure(const QString& Message) {
    return std::runtime_error(Message.toStdString());
}

} // namespace

TPublishCommand::TPublishCommand(std::shared_ptr<const shared::TFileSystemHelper> FileSystem,
                                 TPublishOptions PublishOptions)
    : m_pFileSystem(std::move(FileSystem))
    , Options(std::move(PublishOptions)) {
    const bool Package = Options.Document.Kind == EDocumentKind::Package;
    if (Options.DocumentName.isEmpty()) {
        Options.DocumentName = Package ? QStringLiteral("package.json") : QStringLiteral("assets.json");
    }
    if (Options.PackageDocumentName.isEmpty()) {
        Options.PackageDocumentName = QStringLiteral("package.json");
    }
    if (Options.AssetDocumentName.isEmpty()) {
        Options.AssetDocumentName = QStringLiteral("assets.json");
    }
}

TPublishCommand::~TPublishCommand() = default;

void TPublishCommand::setProgressCallback(TContentPublisher::TProgressCallback Callback) {
    ProgressCallback = std::move(Callback);
}

QString TPublishCommand::run() {
    checkOptions();
    // A key that cannot sign fails the run before any chunk is written.
    if (!Options.SignKey.isEmpty()) {
        m_pSigner = std::make_unique<TDocumentSigner>(Options.SignKey);
    }
    const bool Package = Options.Document.Kind == EDocumentKind::Package;
    TDocumentSettings DocumentSettings = Options.Document;
    DocumentSettings.ChunkIndexBase = Package ? 0 : packageChunkCount();

    TContentPublisher Publisher(
        m_pFileSystem, TContentPublisherSettings{Options.InputDirectory, Options.OutputDirectory,
                                                 Options.Method, Options.MinimumSaving, Options.Threads});
    Publisher.setProgressCallback(ProgressCallback);
    const TPublishResult Result = Publisher.publish();

    const QJsonObject Document = TPackageDocumentBuilder(DocumentSettings).build(Result, Summary);
    writeDocument(documentPath(Options.DocumentName), QJsonDocument(Document).toJson());
    const QString AssetNote = Package ? keepAssetDocumentInStep(Summary.Chunks) : QString();

    return QStringLiteral("Published %1 version %2: %3 files, %4 chunks (%5 new: %6 packed, %7 stored), "
                          "%8 before packing, %9 after, %10 new.")
               .arg(Options.DocumentName, Options.Document.Version)
               .arg(Summary.Files)
               .arg(Summary.Chunks)
               .arg(Summary.NewChunks)
               .arg(Summary.NewPacked)
               .arg(Summary.NewStored)
               .arg(byteText(Summary.UnpackedBytes), byteText(Summary.PackedBytes),
                    byteText(Summary.NewBytes)) +
           AssetNote;
}

void TPublishCommand::checkOptions() const {
    if (Options.InputDirectory.isEmpty() || Options.OutputDirectory.isEmpty()) {
        throw TUsageError(QStringLiteral("Name the build directory and the output folder."));
    }
    if (Options.Document.Version.isEmpty()) {
        throw TUsageError(QStringLiteral("--version is required."));
    }
    if (!KnownMethods.contains(QString::number(Options.Method))) {
        throw TUsageError(
            QStringLiteral("Unknown compression method %1 (known: 0, 3, 4, 5).").arg(Options.Method));
    }
    if (Options.MinimumSaving < 0.0 || Options.MinimumSaving >= 1.0) {
        throw TUsageError(QStringLiteral("The minimum saving must lie between 0 and 100 percent."));
    }
    for (const QString& Name :
         {Options.DocumentName, Options.PackageDocumentName, Options.AssetDocumentName}) {
        if (!isPlainFileName(Name)) {
            throw TUsageError(
                QStringLiteral("Document name '%1' must be a file name without folders.").arg(Name));
        }
    }
    const TDocumentSettings& Document = Options.Document;
    if (Document.Kind == EDocumentKind::Assets &&
        (!Document.Executable.isEmpty() || !Document.Parameters.isEmpty() || !Document.Generation.isEmpty() ||
         !Document.Variant.isEmpty())) {
        throw TUsageError(QStringLiteral(
            "--executable, --parameter, --generation and --variant belong to package documents only."));
    }
    if (!QFileInfo(Options.InputDirectory).isDir()) {
        throw failure(QStringLiteral("The build directory '%1' does not exist.").arg(Options.InputDirectory));
    }
    if (!Document.Executable.isEmpty() &&
        !QFileInfo(QDir(Options.InputDirectory).filePath(Document.Executable)).isFile()) {
        throw failure(QStringLiteral("The executable '%1' is not a file of the build directory '%2'.")
                          .arg(Document.Executable, Options.InputDirectory));
    }
}

QString TPublishCommand::documentPath(const QString& Name) const {
    return QDir(Options.OutputDirectory).filePath(Name);
}

int TPublishCommand::packageChunkCount() const {
    const QString Path = documentPath(Options.PackageDocumentName);
    const QByteArray PackageDocument = m_pFileSystem->readFileIfPresent(Path);
    if (PackageDocument.isEmpty()) {
        throw failure(QStringLiteral("The package document '%1' does not exist. Asset files index the chunks "
                                     "after the package document's: publish the package document first.")
                          .arg(Path));
    }
    const int Count = TPackageDocumentBuilder::chunkCount(PackageDocument);
    if (Count < 0) {
        throw failure(QStringLiteral("'%1' is not a package document.").arg(Path));
    }
    return Count;
}

QString TPublishCommand::keepAssetDocumentInStep(int PackageChunks) const {
    const QString Path = documentPath(Options.AssetDocumentName);
    if (Options.AssetDocumentName == Options.DocumentName) {
        return QString();
    }
    const QByteArray Bytes = m_pFileSystem->readFileIfPresent(Path);
    if (Bytes.isEmpty()) {
        return QString();
    }
    QJsonObject AssetDocument = QJsonDocument::fromJson(Bytes).object();
    if (AssetDocument.value(QLatin1String(ChunkIndexBaseKey)).toInt(-1) == PackageChunks) {
        return QString();
    }
    if (!TPackageDocumentBuilder::rebaseAssetDocument(AssetDocument, PackageChunks)) {
        return QStringLiteral(" Warning: %1 does not record which package chunks it follows; publish the "
                              "assets again.")
            .arg(Options.AssetDocumentName);
    }
    writeDocument(Path, QJsonDocument(AssetDocument).toJson());
    return QStringLiteral(" %1 now follows the %2 package chunks.")
        .arg(Options.AssetDocumentName)
        .arg(PackageChunks);
}

void TPublishCommand::writeDocument(const QString& Path, const QByteArray& Bytes) const {
    m_pFileSystem->writeFile(Path, Bytes);
    if (m_pSigner) {
        m_pFileSystem->writeFile(TDocumentSigner::signaturePath(Path), m_pSigner->signatureText(Bytes));
    }
}

} // namespace publisher
