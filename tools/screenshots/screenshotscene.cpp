#include "screenshots/screenshotscene.h"

#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/filetodownload.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "launcher/telemetry/cloudflarecdntrace.h"
#include "launcher/ui/hintpanel.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "launcher/ui/launchermainwindow.h"
#include "screenshots/hintpictures.h"
#include "screenshots/trickleserver.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/randomhints/hint.h"

#include <QApplication>
#include <QCursor>
#include <QDebug>
#include <QEventLoop>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPixmap>
#include <QProgressBar>
#include <QTimer>

using namespace mirrel::launcher;

namespace screenshots {

namespace {

constexpr int ChunkCount = 6;
constexpr qint64 ChunkSize = 180000000;

struct TPackageLook {
    QString m_Name;
    QString m_Version;
    QString m_Generation;
    QString m_Variant;
};

// The third name and the fourth version are longer than a row can show.
const TPackageLook Looks[] = {
    {QStringLiteral("Vantor Online"), QStringLiteral("1.8.2"), QStringLiteral("second"),
     QStringLiteral("regular")},
    {QStringLiteral("Vantor Classic"), QStringLiteral("1.2.0"), QStringLiteral("first"),
     QStringLiteral("regular")},
    {QStringLiteral("Vantor Online Public Test Realm"), QStringLiteral("1.9.0"), QStringLiteral("second"),
     QStringLiteral("preview")},
    {QStringLiteral("Vantor Beta"), QStringLiteral("2.0.0-rc.3+build.20240611"), QStringLiteral("second"),
     QStringLiteral("beta")},
    {QStringLiteral("Vantor Test"), QStringLiteral("2.1.0"), QStringLiteral("second"),
     QStringLiteral("test")},
};

// Distinct pieces need distinct hashes, or the downloader fetches them once.
QString pieceHash(int Piece) {
    return QStringLiteral("%1").arg(Piece + 1, 64, 16, QLatin1Char('0'));
}

QByteArray packageDocument(const TPackageLook& Look, const TTrickleServer* pServer) {
    QJsonObject document;
    document.insert(QStringLiteral("version"), Look.m_Version);
    document.insert(QStringLiteral("executable"), QStringLiteral("bin/vantor"));
    document.insert(QStringLiteral("generation"), Look.m_Generation);
    document.insert(QStringLiteral("variant"), Look.m_Variant);
    if (pServer != nullptr) {
        QJsonArray chunks;
        QJsonArray indices;
        for (int chunk = 0; chunk < ChunkCount; ++chunk) {
            QJsonObject entry;
            entry.insert(QStringLiteral("url"),
                         pServer->url(QStringLiteral("/chunks/%1").arg(chunk)).toString());
            entry.insert(QStringLiteral("packedsize"), static_cast<double>(ChunkSize));
            entry.insert(QStringLiteral("packedhash"), pieceHash(chunk));
            entry.insert(QStringLiteral("unpackedsize"), static_cast<double>(ChunkSize));
            entry.insert(QStringLiteral("unpackedhash"), pieceHash(chunk));
            chunks.append(entry);
            indices.append(chunk);
        }
        QJsonObject file;
        file.insert(QStringLiteral("localfile"), QStringLiteral("data/world.pak"));
        file.insert(QStringLiteral("unpackedsize"), static_cast<double>(ChunkSize * ChunkCount));
        file.insert(QStringLiteral("unpackedhash"), pieceHash(ChunkCount));
        file.insert(QStringLiteral("chunks"), indices);
        document.insert(QStringLiteral("chunks"), chunks);
        document.insert(QStringLiteral("files"), QJsonArray{file});
    }
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

QByteArray launcherDocument(int PackageCount) {
    QJsonArray packages;
    for (int position = 0; position < PackageCount; ++position) {
        const TPackageLook& look = Looks[position];
        QJsonObject build;
        build.insert(QStringLiteral("os"), QStringLiteral("linux"));
        build.insert(QStringLiteral("architecture"), QStringLiteral("x86_64"));
        build.insert(QStringLiteral("url"), look.m_Variant + QStringLiteral("/package.json"));
        QJsonObject entry;
        entry.insert(QStringLiteral("name"), look.m_Name);
        entry.insert(QStringLiteral("directoryname"), look.m_Variant + QString::number(position));
        entry.insert(QStringLiteral("builds"), QJsonArray{build});
        packages.append(entry);
    }
    QJsonObject document;
    document.insert(QStringLiteral("packages"), packages);
    document.insert(QStringLiteral("showpackagenames"), true);
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

shared::THint hint(const QString& Category, const QString& Text, const QUrl& Picture) {
    shared::THint hint;
    hint.m_Title = Text;
    hint.m_RichText = QStringLiteral("<style>a { color: #c0c0c0; }</style>") + Text;
    hint.m_Category = Category;
    hint.m_ImageUrl = Picture.toString();
    hint.m_Url = QStringLiteral("https://www.quorvane.com/vantor-online/news/") + Category;
    return hint;
}

std::int32_t statusOf(ERowState State) {
    switch (State) {
    case ERowState::Install:
        return TPackage::StatusNotInstalled;
    case ERowState::Update:
        return TPackage::StatusUpdateAvailable;
    case ERowState::Play:
        return TPackage::StatusUpToDate;
    case ERowState::Unavailable:
        return TPackage::StatusNotDetermined;
    default:
        // A run turns the full marker into the partial one.
        return TPackage::StatusPartiallyInstalled;
    }
}

} // namespace

QString stateName(ERowState State) {
    switch (State) {
    case ERowState::Install:
        return QStringLiteral("install");
    case ERowState::Update:
        return QStringLiteral("update");
    case ERowState::Play:
        return QStringLiteral("play");
    case ERowState::Downloading:
        return QStringLiteral("downloading");
    case ERowState::Verifying:
        return QStringLiteral("verifying");
    case ERowState::Failed:
        return QStringLiteral("failed");
    case ERowState::Unavailable:
        return QStringLiteral("unavailable");
    }
    return QString();
}

bool waitUntil(const std::function<bool()>& Condition, int DeadlineMs) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (Condition()) {
            loop.quit();
        }
    });
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (!Condition()) {
        poll.start(20);
        deadline.start(DeadlineMs);
        loop.exec();
    }
    return Condition();
}

TScreenshotScene::TScreenshotScene(TTrickleServer& Server, const QString& OutputDirectory, int PackageCount,
                                   ERowState State)
    : m_Server(Server)
    , m_OutputDirectory(OutputDirectory)
    , m_PackageCount(PackageCount)
    , m_State(State) {
    m_OutputDirectory.mkpath(QStringLiteral("."));
    m_pFileSystem = std::make_shared<TLauncherFilesystemHelper>(m_LauncherDirectory.path());
    auto pAccessManager =
        std::make_shared<shared::QNetworkAccessManagerWrapper>(std::make_shared<QNetworkAccessManager>());
    m_pPool = std::make_shared<shared::TDownloadPool>(6, pAccessManager, nullptr, true);
    m_pTrace = std::make_shared<TCloudflareCdnTrace>(m_Server.url(QStringLiteral("/cdn-cgi/trace")), m_pPool);
    m_Server.addFile(QStringLiteral("/cdn-cgi/trace"),
                     "fl=47f112\nh=cdn.quorvane.com\nip=192.0.2.44\nts=1718000000.512\nvisit_scheme=https\n"
                     "colo=FRA\nhttp=http/2\nloc=DE\n");
    for (int picture = 0; picture < 3; ++picture) {
        m_Server.addFile(QStringLiteral("/hints/%1.png").arg(picture), drawHintPicture(picture));
    }
    buildConfiguration();
}

TScreenshotScene::~TScreenshotScene() = default;

void TScreenshotScene::buildConfiguration() {
    const QUrl base = m_Server.url(QStringLiteral("/launcher/"));
    m_pConfiguration = std::make_shared<TLauncherConfigurationReader>(launcherDocument(m_PackageCount), base);
    const TTrickleServer* pServer = m_State == ERowState::Downloading ? &m_Server : nullptr;
    for (const std::shared_ptr<TPackage>& pPackage : m_pConfiguration->packages()) {
        TPackageBuild* pBuild = pPackage->selectBuildForThisSystem();
        pBuild->Configuration = std::make_unique<TPackageConfigurationReader>(
            packageDocument(Looks[pPackage->index()], pServer), QByteArray(), base, base);
    }
    m_pConfiguration->packages().front()->setDefaultPackage(true);
}

bool TScreenshotScene::setUp() {
    m_pWindow = std::make_unique<TLauncherMainWindow>(m_pConfiguration->availablePackages(), nullptr,
                                                      m_pConfiguration->showPackageNames(), m_pPool, m_pTrace,
                                                      m_pConfiguration);
    // Away from the window, so that no tile shows the frame it has under the mouse.
    QCursor::setPos(0, 0);
    m_pWindow->show();
    showHints();
    for (const std::shared_ptr<TPackage>& pPackage : m_pConfiguration->packages()) {
        bringIntoState(pPackage);
    }
    const bool settled = waitUntil([this] {
        return m_pWindow->isVisible() && m_pWindow->hintPanel()->pendingPictureCount() == 0 &&
               rowsShowState();
    });
    if (!settled) {
        qCritical().noquote() << "The window did not reach the state" << stateName(m_State) << "with"
                              << m_PackageCount << "packages";
    }
    return settled;
}

void TScreenshotScene::showHints() {
    m_pWindow->setHints(
        {hint(QStringLiteral("cat1"), QStringLiteral("<b>Season 4</b>: Ember Tides has begun"),
              m_Server.url(QStringLiteral("/hints/0.png"))),
         hint(QStringLiteral("cat2"), QStringLiteral("Guild wars: <a href=\"#\">sign up now</a>"),
              m_Server.url(QStringLiteral("/hints/1.png"))),
         hint(QStringLiteral("cat3"), QStringLiteral("Patch 1.9: the forest shrines"),
              m_Server.url(QStringLiteral("/hints/2.png")))});
}

void TScreenshotScene::bringIntoState(const std::shared_ptr<TPackage>& pPackage) {
    pPackage->setLocalStatus(statusOf(m_State));
    emit pPackage->localPackageStatusChanged();
    switch (m_State) {
    case ERowState::Downloading:
        startDownload(pPackage);
        break;
    case ERowState::Verifying: {
        auto pInstallation = std::make_unique<TPackageInstallation>(pPackage, m_pFileSystem);
        m_pWindow->onInstallationOrUpdateStarted(*pInstallation);
        emit pInstallation->verificationProgress(734003200, 1080000000);
        m_Installations.push_back(std::move(pInstallation));
        break;
    }
    case ERowState::Failed: {
        auto pInstallation = std::make_unique<TPackageInstallation>(pPackage, m_pFileSystem);
        m_pWindow->onInstallationOrUpdateStarted(*pInstallation);
        emit pInstallation->packageFileDownloader()->downloadFailed(EPackageDownloaderError::DownloadFailed);
        m_pWindow->onInstallationOrUpdateFinished(*pInstallation);
        m_Installations.push_back(std::move(pInstallation));
        break;
    }
    default:
        break;
    }
}

// A real download from the slow server, which keeps it in progress at a steady rate.
void TScreenshotScene::startDownload(const std::shared_ptr<TPackage>& pPackage) {
    auto pInstallation = std::make_unique<TPackageInstallation>(pPackage, m_pFileSystem);
    m_pWindow->onInstallationOrUpdateStarted(*pInstallation);

    const TPackageConfigurationReader* pTarget = pPackage->configurationForThisSystem();
    TFileToDownload file(pTarget->files().front(), pTarget->chunks());
    for (int chunk = 0; chunk < ChunkCount; ++chunk) {
        file.ChunksToDownload.push_back(chunk);
    }
    TPackageFileDownloader* pDownloader = pInstallation->packageFileDownloader();
    pDownloader->setTargetDirectory(QDir(m_LauncherDirectory.filePath(QString::number(pPackage->index()))));
    pDownloader->setFilesToDownload({file});
    pDownloader->startDownloads();
    m_Installations.push_back(std::move(pInstallation));
}

bool TScreenshotScene::rowsShowState() const {
    for (const std::shared_ptr<TPackage>& pPackage : m_pConfiguration->packages()) {
        const TClientPackageLayoutItem* pRow = m_pWindow->row(pPackage->index());
        if (m_State == ERowState::Downloading && !pRow->timeLeftLabel()->isVisible()) {
            return false;
        }
        if (m_State == ERowState::Verifying && pRow->progressBar()->format().isEmpty()) {
            return false;
        }
    }
    return true;
}

bool TScreenshotScene::photographDownloadFailure(const QString& Name) {
    QMessageBox* pBox = m_pWindow->messageBox();
    if (pBox == nullptr) {
        return false;
    }
    waitUntil([pBox] { return !pBox->text().contains(QStringLiteral("Loading, please wait...")); });
    const bool saved = save(pBox->grab(), Name);
    pBox->close();
    return saved;
}

bool TScreenshotScene::photographAboutBox(const QString& Name) {
    bool saved = false;
    QTimer::singleShot(0, m_pWindow.get(), [this, &saved, Name] {
        waitUntil([] { return QApplication::activeModalWidget() != nullptr; });
        if (QWidget* pBox = QApplication::activeModalWidget()) {
            saved = save(pBox->grab(), Name);
            pBox->close();
        }
    });
    m_pWindow->onAboutDialogRequested(QStringLiteral("about"));
    return saved;
}

bool TScreenshotScene::photographHintBox(const QString& Name) {
    // Twice the size, to judge the seams between the slanted tiles.
    const QPixmap box = m_pWindow->hintPanel()->hintBox()->grab();
    return save(box.scaled(box.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation), Name);
}

void TScreenshotScene::pointAtMiddleTile() {
    QWidget* pTile = m_pWindow->hintPanel()->tile(THintPanel::ETilePosition::Middle);
    QCursor::setPos(pTile->mapToGlobal(pTile->rect().center()));
    waitUntil([pTile] { return pTile->underMouse(); }, 2000);
}

bool TScreenshotScene::photograph(const QString& Name) {
    return save(m_pWindow->grab(), Name);
}

bool TScreenshotScene::save(const QPixmap& Picture, const QString& Name) const {
    const QString path = m_OutputDirectory.filePath(Name);
    const bool saved = Picture.save(path, "PNG");
    qInfo().noquote() << (saved ? "Wrote" : "Could not write") << path << Picture.size();
    return saved;
}

} // namespace screenshots
