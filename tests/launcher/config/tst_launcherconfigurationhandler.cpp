// The configuration handler against a real nginx (configuration, package and asset documents,
// refusals) and the scripted server (answers held past the waiting time, dropped connections).
#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/package/versionlabel.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "shared/network/downloadpool.h"
#include "support/failingfilesystem.h"
#include "support/nginxfixture.h"
#include "support/publishedgame.h"
#include "support/scriptedhttpserver.h"
#include "support/testnetwork.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace mirrel::launcher;
using namespace testsupport;

namespace {

const int WaitMs = 15000;

// Every signal of the handler in the order it came, so a second decision shows up.
class THandlerEvents : public QObject {
public:
    explicit THandlerEvents(TLauncherConfigurationHandler& handler) {
        connect(&handler, &TLauncherConfigurationHandler::mainConfigurationLoaded, this,
                [this] { Events.append(QStringLiteral("loaded")); });
        connect(&handler, &TLauncherConfigurationHandler::mainConfigurationDownloadFailed, this,
                [this] { Events.append(QStringLiteral("maintenance")); });
        connect(&handler, &TLauncherConfigurationHandler::diskAccessFailed, this,
                [this](const QString& message) { Events.append(QStringLiteral("disk ") + message); });
        connect(&handler, &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished, this,
                [this] { Events.append(QStringLiteral("finished")); });
        connect(&handler, &TLauncherConfigurationHandler::hintAreaDataReceived, this,
                [this](const shared::THint& hint) { Events.append(QStringLiteral("hint ") + hint.m_Title); });
        connect(&handler, &TLauncherConfigurationHandler::hintsAreaDataReceived, this,
                [this](const std::vector<shared::THint>& hints) {
                    Events.append(QStringLiteral("hints %1").arg(hints.size()));
                });
    }

    bool waitForCount(int count, int timeoutMs = WaitMs) const {
        return QTest::qWaitFor([&] { return Events.size() >= count; }, timeoutMs);
    }

    QStringList Events;
};

// A launcher directory with its own settings, the application's download pool and the handler.
class TTestBed {
public:
    bool writeSettings(const QUrl& configurationUrl, int errorTimeoutMs = 10000, bool nocache = false) const {
        QByteArray ini = launcherSettingsText(configurationUrl);
        ini.replace("downloadErrorTimeout=10000",
                    "downloadErrorTimeout=" + QByteArray::number(errorTimeoutMs));
        if (nocache) {
            ini.replace("appendNocacheToPackageUrls=false", "appendNocacheToPackageUrls=true");
        }
        return writeLauncherFile(QStringLiteral("launchersettings.ini"), ini);
    }

    void createHandler(EFailingOperation failing = EFailingOperation::None) {
        Helper = std::make_shared<TFailingFilesystem>(LauncherDirectory.path(), failing);
        Handler = std::make_unique<TLauncherConfigurationHandler>(Pool, Helper);
        Recorded = std::make_unique<THandlerEvents>(*Handler);
    }

    bool writeLauncherFile(const QString& relativePath, const QByteArray& content) const {
        const QString path = LauncherDirectory.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

    QString storedCopyPath() const {
        return LauncherDirectory.filePath(QStringLiteral("launchermetadata.json"));
    }

    QByteArray storedCopy() const {
        QFile file(storedCopyPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QStringList availableNames() const {
        QStringList names;
        for (const std::shared_ptr<TPackage>& package : Handler->configuration()->availablePackages()) {
            names.append(package->name());
        }
        return names;
    }

    std::shared_ptr<TPackage> package(const QString& name) const {
        for (const std::shared_ptr<TPackage>& package : Handler->configuration()->packages()) {
            if (package->name() == name) {
                return package;
            }
        }
        return nullptr;
    }

    QTemporaryDir LauncherDirectory;
    std::shared_ptr<shared::TDownloadPool> Pool = makeDownloadPool();
    std::shared_ptr<TLauncherFilesystemHelper> Helper;
    std::unique_ptr<TLauncherConfigurationHandler> Handler;
    std::unique_ptr<THandlerEvents> Recorded;
};

// An address on 127.0.0.1 where nothing listens: connections are refused at once.
QUrl unreachableUrl(const QString& path) {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    const quint16 port = server.serverPort();
    server.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1/%2").arg(port).arg(path));
}

QJsonObject build(const QString& os, const QString& url, const QString& assetsUrl = QString()) {
    QJsonObject object{{QStringLiteral("os"), os},
                       {QStringLiteral("architecture"), QStringLiteral("x86_64")},
                       {QStringLiteral("url"), url}};
    if (!assetsUrl.isEmpty()) {
        object.insert(QStringLiteral("assetsurl"), assetsUrl);
    }
    return object;
}

QJsonObject entry(const QString& name, const QString& directory, const QJsonArray& builds) {
    return QJsonObject{{QStringLiteral("name"), name},
                       {QStringLiteral("directoryname"), directory},
                       {QStringLiteral("builds"), builds}};
}

// Launcher package and four client packages; Vantor and Preview share one asset document, Plain
// has none, WindowsOnly has no build for this system. Relative addresses, as a server lists them.
QByteArray configurationDocument(const QUrl& hintsUrl = QUrl()) {
    const QJsonObject document{
        {QStringLiteral("launcher"),
         entry(QStringLiteral("Launcher"), QString(),
               QJsonArray{build(QStringLiteral("linux"), QStringLiteral("self/package.json"))})},
        {QStringLiteral("packages"),
         QJsonArray{
             entry(QStringLiteral("Vantor"), QStringLiteral("vantor"),
                   QJsonArray{build(QStringLiteral("windows"), QStringLiteral("win/package.json")),
                              build(QStringLiteral("Linux"), QStringLiteral("vantor/package.json"),
                                    QStringLiteral("shared/assets.json"))}),
             entry(QStringLiteral("Preview"), QStringLiteral("preview"),
                   QJsonArray{build(QStringLiteral("linux"), QStringLiteral("preview/package.json"),
                                    QStringLiteral("shared/assets.json"))}),
             entry(QStringLiteral("WindowsOnly"), QStringLiteral("winonly"),
                   QJsonArray{build(QStringLiteral("windows"), QStringLiteral("winonly/package.json"))}),
             entry(QStringLiteral("Plain"), QStringLiteral("plain"),
                   QJsonArray{build(QStringLiteral("linux"), QStringLiteral("plain/package.json"))})}},
        {QStringLiteral("hints"), hintsUrl.toString()},
        {QStringLiteral("showpackagenames"), true}};
    // Indented on purpose: the stored copy must keep the bytes, not a re-serialised form.
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

QJsonObject chunk(const QString& url, const QByteArray& content) {
    return QJsonObject{
        {QStringLiteral("url"), url},
        {QStringLiteral("unpackedhash"),
         QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex())},
        {QStringLiteral("unpackedsize"), content.size()}};
}

QByteArray packageDocument(const QString& version, const QString& localFile) {
    const QJsonObject document{
        {QStringLiteral("version"), version},
        {QStringLiteral("executable"), localFile},
        {QStringLiteral("chunks"),
         QJsonArray{chunk(QStringLiteral("chunks/") + localFile, localFile.toUtf8())}},
        {QStringLiteral("files"), QJsonArray{QJsonObject{{QStringLiteral("localfile"), localFile},
                                                         {QStringLiteral("chunks"), QJsonArray{0}}}}}};
    return QJsonDocument(document).toJson();
}

// Its chunk follows the package document's single chunk in the combined table.
QByteArray assetDocument() {
    const QJsonObject document{
        {QStringLiteral("version"), 7},
        {QStringLiteral("chunks"), QJsonArray{chunk(QStringLiteral("a/c0"), "asset")}},
        {QStringLiteral("files"),
         QJsonArray{QJsonObject{{QStringLiteral("localfile"), QStringLiteral("data/shared.pak")},
                                {QStringLiteral("chunks"), QJsonArray{1}}}}}};
    return QJsonDocument(document).toJson();
}

void serveDocuments(TNginxFixture& nginx, const QByteArray& configuration) {
    QVERIFY(nginx.writeFile(QStringLiteral("launcher/config.json"), configuration));
    QVERIFY(nginx.writeFile(QStringLiteral("launcher/self/package.json"),
                            packageDocument(QStringLiteral("0.0.13"), QStringLiteral("VantorLauncher"))));
    QVERIFY(nginx.writeFile(QStringLiteral("launcher/vantor/package.json"),
                            packageDocument(QStringLiteral("1"), QStringLiteral("vantor.bin"))));
    QVERIFY(nginx.writeFile(QStringLiteral("launcher/preview/package.json"),
                            packageDocument(QStringLiteral("2"), QStringLiteral("preview.bin"))));
    QVERIFY(nginx.writeFile(QStringLiteral("launcher/plain/package.json"),
                            packageDocument(QStringLiteral("3"), QStringLiteral("plain.bin"))));
    QVERIFY(nginx.writeFile(QStringLiteral("launcher/shared/assets.json"), assetDocument()));
}

} // namespace

class TestLauncherConfigurationHandler : public QObject {
    Q_OBJECT

private slots:
    // The configuration itself.
    void configurationLoadedOnlineIsStoredByteForByte() {
        TNginxFixture nginx;
        const QByteArray document = configurationDocument();
        QVERIFY(nginx.writeFile(QStringLiteral("launcher/config.json"), document));
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        TTestBed bed;
        QVERIFY(bed.writeLauncherFile(QStringLiteral("launchermetadata.json"), "{\"old\": true}"));
        QVERIFY(bed.writeSettings(nginx.url(QStringLiteral("launcher/config.json"))));
        bed.createHandler();
        QCOMPARE(bed.Handler->configurationUrl(), nginx.url(QStringLiteral("launcher/config.json")));
        QVERIFY(!bed.Handler->configuration());

        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.Recorded->waitForCount(1));
        QCOMPARE(bed.Recorded->Events, QStringList{QStringLiteral("loaded")});
        QVERIFY(!bed.Handler->usingStoredCopy());
        QVERIFY(bed.Handler->configuration());
        QCOMPARE(bed.Handler->configuration()->rawDocument(), document);
        QCOMPARE(bed.Handler->configuration()->baseUrl(), nginx.url(QStringLiteral("launcher/")));
        QCOMPARE(bed.Handler->configuration()->packages().size(), std::size_t(4));
        QVERIFY(bed.Handler->configuration()->showPackageNames());
        QCOMPARE(bed.storedCopy(), document);
        QCOMPARE(nginx.requestCount(QStringLiteral("/launcher/config.json")), 1);
    }

    void startDecidesOnce_data() {
        QTest::addColumn<QString>("source"); // "nginx", "refused" (nothing listens) or "stalled"
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("stored"); // the stored copy before the start; empty: none
        QTest::addColumn<int>("failing");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<QStringList>("events"); // "%path" stands for the stored copy's path
        const QByteArray good = configurationDocument();
        const QByteArray corruptStored("{\"packages\": [ {\"name\": \"Vantor\" ");
        QJsonParseError parseError;
        QJsonDocument::fromJson(corruptStored, &parseError);
        const int none = int(EFailingOperation::None);
        const QString refused = QStringLiteral("^Download of configuration failed: ");
        const QStringList maintenance{QStringLiteral("maintenance")};
        const QStringList loaded{QStringLiteral("loaded")};
        // A server that refuses the document means maintenance even when a stored copy exists.
        QTest::newRow("403") << "nginx" << 403 << QByteArray() << good << none << refused << maintenance;
        QTest::newRow("404") << "nginx" << 404 << QByteArray() << good << none << refused << maintenance;
        QTest::newRow("empty document")
            << "nginx" << 200 << QByteArray() << good << none << refused << maintenance;
        // A corrupt download neither uses nor replaces the good stored copy.
        QTest::newRow("corrupt download")
            << "nginx" << 200 << good.left(100) << good << none << QString() << maintenance;
        // An unreachable server falls back to the stored copy, or to maintenance without one.
        QTest::newRow("503, stored copy")
            << "nginx" << 503 << QByteArray() << good << none << QString() << loaded;
        QTest::newRow("503, no stored copy")
            << "nginx" << 503 << QByteArray() << QByteArray() << none << QString() << maintenance;
        QTest::newRow("refused, stored copy")
            << "refused" << 0 << QByteArray() << good << none << QString() << loaded;
        QTest::newRow("refused, no stored copy")
            << "refused" << 0 << QByteArray() << QByteArray() << none << QString() << maintenance;
        QTest::newRow("stalled past the timeout, no stored copy")
            << "stalled" << 0 << QByteArray() << QByteArray() << none << QString() << maintenance;
        // Disk failures: the stored copy does not parse, cannot be read, or cannot be written (the
        // downloaded configuration still loads then).
        QTest::newRow("corrupt stored copy")
            << "refused" << 0 << QByteArray() << corruptStored << none << QString()
            << QStringList{QStringLiteral("disk ") + parseError.errorString()};
        QTest::newRow("unreadable stored copy")
            << "refused" << 0 << QByteArray() << good << int(EFailingOperation::Read) << QString()
            << QStringList{QStringLiteral("disk ") +
                           TFailingFilesystem::ioError(QStringLiteral("%path"),
                                                       QStringLiteral("Input/output error"))};
        QTest::newRow("unwritable stored copy")
            << "nginx" << 200 << good << QByteArray() << int(EFailingOperation::Write) << QString()
            << QStringList{QStringLiteral("disk ") +
                               TFailingFilesystem::ioError(QStringLiteral("%path"),
                                                           QStringLiteral("No space left on device")),
                           QStringLiteral("loaded")};
    }

    void startDecidesOnce() {
        QFETCH(QString, source);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, stored);
        QFETCH(int, failing);
        QFETCH(QString, logged);
        QFETCH(QStringList, events);
        TNginxFixture nginx;
        TScriptedHttpServer stalling;
        QUrl configurationUrl = unreachableUrl(QStringLiteral("launcher/config.json"));
        if (source == QLatin1String("nginx")) {
            if (status == 200) {
                QVERIFY(nginx.writeFile(QStringLiteral("launcher/config.json"), body));
            } else {
                nginx.addFixedStatus(QStringLiteral("/launcher/config.json"), status);
            }
            QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
            configurationUrl = nginx.url(QStringLiteral("launcher/config.json"));
        } else if (source == QLatin1String("stalled")) {
            QVERIFY(stalling.start());
            stalling.setAnswer(QStringLiteral("/config.json"),
                               TScriptedAnswer::faulty(EScriptedFault::StallBeforeHeaders, QByteArray()));
            configurationUrl = stalling.url(QStringLiteral("config.json"));
        }

        TTestBed bed;
        if (!stored.isEmpty()) {
            QVERIFY(bed.writeLauncherFile(QStringLiteral("launchermetadata.json"), stored));
        }
        QVERIFY(bed.writeSettings(configurationUrl, source == QLatin1String("stalled") ? 100 : 10000));
        bed.createHandler(EFailingOperation(failing));
        if (!logged.isEmpty()) {
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(logged));
        }
        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.Recorded->waitForCount(events.size()));
        events.replaceInStrings(QStringLiteral("%path"), bed.storedCopyPath());
        QCOMPARE(bed.Recorded->Events, events);
        QCOMPARE(bool(bed.Handler->configuration()), events.last() == QLatin1String("loaded"));
        if (bed.Handler->configuration() && failing == int(EFailingOperation::None)) {
            QVERIFY(bed.Handler->usingStoredCopy());
            QCOMPARE(bed.Handler->configuration()->rawDocument(), stored);
            QCOMPARE(bed.Handler->configuration()->baseUrl(),
                     QUrl::fromLocalFile(bed.storedCopyPath()).adjusted(QUrl::RemoveFilename));
        }
        if (stored.isEmpty()) {
            QVERIFY(!QFile::exists(bed.storedCopyPath()));
        } else {
            QCOMPARE(bed.storedCopy(), stored);
        }
        stalling.closeAllConnections();
    }

    void answerAfterTheTimeoutDecidesNothing_data() {
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("document arrives late") << true;
        QTest::newRow("failure arrives late") << false;
    }

    void answerAfterTheTimeoutDecidesNothing() {
        QFETCH(bool, succeeds);
        TScriptedHttpServer server;
        QVERIFY(server.start());
        TScriptedAnswer late =
            succeeds
                ? TScriptedAnswer::ok(configurationDocument(server.url(QStringLiteral("late-hints.json"))))
                : TScriptedAnswer::withStatus(500, "down");
        late.delayBeforeHeadersMs = 1500;
        server.setAnswer(QStringLiteral("/config.json"), late);

        TTestBed bed;
        const QByteArray stored = configurationDocument();
        QVERIFY(bed.writeLauncherFile(QStringLiteral("launchermetadata.json"), stored));
        QVERIFY(bed.writeSettings(server.url(QStringLiteral("config.json")), 200));
        bed.createHandler();
        QSignalSpy poolEnded(bed.Pool.get(),
                             succeeds ? SIGNAL(success(QUrl, QByteArray))
                                      : SIGNAL(failed(QUrl, QNetworkReply::NetworkError, QString)));
        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.Recorded->waitForCount(1));
        QCOMPARE(bed.Recorded->Events, QStringList{QStringLiteral("loaded")});
        QVERIFY(bed.Handler->usingStoredCopy());
        const std::shared_ptr<TLauncherConfigurationReader> inUse = bed.Handler->configuration();
        QCOMPARE(poolEnded.count(), 0);

        QVERIFY(poolEnded.wait(WaitMs));
        QCOMPARE(poolEnded.at(0).at(0).toUrl(), server.url(QStringLiteral("config.json")));
        QCOMPARE(bed.Recorded->Events, QStringList{QStringLiteral("loaded")});
        QCOMPARE(bed.Handler->configuration(), inUse);
        QCOMPARE(bed.storedCopy(), stored);
    }

    void invalidConfigurationAddressDecidesOnce() {
        // Settings without an address: the pool refuses it at once and then fails it once more.
        TTestBed bed;
        QVERIFY(bed.writeLauncherFile(QStringLiteral("launchermetadata.json"), configurationDocument()));
        QVERIFY(bed.writeLauncherFile(
            QStringLiteral("launchersettings.ini"),
            "[DIRECTORIES]\npackages=packages\n[TIMING]\ndownloadErrorTimeout=10000\n"));
        bed.createHandler();
        QVERIFY(bed.Handler->configurationUrl().isEmpty());
        QSignalSpy poolFailed(bed.Pool.get(), &shared::TDownloadPool::failed);
        bed.Handler->startConfigurationDownload();
        QTRY_COMPARE_WITH_TIMEOUT(poolFailed.count(), 2, WaitMs);
        QCOMPARE(bed.Recorded->Events, QStringList{QStringLiteral("loaded")});
        QVERIFY(bed.Handler->usingStoredCopy());
    }

    // Package and asset documents.
    void packageAndAssetDocumentsAreAttached() {
        TNginxFixture nginx;
        serveDocuments(nginx, configurationDocument());
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        TTestBed bed;
        QVERIFY(bed.writeSettings(nginx.url(QStringLiteral("launcher/config.json"))));
        bed.createHandler();
        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.Recorded->waitForCount(1));
        bed.Handler->requestPackageConfigurations();
        QVERIFY(bed.Recorded->waitForCount(2));
        QCOMPARE(bed.Recorded->Events, (QStringList{QStringLiteral("loaded"), QStringLiteral("finished")}));

        QCOMPARE(bed.availableNames(),
                 (QStringList{QStringLiteral("Vantor"), QStringLiteral("Preview"), QStringLiteral("Plain")}));
        const TPackageConfigurationReader* vantor =
            bed.package(QStringLiteral("Vantor"))->configurationForThisSystem();
        QCOMPARE(versionLabel(*vantor), QStringLiteral("P1 A7"));
        QCOMPARE(vantor->executable(), QStringLiteral("vantor.bin"));
        // Each document's relative addresses resolve against that document's own directory.
        QCOMPARE(vantor->chunks().size(), std::size_t(2));
        QCOMPARE(vantor->chunks()[0].Url, nginx.url(QStringLiteral("launcher/vantor/chunks/vantor.bin")));
        QCOMPARE(vantor->chunks()[1].Url, nginx.url(QStringLiteral("launcher/shared/a/c0")));
        QCOMPARE(vantor->files().size(), std::size_t(2));
        QCOMPARE(vantor->files()[0].LocalFile, QStringLiteral("data/shared.pak"));
        QCOMPARE(vantor->rawAssetDocument(), assetDocument());

        // The shared asset document serves both packages from one request.
        const TPackageConfigurationReader* preview =
            bed.package(QStringLiteral("Preview"))->configurationForThisSystem();
        QCOMPARE(versionLabel(*preview), QStringLiteral("P2 A7"));
        QCOMPARE(preview->chunks()[1].Url, vantor->chunks()[1].Url);
        QCOMPARE(nginx.requestCount(QStringLiteral("/launcher/shared/assets.json")), 1);

        // A build without asset document is complete with its package document alone.
        QCOMPARE(versionLabel(*bed.package(QStringLiteral("Plain"))->configurationForThisSystem()),
                 QStringLiteral("P3 A?"));

        const TPackageConfigurationReader* launcher =
            bed.Handler->configuration()->launcherPackage()->configurationForThisSystem();
        QVERIFY(launcher);
        QCOMPARE(launcher->packageVersion(), QStringLiteral("0.0.13"));

        QVERIFY(!bed.package(QStringLiteral("WindowsOnly"))->configurationForThisSystem());
        QCOMPARE(nginx.requestCount(QStringLiteral("/launcher/winonly/package.json")), 0);
        QCOMPARE(nginx.requestCount(QStringLiteral("/launcher/win/package.json")), 0);
    }

    void configurationWithoutPackagesFinishesAtOnce() {
        for (const QByteArray& document :
             {QByteArray("[]"), QByteArray("{\"packages\": [{\"name\": \"NoBuilds\"}]}"),
              QByteArray("{\"launcher\": {\"builds\": [{\"os\": \"macos\", \"architecture\": \"x86_64\", "
                         "\"url\": \"l.json\"}]}}")}) {
            TNginxFixture nginx;
            QVERIFY(nginx.writeFile(QStringLiteral("config.json"), document));
            QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
            TTestBed bed;
            QVERIFY(bed.writeSettings(nginx.url(QStringLiteral("config.json"))));
            bed.createHandler();
            bed.Handler->startConfigurationDownload();
            QVERIFY(bed.Recorded->waitForCount(1));
            bed.Handler->requestPackageConfigurations();
            // Nothing to wait for: finished comes at once, inside the call.
            QCOMPARE(bed.Recorded->Events,
                     (QStringList{QStringLiteral("loaded"), QStringLiteral("finished")}));
            QVERIFY(bed.Handler->configuration()->availablePackages().empty());
            QCOMPARE(nginx.accessLogLines().size(), 1);
        }
    }

    void failingPackageDocumentLeavesTheOthersAvailable_data() {
        QTest::addColumn<QString>("brokenPath");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("available");
        QTest::addColumn<QString>("logged");
        const QStringList withoutVantor{QStringLiteral("Preview"), QStringLiteral("Plain")};
        const QString downloadFailed =
            QStringLiteral("^Download of package configuration/asset from configuration .*%1 failed: ");
        const QString notValid =
            QStringLiteral("^Package configuration from .*%1 is not valid; the package is not offered\\.$");
        QTest::newRow("404") << "launcher/vantor/package.json" << 404 << QByteArray() << withoutVantor
                             << downloadFailed.arg(QStringLiteral("vantor/package\\.json"));
        QTest::newRow("empty document")
            << "launcher/vantor/package.json" << 200 << QByteArray() << withoutVantor
            << downloadFailed.arg(QStringLiteral("vantor/package\\.json"));
        QTest::newRow("not JSON") << "launcher/vantor/package.json" << 200
                                  << QByteArray("{\"version\": \"1\", \"files\": [") << withoutVantor
                                  << notValid.arg(QStringLiteral("vantor/package\\.json"));
        QTest::newRow("chunk index outside the table")
            << "launcher/vantor/package.json" << 200
            << QByteArray("{\"version\": \"1\", \"chunks\": [], \"files\": [{\"localfile\": \"x\", "
                          "\"chunks\": [2]}]}")
            << withoutVantor << notValid.arg(QStringLiteral("vantor/package\\.json"));
        // A shared asset document that fails takes every package that waits for it along.
        QTest::newRow("shared asset document missing")
            << "launcher/shared/assets.json" << 404 << QByteArray() << QStringList{QStringLiteral("Plain")}
            << downloadFailed.arg(QStringLiteral("shared/assets\\.json"));
        QTest::newRow("shared asset document not JSON")
            << "launcher/shared/assets.json" << 200 << QByteArray("{{")
            << QStringList{QStringLiteral("Plain")} << notValid.arg(QStringLiteral("preview/package\\.json"));
    }

    void failingPackageDocumentLeavesTheOthersAvailable() {
        QFETCH(QString, brokenPath);
        QFETCH(int, status);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, available);
        QFETCH(QString, logged);
        TNginxFixture nginx;
        serveDocuments(nginx, configurationDocument());
        if (status == 200) {
            QVERIFY(nginx.writeFile(brokenPath, content));
        } else {
            nginx.addFixedStatus(QLatin1Char('/') + brokenPath, status);
        }
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        TTestBed bed;
        QVERIFY(bed.writeSettings(nginx.url(QStringLiteral("launcher/config.json"))));
        bed.createHandler();
        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.Recorded->waitForCount(1));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(logged));
        bed.Handler->requestPackageConfigurations();
        QVERIFY(bed.Recorded->waitForCount(2));
        QCOMPARE(bed.Recorded->Events, (QStringList{QStringLiteral("loaded"), QStringLiteral("finished")}));
        QCOMPARE(bed.availableNames(), available);
        for (const std::shared_ptr<TPackage>& package : bed.Handler->configuration()->packages()) {
            if (!available.contains(package->name()) && package->selectBuildForThisSystem()) {
                QVERIFY(!package->selectBuildForThisSystem()->Configuration);
            }
        }
        QVERIFY(bed.Handler->configuration()->launcherPackage()->configurationForThisSystem());
        // Nothing arrives later that could announce the end a second time.
        QTest::qWait(200);
        QCOMPARE(bed.Recorded->Events.size(), 2);
    }

    void nocacheItemsOnDocumentRequestsStillMatchTheAnswers() {
        TNginxFixture nginx;
        serveDocuments(nginx, configurationDocument());
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        TTestBed bed;
        QVERIFY(bed.writeSettings(nginx.url(QStringLiteral("launcher/config.json")), 10000, true));
        bed.createHandler();
        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.Recorded->waitForCount(1));
        bed.Handler->requestPackageConfigurations();
        QVERIFY(bed.Recorded->waitForCount(2));
        QCOMPARE(bed.availableNames(),
                 (QStringList{QStringLiteral("Vantor"), QStringLiteral("Preview"), QStringLiteral("Plain")}));
        QVERIFY(bed.Handler->configuration()->launcherPackage()->configurationForThisSystem());

        // "GET <uri> <status> <bytes>": every document request carries its own nocache item, the
        // configuration request none. So the shared asset document is asked for once per package.
        QVERIFY(nginx.waitForRequestCount(QStringLiteral("/launcher/shared/assets.json"), 2));
        const QRegularExpression documentRequest(QStringLiteral(
            "^GET "
            "/launcher/(self|vantor|preview|plain|shared)/(package|assets)\\.json\\?nocache=[A-Za-z0-9]{32} "
            "200 "));
        int documentRequests = 0;
        for (const QString& line : nginx.accessLogLines()) {
            if (line.startsWith(QLatin1String("GET /launcher/config.json "))) {
                QVERIFY2(!line.contains(QLatin1String("nocache")), qPrintable(line));
                continue;
            }
            QVERIFY2(documentRequest.match(line).hasMatch(), qPrintable(line));
            ++documentRequests;
        }
        QCOMPARE(documentRequests, 6);
        // The resolved chunk addresses do not inherit the document's nocache item.
        const TPackageConfigurationReader* vantor =
            bed.package(QStringLiteral("Vantor"))->configurationForThisSystem();
        QCOMPARE(vantor->chunks()[0].Url, nginx.url(QStringLiteral("launcher/vantor/chunks/vantor.bin")));
        QVERIFY(!vantor->packageBaseUrl().hasQuery());
    }

    void storedCopyReadsTheInstalledDocuments() {
        TTestBed bed;
        QVERIFY(bed.writeLauncherFile(QStringLiteral("launchermetadata.json"), configurationDocument()));
        QVERIFY(bed.writeLauncherFile(QStringLiteral("packages/vantor/package.json"),
                                      packageDocument(QStringLiteral("9"), QStringLiteral("vantor.bin"))));
        QVERIFY(bed.writeLauncherFile(QStringLiteral("packages/vantor/assets.json"), assetDocument()));
        // Installed without assets, as its build has none: no "assets.json" is ever written for it.
        QVERIFY(bed.writeLauncherFile(QStringLiteral("packages/plain/package.json"),
                                      packageDocument(QStringLiteral("4"), QStringLiteral("plain.bin"))));
        // "Preview" is not installed; the launcher's own documents are never looked for offline.
        QVERIFY(bed.writeSettings(unreachableUrl(QStringLiteral("launcher/config.json"))));
        bed.createHandler();
        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.Recorded->waitForCount(1));
        QVERIFY(bed.Handler->usingStoredCopy());

        bed.Handler->requestPackageConfigurations();
        QVERIFY(bed.Recorded->waitForCount(2));
        QCOMPARE(bed.Recorded->Events, (QStringList{QStringLiteral("loaded"), QStringLiteral("finished")}));
        QCOMPARE(bed.availableNames(), (QStringList{QStringLiteral("Vantor"), QStringLiteral("Plain")}));
        QVERIFY(!bed.Handler->configuration()->launcherPackage()->configurationForThisSystem());

        const TPackageConfigurationReader* vantor =
            bed.package(QStringLiteral("Vantor"))->configurationForThisSystem();
        QCOMPARE(versionLabel(*vantor), QStringLiteral("P9 A7"));
        const QUrl installed =
            QUrl::fromLocalFile(bed.LauncherDirectory.filePath(QStringLiteral("packages/vantor/")));
        QCOMPARE(vantor->packageBaseUrl(), installed);
        QCOMPARE(vantor->chunks()[0].Url, installed.resolved(QUrl(QStringLiteral("chunks/vantor.bin"))));
        QCOMPARE(versionLabel(*bed.package(QStringLiteral("Plain"))->configurationForThisSystem()),
                 QStringLiteral("P4 A?"));
    }

    void requestWithoutConfigurationDoesNothing() {
        TTestBed bed;
        QVERIFY(bed.writeSettings(unreachableUrl(QStringLiteral("config.json"))));
        bed.createHandler();
        bed.Handler->requestPackageConfigurations();
        QTest::qWait(50);
        QVERIFY(bed.Recorded->Events.isEmpty());
    }

    // Hints.
    void hintsDocumentGivesTheCurrentHint() {
        const QJsonArray hints{QJsonObject{{QStringLiteral("title"), QStringLiteral("Patch notes")},
                                           {QStringLiteral("richText"), QStringLiteral("Read <b>them</b>")},
                                           {QStringLiteral("category"), QStringLiteral("cat1")}},
                               QJsonObject{{QStringLiteral("title"), QStringLiteral("Server restart")},
                                           {QStringLiteral("richText"), QStringLiteral("Back soon")},
                                           {QStringLiteral("category"), QStringLiteral("cat2")},
                                           {QStringLiteral("emergency"), true}}};
        const QJsonArray noCurrentHint{QJsonObject{{QStringLiteral("title"), QStringLiteral("Hidden")},
                                                   {QStringLiteral("richText"), QStringLiteral("x")},
                                                   {QStringLiteral("emergency"), false}}};
        TNginxFixture nginx;
        QVERIFY(nginx.writeFile(QStringLiteral("hints.json"), QJsonDocument(hints).toJson()));
        QVERIFY(nginx.writeFile(QStringLiteral("quiet.json"), QJsonDocument(noCurrentHint).toJson()));
        QVERIFY(nginx.writeFile(QStringLiteral("broken.json"), "[{\"title\": "));
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        for (const QString& name :
             {QStringLiteral("broken.json"), QStringLiteral("quiet.json"), QStringLiteral("hints.json")}) {
            QVERIFY(nginx.writeFile(QStringLiteral("config.json"), configurationDocument(nginx.url(name))));
            TTestBed bed;
            QVERIFY(bed.writeSettings(nginx.url(QStringLiteral("config.json"))));
            bed.createHandler();
            bed.Handler->startConfigurationDownload();
            QVERIFY(bed.Recorded->waitForCount(1));
            QSignalSpy poolSuccess(bed.Pool.get(), &shared::TDownloadPool::success);
            bed.Pool->download(bed.Handler->configuration()->hintsUrl());
            QVERIFY(poolSuccess.wait(WaitMs));
            if (name != QLatin1String("hints.json")) {
                // Nothing to feature: nothing stored, nothing announced.
                QCOMPARE(bed.Recorded->Events, QStringList{QStringLiteral("loaded")});
                QVERIFY(bed.Handler->hints().empty());
                continue;
            }
            QCOMPARE(bed.Recorded->Events,
                     (QStringList{QStringLiteral("loaded"), QStringLiteral("hint Server restart"),
                                  QStringLiteral("hints 2")}));
            QCOMPARE(bed.Handler->currentHint().m_Title, QStringLiteral("Server restart"));
            QCOMPARE(bed.Handler->hints().size(), std::size_t(2));
        }
    }
};

QTEST_GUILESS_MAIN(TestLauncherConfigurationHandler)
#include "tst_launcherconfigurationhandler.moc"
