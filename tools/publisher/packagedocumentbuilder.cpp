#include "publisher/packagedocumentbuilder.h"

#include "publisher/contentpublisher.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace publisher {

namespace {

QString hex(const QByteArray& Hash) {
    return QString::fromLatin1(Hash.toHex());
}

void writePiece(QJsonObject& Object, const TStoredPiece& Piece) {
    Object.insert(QStringLiteral("url"), Piece.Url);
    Object.insert(QStringLiteral("packedhash"), hex(Piece.PackedHash));
    Object.insert(QStringLiteral("packedsize"), static_cast<double>(Piece.PackedSize));
    Object.insert(QStringLiteral("unpack"), Piece.Unpack);
}

QJsonObject chunkObject(const QByteArray& Hash, const TPublishedChunk& Chunk) {
    QJsonObject Object;
    writePiece(Object, Chunk.Piece);
    Object.insert(QStringLiteral("unpackedhash"), hex(Hash));
    Object.insert(QStringLiteral("unpackedsize"), static_cast<double>(Chunk.UnpackedSize));
    return Object;
}

} // namespace

TPackageDocumentBuilder::TPackageDocumentBuilder(TDocumentSettings DocumentSettings)
    : Settings(std::move(DocumentSettings)) {}

QJsonObject TPackageDocumentBuilder::build(const TPublishResult& Result, TPublishSummary& Summary) const {
    Summary = TPublishSummary();
    std::map<QByteArray, int> TableIndex;
    QJsonArray Chunks;
    QJsonArray Files;
    for (const TPublishedFile& File : Result.Files) {
        QJsonObject FileObject;
        FileObject.insert(QStringLiteral("localfile"), File.LocalFile);
        FileObject.insert(QStringLiteral("unpackedhash"), hex(File.Hash));
        FileObject.insert(QStringLiteral("unpackedsize"), static_cast<double>(File.Size));
        FileObject.insert(QStringLiteral("executable"), File.Executable);
        QJsonArray Indices;
        for (const QByteArray& Hash : File.ChunkHashes) {
            const auto [Entry, Added] = TableIndex.emplace(Hash, Settings.ChunkIndexBase + Chunks.size());
            if (Added) {
                const TPublishedChunk& Chunk = Result.Chunks.at(Hash);
                Chunks.append(chunkObject(Hash, Chunk));
                Summary.UnpackedBytes += Chunk.UnpackedSize;
                Summary.PackedBytes += Chunk.Piece.PackedSize;
                if (Chunk.New) {
                    ++Summary.NewChunks;
                    ++(Chunk.Method == 0 ? Summary.NewStored : Summary.NewPacked);
                    Summary.NewBytes += Chunk.Piece.PackedSize;
                }
            }
            Indices.append(Entry->second);
        }
        FileObject.insert(QStringLiteral("chunks"), Indices);
        if (File.ChunkHashes.size() == 1) {
            writePiece(FileObject, Result.Chunks.at(File.ChunkHashes.front()).Piece);
        } else if (File.ChunkHashes.empty() && Result.EmptyPiece) {
            writePiece(FileObject, *Result.EmptyPiece);
        }
        Files.append(FileObject);
    }
    Summary.Files = static_cast<int>(Result.Files.size());
    Summary.Chunks = Chunks.size();

    QJsonObject Document;
    Document.insert(QStringLiteral("version"), Settings.Version);
    Document.insert(QStringLiteral("chunks"), Chunks);
    Document.insert(QStringLiteral("files"), Files);
    if (Settings.Kind == EDocumentKind::Assets) {
        Document.insert(QLatin1String(ChunkIndexBaseKey), Settings.ChunkIndexBase);
        return Document;
    }
    Document.insert(QStringLiteral("executable"), Settings.Executable);
    Document.insert(QStringLiteral("parameters"), QJsonArray::fromStringList(Settings.Parameters));
    if (!Settings.Generation.isEmpty()) {
        Document.insert(QStringLiteral("generation"), Settings.Generation);
    }
    if (!Settings.Variant.isEmpty()) {
        Document.insert(QStringLiteral("variant"), Settings.Variant);
    }
    return Document;
}

int TPackageDocumentBuilder::chunkCount(const QByteArray& PackageDocument) {
    const QJsonDocument Document = QJsonDocument::fromJson(PackageDocument);
    if (!Document.isObject()) {
        return -1;
    }
    return Document.object().value(QStringLiteral("chunks")).toArray().size();
}

bool TPackageDocumentBuilder::rebaseAssetDocument(QJsonObject& AssetDocument, int NewBase) {
    const QJsonValue OldBaseValue = AssetDocument.value(QLatin1String(ChunkIndexBaseKey));
    if (!OldBaseValue.isDouble()) {
        return false;
    }
    const int Shift = NewBase - OldBaseValue.toInt();
    QJsonArray Files = AssetDocument.value(QStringLiteral("files")).toArray();
    for (int i = 0; i < Files.size(); ++i) {
        QJsonObject File = Files.at(i).toObject();
        QJsonArray Indices = File.value(QStringLiteral("chunks")).toArray();
        for (int j = 0; j < Indices.size(); ++j) {
            Indices.replace(j, Indices.at(j).toInt() + Shift);
        }
        File.insert(QStringLiteral("chunks"), Indices);
        Files.replace(i, File);
    }
    AssetDocument.insert(QStringLiteral("files"), Files);
    AssetDocument.insert(QLatin1String(ChunkIndexBaseKey), NewBase);
    return true;
}

} // namespace publisher
