#include "launcher/config/launcherconfigurationhandler.h"

#include "launcher/config/documenttrust.h"
#include "launcher/config/launcherconfigurationexception.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/config/signeddocumentfetcher.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/settings/launcherconstants.h"
#include "launcher/settings/launchersettings.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "shared/network/downloadpool.h"
#include "shared/network/nocachequeryitem.h"
#include "shared/randomhints/randomhints.h"

#include <QDateTime>
#include <QDir>
#include <QDebug>

#include <algorithm>
#include <climits>
#include <iterator>
#include <stdexcept>

namespace mirrel::launcher {

namespace {

QUrl documentDirectory(const QUrl& documentUrl) {
    // The query (a nocache item, say) belongs to the document, not to its directory.
    return documentUrl.adjusted(QUrl::RemoveFilename | QUrl::RemoveQuery);
}

// The first file of Files that would take the place of one of the launcher's own files in the
// package directory (its markers or its staging folder); empty when none does. Installing such a
// file would overwrite what says which version is on the disk.
QString fileTakingALauncherName(const TFileInPackageVector& Files, const TLauncherSettings& Settings) {
    const QStringList ownNames{Settings.packageFile(), Settings.partialPackageFile(), Settings.assetFile(),
                               DefaultMarkerFileName, ForcePatchMarkerFileName};
    const QString stagingPrefix = StagingDirectoryName + QLatin1Char('/');
    for (const TFileInPackage& file : Files) {
        const QString name = QDir::cleanPath(file.LocalFile);
        if (ownNames.contains(name) || name == StagingDirectoryName || name.startsWith(stagingPrefix)) {
            return file.LocalFile;
        }
    }
    return QString();
}

} // namespace

bool TPackageConfigurationRequest::isComplete() const {
    return (!PackageUrl.isValid() || !PackageData.isEmpty()) && (!AssetUrl.isValid() || !AssetData.isEmpty());
}

TLauncherConfigurationHandler::TLauncherConfigurationHandler(
    std::shared_ptr<::shared::TDownloadPool> pDownloadPool,
    std::shared_ptr<TLauncherFilesystemHelper> pFilesystemHelper, QObject* parent)
    : QObject(parent)
    , m_pDownloadPool(std::move(pDownloadPool))
    , m_pFilesystemHelper(std::move(pFilesystemHelper))
    , m_pTrust(std::make_shared<TDocumentTrust>(m_pFilesystemHelper->settings()->publicKey()))
    , m_pDocuments(std::make_unique<TSignedDocumentFetcher>(m_pDownloadPool, m_pTrust))
    , ConfigurationUrl(m_pFilesystemHelper->settings()->launcherConfigurationUrl()) {
    ErrorTimer.setSingleShot(true);
    ErrorTimer.setInterval(static_cast<int>(
        std::clamp<qint64>(m_pFilesystemHelper->settings()->downloadErrorTimeout(), 0, INT_MAX)));
    connect(m_pDocuments.get(), &TSignedDocumentFetcher::success, this,
            &TLauncherConfigurationHandler::onConfigurationDownloadFinished);
    connect(m_pDocuments.get(), &TSignedDocumentFetcher::failed, this,
            &TLauncherConfigurationHandler::onConfigurationDownloadFailed);
    connect(&ErrorTimer, &QTimer::timeout, this, &TLauncherConfigurationHandler::onErrorTimerExpired);
}

TLauncherConfigurationHandler::~TLauncherConfigurationHandler() = default;

void TLauncherConfigurationHandler::startConfigurationDownload() {
    UsingStoredCopy = false;
    // The timer runs before the request is made: a request the pool refuses at once (an invalid
    // address) is answered inside download() and must already find the configuration awaited.
    ErrorTimer.start();
    m_pDocuments->download(ConfigurationUrl, true);
}

bool TLauncherConfigurationHandler::refusedUntrustedDocument() const {
    return m_StoredCopyRefused || m_pDocuments->refusedAny();
}

bool TLauncherConfigurationHandler::isAwaitedConfiguration(const QUrl& Url) const {
    return Url == ConfigurationUrl && ErrorTimer.isActive();
}

void TLauncherConfigurationHandler::onConfigurationDownloadFinished(QUrl Url, QByteArray Data) {
    if (Data.isEmpty()) {
        onConfigurationDownloadFailed(Url, QNetworkReply::ContentNotFoundError,
                                      QStringLiteral("Data stream is empty"));
        return;
    }
    if (isAwaitedConfiguration(Url)) {
        takeConfiguration(Url, Data);
        return;
    }
    if (Url == ConfigurationUrl) {
        qInfo().noquote()
            << "Configuration arrived after its waiting time; the configuration in use is kept.";
    }
    if (takeHints(Url, Data)) {
        return;
    }
    takePackageDocument(Url, Data);
}

void TLauncherConfigurationHandler::onConfigurationDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code,
                                                                  QString ErrorString) {
    if (Url == ConfigurationUrl) {
        // Once the configuration was taken, or the stored copy stood in for it, a late failure
        // must not decide a second time.
        if (!ErrorTimer.isActive()) {
            qInfo().noquote() << "Configuration download ended after its waiting time:" << ErrorString;
            return;
        }
        qCritical().noquote() << "Download of configuration failed:" << ErrorString;
        ErrorTimer.stop();
        if (Code == QNetworkReply::ContentAccessDenied || Code == QNetworkReply::ContentNotFoundError) {
            // The server answered and refuses the document: maintenance.
            emit mainConfigurationDownloadFailed();
            return;
        }
        fallBackToStoredCopy();
        return;
    }
    dropFailedRequests(Url, ErrorString);
}

void TLauncherConfigurationHandler::onErrorTimerExpired() {
    ErrorTimer.stop();
    qWarning().noquote() << "Configuration did not arrive in time; using the stored copy.";
    fallBackToStoredCopy();
}

void TLauncherConfigurationHandler::takeConfiguration(const QUrl& Url, const QByteArray& Data) {
    ErrorTimer.stop();
    try {
        Configuration =
            std::make_shared<TLauncherConfigurationReader>(Data, Url.adjusted(QUrl::RemoveFilename));
    } catch (const TLauncherConfigurationException& error) {
        qCritical().noquote() << "Configuration could not be parsed:" << QString::fromUtf8(error.what());
        emit mainConfigurationDownloadFailed();
        return;
    }
    QString writeError;
    try {
        storeConfigurationCopy(Url);
    } catch (const std::runtime_error& error) {
        writeError = QString::fromUtf8(error.what());
    }
    if (!writeError.isNull()) {
        qCritical().noquote() << "Stored configuration could not be written:" << writeError;
        emit diskAccessFailed(writeError);
    }
    emit mainConfigurationLoaded();
}

void TLauncherConfigurationHandler::fallBackToStoredCopy() {
    QString failure;
    try {
        const QString path = storedCopyPath();
        const QByteArray document = m_pFilesystemHelper->readFileIfPresent(path);
        if (document.isEmpty()) {
            qCritical().noquote() << "No stored configuration available.";
            emit mainConfigurationDownloadFailed();
            return;
        }
        const QString trustProblem = storedCopyTrustProblem(path, document);
        if (!trustProblem.isEmpty()) {
            m_StoredCopyRefused = true;
            qCritical().noquote() << "Stored configuration" << path << "is not used:" << trustProblem;
            emit mainConfigurationDownloadFailed();
            return;
        }
        Configuration = std::make_shared<TLauncherConfigurationReader>(
            document, QUrl::fromLocalFile(path).adjusted(QUrl::RemoveFilename));
        UsingStoredCopy = true;
    } catch (const std::runtime_error& error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!failure.isNull()) {
        qCritical().noquote() << "Stored configuration could not be read:" << failure;
        emit diskAccessFailed(failure);
        return;
    }
    qInfo().noquote() << "Using the stored configuration.";
    emit mainConfigurationLoaded();
}

bool TLauncherConfigurationHandler::takeHints(const QUrl& Url, const QByteArray& Data) {
    if (!Configuration || !Configuration->hintsUrl().isValid() || Url != Configuration->hintsUrl()) {
        return false;
    }
    std::vector<::shared::THint> hints = ::shared::parseHints(Data);
    const std::optional<::shared::THint> current = ::shared::selectCurrentHint(hints);
    if (current) {
        CurrentHint = *current;
        Hints = std::move(hints);
        emit hintAreaDataReceived(CurrentHint);
        emit hintsAreaDataReceived(Hints);
    }
    return true;
}

void TLauncherConfigurationHandler::takePackageDocument(const QUrl& Url, const QByteArray& Data) {
    bool settledAny = false;
    for (auto request = PendingRequests.begin(); request != PendingRequests.end();) {
        bool matches = false;
        if (request->PackageUrl == Url) {
            request->PackageData = Data;
            matches = true;
        }
        if (request->AssetUrl == Url) {
            request->AssetData = Data;
            matches = true;
        }
        if (!matches || !request->isComplete()) {
            ++request;
            continue;
        }
        if (request->Build) {
            attachConfiguration(*request);
        }
        request = PendingRequests.erase(request);
        settledAny = true;
    }
    if (settledAny && PendingRequests.empty()) {
        emit packageConfigurationDownloadsFinished();
    }
}

void TLauncherConfigurationHandler::attachConfiguration(const TPackageConfigurationRequest& Request) const {
    // Offered with empty lists, such a package would "install" nothing, delete every installed
    // file and report success.
    const QString incompleteness =
        TPackageConfigurationReader::incompleteness(Request.PackageData, Request.AssetData);
    if (!incompleteness.isEmpty()) {
        qCritical().noquote() << "Package configuration from" << Request.PackageUrl.toString() << "rejected:"
                              << incompleteness + QStringLiteral("; the package is not offered.");
        return;
    }
    auto configuration = std::make_unique<TPackageConfigurationReader>(Request.PackageData, Request.AssetData,
                                                                       documentDirectory(Request.PackageUrl),
                                                                       documentDirectory(Request.AssetUrl));
    if (!configuration->isValid()) {
        qCritical().noquote() << "Package configuration from" << Request.PackageUrl.toString()
                              << "is not valid; the package is not offered.";
        return;
    }
    const QString takenName =
        fileTakingALauncherName(configuration->files(), *m_pFilesystemHelper->settings());
    if (!takenName.isEmpty()) {
        qCritical().noquote()
            << "Package configuration from" << Request.PackageUrl.toString() << "rejected: the file"
            << takenName << "would take the place of the launcher's own file; the package is not offered.";
        return;
    }
    Request.Build->Configuration = std::move(configuration);
}

void TLauncherConfigurationHandler::dropFailedRequests(const QUrl& Url, const QString& ErrorString) {
    // Every request waiting for this document is dropped: an asset document shared by several
    // packages fails once for all of them, and a request left waiting would never settle.
    const auto firstDropped = std::remove_if(PendingRequests.begin(), PendingRequests.end(),
                                             [&Url](const TPackageConfigurationRequest& request) {
                                                 return request.PackageUrl == Url || request.AssetUrl == Url;
                                             });
    if (firstDropped == PendingRequests.end()) {
        return;
    }
    PendingRequests.erase(firstDropped, PendingRequests.end());
    qCritical().noquote() << "Download of package configuration/asset from configuration" << Url.toString()
                          << "failed:" << ErrorString;
    if (PendingRequests.empty()) {
        emit packageConfigurationDownloadsFinished();
    }
}

void TLauncherConfigurationHandler::requestPackageConfigurations() {
    if (!Configuration) {
        return;
    }
    std::vector<TPackageConfigurationRequest> requests;
    QString failure;
    try {
        requests = collectRequests();
    } catch (const std::runtime_error& error) {
        failure = QString::fromUtf8(error.what());
    }
    if (!failure.isNull()) {
        emit diskAccessFailed(failure);
        return;
    }
    if (requests.empty()) {
        emit packageConfigurationDownloadsFinished();
        return;
    }

    std::vector<QUrl> addresses;
    for (const TPackageConfigurationRequest& request : requests) {
        for (const QUrl& address : {request.PackageUrl, request.AssetUrl}) {
            if (address.isValid() &&
                std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
                addresses.push_back(address);
            }
        }
    }
    PendingRequests.insert(PendingRequests.end(), std::make_move_iterator(requests.begin()),
                           std::make_move_iterator(requests.end()));
    // The pool may answer inside download() (an address it refuses); the requests are already in
    // place then, and this loop works on its own list.
    for (const QUrl& address : addresses) {
        // The installed documents read offline were checked when they were downloaded.
        if (UsingStoredCopy) {
            m_pDownloadPool->download(address);
        } else {
            m_pDocuments->download(address);
        }
    }
}

std::vector<TPackageConfigurationRequest> TLauncherConfigurationHandler::collectRequests() const {
    std::vector<TPackageConfigurationRequest> requests;
    const std::shared_ptr<TPackage>& launcherPackage = Configuration->launcherPackage();
    if (!UsingStoredCopy && launcherPackage) {
        if (TPackageBuild* build = launcherPackage->selectBuildForThisSystem()) {
            addRequest(requests, *launcherPackage, build, onlineDocumentUrl(build->PackageConfigurationUrl),
                       onlineDocumentUrl(build->AssetConfigurationUrl));
        }
    }
    for (const std::shared_ptr<TPackage>& package : Configuration->packages()) {
        TPackageBuild* build = package->selectBuildForThisSystem();
        if (!build) {
            continue;
        }
        if (UsingStoredCopy) {
            addInstalledDocumentsRequest(requests, *package, build);
        } else {
            addRequest(requests, *package, build, onlineDocumentUrl(build->PackageConfigurationUrl),
                       onlineDocumentUrl(build->AssetConfigurationUrl));
        }
    }
    return requests;
}

void TLauncherConfigurationHandler::addInstalledDocumentsRequest(
    std::vector<TPackageConfigurationRequest>& Requests, const TPackage& Package,
    TPackageBuild* pBuild) const {
    const TLauncherSettings& settings = *m_pFilesystemHelper->settings();
    // The stored copy's names pass the same confinement as the downloaded configuration's.
    const QString directory = m_pFilesystemHelper->packageDirectoryPath(Package.directoryName());
    const QUrl packageUrl =
        QUrl::fromLocalFile(m_pFilesystemHelper->joinPath({directory, settings.packageFile()}));
    // An installation keeps an asset document only when its build has one; a build without
    // assets must not wait for a file that is never written.
    const QUrl assetUrl =
        pBuild->AssetConfigurationUrl.isEmpty()
            ? QUrl()
            : QUrl::fromLocalFile(m_pFilesystemHelper->joinPath({directory, settings.assetFile()}));
    addRequest(Requests, Package, pBuild, packageUrl, assetUrl);
}

void TLauncherConfigurationHandler::addRequest(std::vector<TPackageConfigurationRequest>& Requests,
                                               const TPackage& Package, TPackageBuild* pBuild,
                                               const QUrl& PackageUrl, const QUrl& AssetUrl) const {
    if (!PackageUrl.isValid()) {
        // Nothing would ever answer such a request, and the package could not be configured.
        qCritical().noquote() << "Package" << Package.name()
                              << "names no package configuration; it is not offered.";
        return;
    }
    TPackageConfigurationRequest request;
    request.Build = pBuild;
    request.PackageUrl = PackageUrl;
    request.AssetUrl = AssetUrl;
    Requests.push_back(std::move(request));
}

QUrl TLauncherConfigurationHandler::onlineDocumentUrl(const QUrl& Url) const {
    return m_pFilesystemHelper->settings()->appendNocacheToPackageUrls() ? ::shared::addNocacheQueryItem(Url)
                                                                         : Url;
}

QString TLauncherConfigurationHandler::storedCopyPath() const {
    return m_pFilesystemHelper->launcherFilePath(LocalConfigurationCopyFileName);
}

void TLauncherConfigurationHandler::storeConfigurationCopy(const QUrl& Url) {
    const QString path = storedCopyPath();
    if (m_pTrust->isRequired()) {
        // The signature first: a copy whose signature did not follow it is refused offline, while
        // a signature without its copy is never read.
        m_pFilesystemHelper->writeFile(TDocumentTrust::signaturePath(path),
                                       m_pDocuments->acceptedSignature(Url));
    }
    m_pFilesystemHelper->writeFile(path, Configuration->rawDocument());
}

QString TLauncherConfigurationHandler::storedCopyTrustProblem(const QString& Path,
                                                              const QByteArray& Document) const {
    if (!m_pTrust->isRequired()) {
        return QString();
    }
    const QByteArray signature = m_pFilesystemHelper->readFileIfPresent(TDocumentTrust::signaturePath(Path));
    const QString problem = m_pTrust->signatureProblem(Document, signature);
    return problem.isEmpty() ? m_pTrust->expiryProblem(Document, QDateTime::currentDateTimeUtc()) : problem;
}

} // namespace mirrel::launcher
