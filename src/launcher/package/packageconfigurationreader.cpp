#include "launcher/package/packageconfigurationreader.h"

#include "launcher/package/resolveurl.h"

#include <QDebug>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace mirrel::launcher {

namespace {

QByteArray readHash(const QJsonValue& value) {
    // Lenient: characters that are not hex digits are skipped.
    return QByteArray::fromHex(value.toString().toLatin1());
}

TFileSize readSize(const QJsonValue& value) {
    return value.toVariant().toULongLong();
}

QUrl readUrl(const QJsonValue& value, const QUrl& baseUrl) {
    const QString text = value.toString();
    return text.isEmpty() ? QUrl() : resolveUrl(baseUrl, QUrl(text));
}

TChunkInPackage readChunk(const QJsonObject& object, const QUrl& baseUrl) {
    TChunkInPackage chunk;
    chunk.Url = readUrl(object.value(QLatin1String("url")), baseUrl);
    chunk.PackedHash = readHash(object.value(QLatin1String("packedhash")));
    chunk.PackedSize = readSize(object.value(QLatin1String("packedsize")));
    chunk.UnpackedHash = readHash(object.value(QLatin1String("unpackedhash")));
    chunk.UnpackedSize = readSize(object.value(QLatin1String("unpackedsize")));
    chunk.Unpack = object.value(QLatin1String("unpack")).toBool(true);
    return chunk;
}

TPatchInPackage readPatch(const QJsonObject& object, const QUrl& baseUrl) {
    TPatchInPackage patch;
    patch.Url = readUrl(object.value(QLatin1String("url")), baseUrl);
    patch.FromVersion = object.value(QLatin1String("fromversion")).toInt();
    patch.ToVersion = object.value(QLatin1String("toversion")).toInt();
    patch.Size = object.value(QLatin1String("size")).toInt();
    return patch;
}

void appendChunks(const QJsonObject& object, const QUrl& baseUrl, TChunkInPackageVector& chunks) {
    const QJsonArray array = object.value(QLatin1String("chunks")).toArray();
    chunks.reserve(chunks.size() + static_cast<std::size_t>(array.size()));
    for (const QJsonValue& value : array) {
        chunks.push_back(readChunk(value.toObject(), baseUrl));
    }
}

QString jsonText(const QJsonValue& value) {
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// A chunk index must be a whole number that fits the index type; anything else would silently
// become some other chunk.
bool readChunkIndex(const QJsonValue& value, std::int32_t& index) {
    const double number = value.toDouble(std::numeric_limits<double>::quiet_NaN());
    if (!(number >= std::numeric_limits<std::int32_t>::min() &&
          number <= std::numeric_limits<std::int32_t>::max()) ||
        std::floor(number) != number) {
        return false;
    }
    index = static_cast<std::int32_t>(number);
    return true;
}

bool readFile(const QJsonObject& object, const QUrl& baseUrl, TFileInPackage& file) {
    file.LocalFile = object.value(QLatin1String("localfile")).toString();
    file.Hash = readHash(object.value(QLatin1String("unpackedhash")));
    file.Size = readSize(object.value(QLatin1String("unpackedsize")));
    file.Executable = object.value(QLatin1String("executable")).toBool(false);
    file.WholeFile = readChunk(object, baseUrl);

    const QJsonValue chunks = object.value(QLatin1String("chunks"));
    if (chunks.isArray()) {
        const QJsonArray array = chunks.toArray();
        file.Chunks.reserve(static_cast<std::size_t>(array.size()));
        for (const QJsonValue& value : array) {
            std::int32_t index = 0;
            if (!readChunkIndex(value, index)) {
                qCritical().noquote()
                    << "Package configuration rejected: file" << file.LocalFile << "names the chunk index"
                    << jsonText(value) << "which is not an index of the chunk table.";
                return false;
            }
            file.Chunks.push_back(index);
        }
    }

    const QJsonValue patches = object.value(QLatin1String("patches"));
    if (patches.isArray()) {
        for (const QJsonValue& value : patches.toArray()) {
            file.Patches.push_back(readPatch(value.toObject(), baseUrl));
        }
    }
    return true;
}

EPackageGeneration generationFromName(const QString& name) {
    if (name == QLatin1String("first")) {
        return EPackageGeneration::First;
    }
    if (name == QLatin1String("second")) {
        return EPackageGeneration::Second;
    }
    return EPackageGeneration::Unknown;
}

EPackageVariant variantFromName(const QString& name) {
    if (name == QLatin1String("regular")) {
        return EPackageVariant::Regular;
    }
    if (name == QLatin1String("preview")) {
        return EPackageVariant::Preview;
    }
    if (name == QLatin1String("beta")) {
        return EPackageVariant::Beta;
    }
    if (name == QLatin1String("test")) {
        return EPackageVariant::Test;
    }
    return EPackageVariant::Unknown;
}

// What a document lacks to describe a package (see incompleteness()); empty when nothing, and for
// text that is no JSON at all, which the parser reports. The asset document may give its version
// as a number.
QString missingPart(const QByteArray& text, bool numericVersion) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        return QString();
    }
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(QLatin1String("version"));
    if (!document.isObject()) {
        return QStringLiteral("is not a JSON object");
    }
    if (!((numericVersion && version.isDouble()) || (version.isString() && !version.toString().isEmpty()))) {
        return QStringLiteral("has no version");
    }
    if (!object.value(QLatin1String("files")).isArray()) {
        return QStringLiteral("has no file list");
    }
    if (!object.value(QLatin1String("chunks")).isArray()) {
        return QStringLiteral("has no chunk table");
    }
    return QString();
}

} // namespace

TPackageConfigurationReader::TPackageConfigurationReader(const QByteArray& packageDocument,
                                                         const QByteArray& assetDocument,
                                                         const QUrl& packageBaseUrl, const QUrl& assetBaseUrl)
    : PackageBaseUrl(packageBaseUrl)
    , AssetBaseUrl(assetBaseUrl)
    , RawPackageDocument(packageDocument)
    , RawAssetDocument(assetDocument) {
    if (parse()) {
        Valid = true;
    } else {
        clearContent();
    }
}

QString TPackageConfigurationReader::incompleteness(const QByteArray& packageDocument,
                                                    const QByteArray& assetDocument) {
    const QString package = missingPart(packageDocument, false);
    if (!package.isEmpty()) {
        return QStringLiteral("the package document ") + package;
    }
    const QString asset = assetDocument.isEmpty() ? QString() : missingPart(assetDocument, true);
    return asset.isEmpty() ? QString() : QStringLiteral("the asset document ") + asset;
}

bool TPackageConfigurationReader::parse() {
    QJsonParseError error;
    const QJsonDocument packageDocument = QJsonDocument::fromJson(RawPackageDocument, &error);
    if (error.error != QJsonParseError::NoError) {
        qCritical().noquote()
            << "JSON package configuration file could not be parsed, using default package.";
        return false;
    }
    QJsonDocument assetDocument;
    if (!RawAssetDocument.isEmpty()) {
        assetDocument = QJsonDocument::fromJson(RawAssetDocument, &error);
        if (error.error != QJsonParseError::NoError) {
            qCritical().noquote()
                << "JSON asset configuration file could not be parsed, using default package.";
            return false;
        }
    }

    const QJsonObject packageObject = packageDocument.object();
    readPackageObject(packageObject);
    if (!readFiles(packageObject, PackageBaseUrl)) {
        return false;
    }
    Parameters.clear();
    for (const QJsonValue& value : packageObject.value(QLatin1String("parameters")).toArray()) {
        Parameters.append(value.toString());
    }
    if (assetDocument.isObject() && !readAssetObject(assetDocument.object())) {
        return false;
    }

    std::stable_sort(Files.begin(), Files.end(), [](const TFileInPackage& left, const TFileInPackage& right) {
        return left.LocalFile < right.LocalFile;
    });
    markProgramExecutable();
    return allChunkIndicesInsideTable();
}

void TPackageConfigurationReader::readPackageObject(const QJsonObject& object) {
    PackageVersion = object.value(QLatin1String("version")).toString();
    Executable = object.value(QLatin1String("executable")).toString();
    Generation = generationFromName(object.value(QLatin1String("generation")).toString());
    Variant = variantFromName(object.value(QLatin1String("variant")).toString());
    appendChunks(object, PackageBaseUrl, Chunks);
}

bool TPackageConfigurationReader::readAssetObject(const QJsonObject& object) {
    const QJsonValue version = object.value(QLatin1String("version"));
    AssetVersion = version.isDouble() ? QString::number(version.toInt()) : version.toString();
    appendChunks(object, AssetBaseUrl, Chunks);
    return readFiles(object, AssetBaseUrl);
}

bool TPackageConfigurationReader::readFiles(const QJsonObject& object, const QUrl& baseUrl) {
    const QJsonArray array = object.value(QLatin1String("files")).toArray();
    Files.reserve(Files.size() + static_cast<std::size_t>(array.size()));
    for (const QJsonValue& value : array) {
        TFileInPackage file;
        if (!readFile(value.toObject(), baseUrl, file)) {
            return false;
        }
        Files.push_back(std::move(file));
    }
    return true;
}

void TPackageConfigurationReader::markProgramExecutable() {
    // The program the document names is started; a record that forgot its flag must not install
    // it as a file that cannot run.
    if (Executable.isEmpty()) {
        return;
    }
    const QString program = QDir::cleanPath(Executable);
    for (TFileInPackage& file : Files) {
        if (QDir::cleanPath(file.LocalFile) == program) {
            file.Executable = true;
        }
    }
}

bool TPackageConfigurationReader::allChunkIndicesInsideTable() const {
    const std::size_t tableSize = Chunks.size();
    for (const TFileInPackage& file : Files) {
        for (const std::int32_t index : file.Chunks) {
            if (index < 0 || static_cast<std::size_t>(index) >= tableSize) {
                qCritical().noquote()
                    << "Package configuration rejected: file" << file.LocalFile << "names the chunk index"
                    << index << "outside the chunk table of" << tableSize << "chunks.";
                return false;
            }
        }
    }
    return true;
}

void TPackageConfigurationReader::clearContent() {
    PackageVersion.clear();
    AssetVersion.clear();
    Generation = EPackageGeneration::Unknown;
    Variant = EPackageVariant::Unknown;
    Executable.clear();
    Parameters.clear();
    Chunks = TChunkInPackageVector();
    Files = TFileInPackageVector();
    Valid = false;
}

} // namespace mirrel::launcher
