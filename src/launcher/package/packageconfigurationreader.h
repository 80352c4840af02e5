#pragma once

#include "launcher/package/chunkinpackage.h"
#include "launcher/package/fileinpackage.h"
#include "launcher/package/packagetypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

class QJsonObject;

namespace mirrel::launcher {

// The parsed pair of package document ("package.json") and asset document ("assets.json") of one
// build, downloaded or read back from an installation directory. A reader that is not valid is
// still usable: its lists and versions are empty.
class TPackageConfigurationReader {
public:
    TPackageConfigurationReader() = default;
    // Parses at once. An empty asset document is no error. Relative addresses in each document are
    // resolved against the base URL of that document (its directory).
    TPackageConfigurationReader(const QByteArray& packageDocument, const QByteArray& assetDocument,
                                const QUrl& packageBaseUrl, const QUrl& assetBaseUrl);

    // Why the documents cannot describe a package to install ("the package document has no
    // version", no file list, no chunk table, or the same of the asset document); empty when they
    // can. Parsing stays lenient so that installed markers always read; whatever is offered for
    // installation must pass this, or an update to it would delete every installed file.
    static QString incompleteness(const QByteArray& packageDocument, const QByteArray& assetDocument);

    bool isValid() const { return Valid; }
    const QUrl& packageBaseUrl() const { return PackageBaseUrl; }
    const QUrl& assetBaseUrl() const { return AssetBaseUrl; }
    const QString& packageVersion() const { return PackageVersion; }
    const QString& assetVersion() const { return AssetVersion; }
    EPackageGeneration generation() const { return Generation; }
    EPackageVariant variant() const { return Variant; }
    // The client's start file, relative to the installation directory.
    const QString& executable() const { return Executable; }
    const QStringList& parameters() const { return Parameters; }
    // The package document's chunks followed by the asset document's.
    const TChunkInPackageVector& chunks() const { return Chunks; }
    // Files of both documents, sorted by local file (UTF-16 code-unit order, case-sensitive).
    const TFileInPackageVector& files() const { return Files; }
    // The documents exactly as given, to be written out as installation markers.
    const QByteArray& rawPackageDocument() const { return RawPackageDocument; }
    const QByteArray& rawAssetDocument() const { return RawAssetDocument; }

private:
    bool parse();
    void readPackageObject(const QJsonObject& object);
    bool readAssetObject(const QJsonObject& object);
    bool readFiles(const QJsonObject& object, const QUrl& baseUrl);
    // The file the document names as its "executable" is executable, whatever its record says.
    void markProgramExecutable();
    bool allChunkIndicesInsideTable() const;
    void clearContent();

    QUrl PackageBaseUrl;
    QUrl AssetBaseUrl;
    QString PackageVersion;
    QString AssetVersion;
    EPackageGeneration Generation = EPackageGeneration::Unknown;
    EPackageVariant Variant = EPackageVariant::Unknown;
    QString Executable;
    QStringList Parameters;
    TChunkInPackageVector Chunks;
    TFileInPackageVector Files;
    QByteArray RawPackageDocument;
    QByteArray RawAssetDocument;
    bool Valid = false;
};

} // namespace mirrel::launcher
