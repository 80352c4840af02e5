#pragma once

#include "shared/randomhints/hint.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <vector>

namespace shared {
class TDownloadPool;
}

namespace mirrel::launcher {

class TDocumentTrust;
class TLauncherConfigurationReader;
class TLauncherFilesystemHelper;
class TSignedDocumentFetcher;
class TPackage;
struct TPackageBuild;

// One build whose package document (and asset document, when it has one) is awaited.
struct TPackageConfigurationRequest {
    TPackageBuild* Build = nullptr;
    QUrl PackageUrl;
    QUrl AssetUrl; // empty when the build has no asset document
    QByteArray PackageData;
    QByteArray AssetData;

    // Every valid address has received data.
    bool isComplete() const;
};

// Fetches the launcher configuration (falling back to the copy stored beside the launcher when the
// server cannot be reached in time), then the package and asset documents of every package, and
// receives the hints document. Everything arrives through the application's download pool on the
// GUI thread; the controller follows along through the signals.
class TLauncherConfigurationHandler : public QObject {
    Q_OBJECT

public:
    TLauncherConfigurationHandler(std::shared_ptr<::shared::TDownloadPool> pDownloadPool,
                                  std::shared_ptr<TLauncherFilesystemHelper> pFilesystemHelper,
                                  QObject* parent = nullptr);
    ~TLauncherConfigurationHandler() override;

    // Requests the configuration and starts the error timer; the outcome is one of
    // mainConfigurationLoaded, mainConfigurationDownloadFailed or diskAccessFailed.
    void startConfigurationDownload();
    // Requests the documents of every package that has a build for this system: online from the
    // build's addresses, with the stored copy from the installed packages' own documents.
    // packageConfigurationDownloadsFinished follows once every request has settled.
    void requestPackageConfigurations();

    std::shared_ptr<TLauncherConfigurationReader> configuration() const { return Configuration; }
    bool usingStoredCopy() const { return UsingStoredCopy; }
    const QUrl& configurationUrl() const { return ConfigurationUrl; }
    const ::shared::THint& currentHint() const { return CurrentHint; }
    const std::vector<::shared::THint>& hints() const { return Hints; }
    // Whether a document (or the stored copy) was refused because it could not be trusted.
    bool refusedUntrustedDocument() const;

signals:
    void mainConfigurationLoaded();
    void mainConfigurationDownloadFailed();
    void diskAccessFailed(QString ErrorMessage);
    void packageConfigurationDownloadsFinished();
    void hintAreaDataReceived(const ::shared::THint& Hint);
    void hintsAreaDataReceived(std::vector<::shared::THint> Hints);

private slots:
    void onConfigurationDownloadFinished(QUrl Url, QByteArray Data);
    void onConfigurationDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code, QString ErrorString);
    void onErrorTimerExpired();

private:
    bool isAwaitedConfiguration(const QUrl& Url) const;
    void takeConfiguration(const QUrl& Url, const QByteArray& Data);
    void fallBackToStoredCopy();
    bool takeHints(const QUrl& Url, const QByteArray& Data);
    void takePackageDocument(const QUrl& Url, const QByteArray& Data);
    void attachConfiguration(const TPackageConfigurationRequest& Request) const;
    void dropFailedRequests(const QUrl& Url, const QString& ErrorString);
    std::vector<TPackageConfigurationRequest> collectRequests() const;
    void addRequest(std::vector<TPackageConfigurationRequest>& Requests, const TPackage& Package,
                    TPackageBuild* pBuild, const QUrl& PackageUrl, const QUrl& AssetUrl) const;
    void addInstalledDocumentsRequest(std::vector<TPackageConfigurationRequest>& Requests,
                                      const TPackage& Package, TPackageBuild* pBuild) const;
    QUrl onlineDocumentUrl(const QUrl& Url) const;
    QString storedCopyPath() const;
    void storeConfigurationCopy(const QUrl& Url);
    QString storedCopyTrustProblem(const QString& Path, const QByteArray& Document) const;

    std::shared_ptr<::shared::TDownloadPool> m_pDownloadPool;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFilesystemHelper;
    std::shared_ptr<const TDocumentTrust> m_pTrust;
    // Stands between the pool and this handler: only trusted documents come through.
    std::unique_ptr<TSignedDocumentFetcher> m_pDocuments;
    bool m_StoredCopyRefused = false;
    QUrl ConfigurationUrl;
    // Runs exactly while the configuration itself is awaited; answers for it count only then.
    QTimer ErrorTimer;
    std::shared_ptr<TLauncherConfigurationReader> Configuration;
    bool UsingStoredCopy = false;
    ::shared::THint CurrentHint;
    std::vector<::shared::THint> Hints;
    std::vector<TPackageConfigurationRequest> PendingRequests;
};

} // namespace mirrel::launcher
