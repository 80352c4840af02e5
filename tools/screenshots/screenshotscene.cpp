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
#include <QNetworkAccessManager>
#include <QPixmap>
#include <QTimer>

using namespace mirrel::launcher;

namespace screenshots {

namespace {

constexpr int DownloadingPackage = 2;
constexpr int ChunkCount = 6;
constexpr qint64 ChunkSize = 180000000;

struct TPackageLook {
    QString m_Name;
    QString m_Version;
    QString m_Generation;
    QString m_Variant;
    int m_Status;
};

const TPackageLook Looks[] = {
    {QStringLiteral("Vantor Online"), QStringLiteral("1.8.2"), QStringLiteral("second"),
     QStringLiteral("regular"), 4},
    {QStringLiteral("Vantor Classic"), QStringLiteral("1.2.0"), QStringLiteral("first"),
     QStringLiteral("regular"), 3},
    {QStringLiteral("Vantor Preview"), QStringLiteral("1.9.0"), QStringLiteral("second"),
     QStringLiteral("preview"), 2},
    {QStringLiteral("Vantor Beta"), QStringLiteral("2.0.0"), QStringLiteral("second"), QStringLiteral("beta"),
     1},
    {QStringLiteral("Vantor Test"), QStringLiteral("2.1.0"), QStringLiteral("second"), QStringLiteral("test"),
     4},
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

QByteArray launcherDocument() {
    QJsonArray packages;
    for (const TPackageLook& look : Looks) {
        QJsonObject build;
        build.insert(QStringLiteral("os"), QStringLiteral("linux"));
        build.insert(QStringLiteral("architecture"), QStringLiteral("x86_64"));
        build.insert(QStringLiteral("url"), look.m_Variant + QStringLiteral("/package.json"));
        QJsonObject entry;
        entry.insert(QStringLiteral("name"), look.m_Name);
        entry.insert(QStringLiteral("directoryname"), look.m_Variant);
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

} // namespace

void settle(int Milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(Milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

TScreenshotScene::TScreenshotScene(TTrickleServer& Server, const QString& OutputDirectory)
    : m_Server(Server)
    , m_OutputDirectory(OutputDirectory) {
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
    m_pConfiguration = std::make_shared<TLauncherConfigurationReader>(launcherDocument(), base);
    const std::vector<std::shared_ptr<TPackage>>& packages = m_pConfiguration->packages();
    for (size_t position = 0; position < packages.size(); ++position) {
        const TPackageLook& look = Looks[position];
        TPackageBuild* pBuild = packages[position]->selectBuildForThisSystem();
        const TTrickleServer* pServer =
            static_cast<int>(position) == DownloadingPackage ? &m_Server : nullptr;
        pBuild->Configuration = std::make_unique<TPackageConfigurationReader>(packageDocument(look, pServer),
                                                                              QByteArray(), base, base);
        packages[position]->setLocalStatus(look.m_Status);
    }
    packages[0]->setDefaultPackage(true);
}

void TScreenshotScene::showWindow() {
    m_pWindow = std::make_unique<TLauncherMainWindow>(m_pConfiguration->availablePackages(), nullptr,
                                                      m_pConfiguration->showPackageNames(), m_pPool, m_pTrace,
                                                      m_pConfiguration);
    m_pWindow->show();
    settle(300);
}

void TScreenshotScene::startDownload() {
    const std::shared_ptr<TPackage> pPackage = m_pConfiguration->packages().at(DownloadingPackage);
    auto pInstallation = std::make_unique<TPackageInstallation>(pPackage, m_pFileSystem);
    m_pWindow->onInstallationOrUpdateStarted(*pInstallation);

    const TPackageConfigurationReader* pTarget = pPackage->configurationForThisSystem();
    TFileToDownload file(pTarget->files().front(), pTarget->chunks());
    for (int chunk = 0; chunk < ChunkCount; ++chunk) {
        file.ChunksToDownload.push_back(chunk);
    }
    TPackageFileDownloader* pDownloader = pInstallation->packageFileDownloader();
    pDownloader->setTargetDirectory(QDir(m_LauncherDirectory.path()));
    pDownloader->setFilesToDownload({file});
    pDownloader->startDownloads();
    m_Installations.push_back(std::move(pInstallation));
}

void TScreenshotScene::showHints() {
    m_pWindow->setHints(
        {hint(QStringLiteral("cat1"), QStringLiteral("<b>Season 4</b>: Ember Tides has begun"),
              m_Server.url(QStringLiteral("/hints/0.png"))),
         hint(QStringLiteral("cat2"), QStringLiteral("Guild wars: <a href=\"#\">sign up now</a>"),
              m_Server.url(QStringLiteral("/hints/1.png"))),
         hint(QStringLiteral("cat3"), QStringLiteral("Patch 1.9: the forest shrines"),
              m_Server.url(QStringLiteral("/hints/2.png")))});
    settle(300);
}

void TScreenshotScene::showDownloadFailure() {
    const std::shared_ptr<TPackage> pPackage = m_pConfiguration->packages().at(3);
    auto pInstallation = std::make_unique<TPackageInstallation>(pPackage, m_pFileSystem);
    emit pInstallation->packageFileDownloader()->downloadFailed(EPackageDownloaderError::DownloadFailed);
    m_pWindow->onInstallationOrUpdateFinished(*pInstallation);
    m_Installations.push_back(std::move(pInstallation));
    settle(500);
    if (QMessageBox* pBox = m_pWindow->messageBox()) {
        save(pBox->grab(), QStringLiteral("download-failed.png"));
        pBox->close();
    }
}

void TScreenshotScene::photographAboutBox() {
    QTimer::singleShot(300, m_pWindow.get(), [this] {
        if (QWidget* pBox = QApplication::activeModalWidget()) {
            save(pBox->grab(), QStringLiteral("about.png"));
            pBox->close();
        }
    });
    m_pWindow->onAboutDialogRequested(QStringLiteral("about"));
}

bool TScreenshotScene::photographHintBox(const QString& Name) {
    // Twice the size, to judge the seams between the slanted tiles.
    const QPixmap box = m_pWindow->hintPanel()->hintBox()->grab();
    return save(box.scaled(box.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation), Name);
}

void TScreenshotScene::pointAtMiddleTile() {
    QWidget* pTile = m_pWindow->hintPanel()->tile(THintPanel::ETilePosition::Middle);
    QCursor::setPos(pTile->mapToGlobal(pTile->rect().center()));
    settle(300);
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
