#pragma once

#include "publisher/contentpublisher.h"
#include "publisher/packagedocumentbuilder.h"

#include <QString>

#include <functional>
#include <memory>

namespace shared {
class TFileSystemHelper;
}

namespace publisher {

class TDocumentSigner;

struct TPublishOptions {
    QString InputDirectory;
    QString OutputDirectory;
    TDocumentSettings Document;
    QString DocumentName;        // default: "package.json" or "assets.json"
    QString PackageDocumentName; // the package document asset indices follow
    QString AssetDocumentName;   // the asset document to keep in step with a new package document
    int Method = 5;
    double MinimumSaving = DefaultMinimumSaving;
    int Threads = 0;
    QString SignKey; // a PEM Ed25519 private key: every document written gets its ".sig"
};

// Publishes one build directory: stores its chunks and writes the package or
// asset document beside them, whole or not at all.
class TPublishCommand {
public:
    TPublishCommand(std::shared_ptr<const shared::TFileSystemHelper> FileSystem, TPublishOptions Options);
    ~TPublishCommand();

    void setProgressCallback(TContentPublisher::TProgressCallback Callback);

    // Returns the one-line summary. Throws TUsageError for options that
    // contradict each other and std::runtime_error when publishing fails.
    QString run();

    const TPublishSummary& summary() const { return Summary; }

private:
    void checkOptions() const;
    QString documentPath(const QString& Name) const;
    int packageChunkCount() const;
    QString keepAssetDocumentInStep(int PackageChunks) const;
    void writeDocument(const QString& Path, const QByteArray& Bytes) const;

    std::shared_ptr<const shared::TFileSystemHelper> m_pFileSystem;
    TPublishOptions Options;
    TContentPublisher::TProgressCallback ProgressCallback;
    TPublishSummary Summary;
    std::unique_ptr<TDocumentSigner> m_pSigner;
};

} // namespace publisher
