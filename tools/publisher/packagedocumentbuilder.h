#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace publisher {

struct TPublishResult;

enum class EDocumentKind { Package, Assets };

// What the document says beyond the files and chunks.
struct TDocumentSettings {
    EDocumentKind Kind = EDocumentKind::Package;
    QString Version;
    QString Executable;     // package documents only
    QStringList Parameters; // package documents only
    QString Generation;     // package documents only; "first" or "second"
    QString Variant;        // package documents only; "regular", "preview", "beta" or "test"
    // Asset files index the chunk table that the launcher builds from the
    // package document's chunks followed by the asset document's, so their
    // indices start after the package document's chunks.
    int ChunkIndexBase = 0;
};

// Totals of one published document.
struct TPublishSummary {
    int Files = 0;
    int Chunks = 0;            // distinct chunks in the document's table
    int NewChunks = 0;         // chunks this run wrote to the store
    int NewPacked = 0;         // new chunks kept in packed form
    int NewStored = 0;         // new chunks stored unpacked (method 0)
    quint64 UnpackedBytes = 0; // sum over the table
    quint64 PackedBytes = 0;   // sum over the table: what a fresh installation downloads
    quint64 NewBytes = 0;      // packed bytes this run wrote
};

// The key under which an asset document records its chunk index base, so that
// a later package document with another number of chunks can shift it.
inline constexpr char ChunkIndexBaseKey[] = "chunkindexbase";

// Turns the published content into a package or asset document. Every
// distinct chunk appears once in the table, in order of first use; files with
// fewer than two chunks also carry their whole-file piece.
class TPackageDocumentBuilder {
public:
    explicit TPackageDocumentBuilder(TDocumentSettings Settings);

    QJsonObject build(const TPublishResult& Result, TPublishSummary& Summary) const;

    // The number of chunks in a package document's table; -1 when the
    // document is not a JSON object.
    static int chunkCount(const QByteArray& PackageDocument);

    // Shifts the chunk indices of an asset document to a new base. Returns
    // false when the document does not record its base.
    static bool rebaseAssetDocument(QJsonObject& AssetDocument, int NewBase);

private:
    TDocumentSettings Settings;
};

} // namespace publisher
