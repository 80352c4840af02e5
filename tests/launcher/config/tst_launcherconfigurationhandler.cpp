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
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

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
using testsupport::operator""_qs;

namespace {

const int WaitMs = 15000;

// Every signal of the handler in the order it came, so a second decision shows up.
class THandlerEvents : public QObject {
public:
    explicit THandlerEvents(TLauncherConfigurationHandler& handler) {
        connect(&handler, &TLauncherConfigurationHandler::mainConfigurationLoaded, this,
                [this] { Events.append(u"loaded"_qs); });
        connect(&handler, &TLauncherConfigurationHandler::mainConfigurationDownloadFailed, this,
                [this] { Events.append(u"maintenance"_qs); });
        connect(&handler, &TLauncherConfigurationHandler::diskAccessFailed, this,
                [this](const QString& message) { Events.append(u"disk "_qs + message); });
        connect(&handler, &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished, this,
                [this] { Events.append(u"finished"_qs); });
        connect(&handler, &TLauncherConfigurationHandler::hintAreaDataReceived, this,
                [this](const shared::THint& hint) { Events.append(u"hint "_qs + hint.m_Title); });
        connect(&handler, &TLauncherConfigurationHandler::hintsAreaDataReceived, this,
                [this](const std::vector<shared::THint>& hints) {
                    Events.append(u"hints %1"_qs.arg(hints.size()));
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
        return writeLauncherFile(u"launchersettings.ini"_qs, ini);
    }

    void createHandler(EFailingOperation failing = EFailingOperation::None) {
        Helper = std::make_shared<TFailingFilesystem>(LauncherDirectory.path(), failing);
        Handler = std::make_unique<TLauncherConfigurationHandler>(Pool, Helper);
        Recorded = std::make_unique<THandlerEvents>(*Handler);
    }

    // Settings for the address, a handler on them, and the main document loaded or refused.
    bool loadConfiguration(const QUrl& configurationUrl, int errorTimeoutMs = 10000, bool nocache = false) {
        if (!writeSettings(configurationUrl, errorTimeoutMs, nocache)) {
            return false;
        }
        createHandler();
        Handler->startConfigurationDownload();
        return Recorded->waitForCount(1);
    }

    bool writeLauncherFile(const QString& relativePath, const QByteArray& content) const {
        const QString path = LauncherDirectory.filePath(relativePath);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }

    QString storedCopyPath() const { return LauncherDirectory.filePath(u"launchermetadata.json"_qs); }

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
    return QUrl(u"http://127.0.0.1:%1/%2"_qs.arg(port).arg(path));
}

QJsonObject build(const QString& os, const QString& url, const QString& assetsUrl = QString()) {
    QJsonObject object{{u"os"_qs, os}, {u"architecture"_qs, u"x86_64"_qs}, {u"url"_qs, url}};
    if (!assetsUrl.isEmpty()) {
        object.insert(u"assetsurl"_qs, assetsUrl);
    }
    return object;
}

QJsonObject entry(const QString& name, const QString& directory, const QJsonArray& builds) {
    return QJsonObject{{u"name"_qs, name}, {u"directoryname"_qs, directory}, {u"builds"_qs, builds}};
}

// Launcher package and four client packages; Vantor and Preview share one asset document, Plain
// has none, WindowsOnly has no build for this system. Relative addresses, as a server lists them.
QByteArray configurationDocument(const QUrl& hintsUrl = QUrl()) {
    const QJsonObject document{
        {u"launcher"_qs,
         entry(u"Launcher"_qs, QString(), QJsonArray{build(u"linux"_qs, u"self/package.json"_qs)})},
        {u"packages"_qs,
         QJsonArray{
             entry(u"Vantor"_qs, u"vantor"_qs,
                   QJsonArray{build(u"windows"_qs, u"win/package.json"_qs),
                              build(u"Linux"_qs, u"vantor/package.json"_qs, u"shared/assets.json"_qs)}),
             entry(u"Preview"_qs, u"preview"_qs,
                   QJsonArray{build(u"linux"_qs, u"preview/package.json"_qs, u"shared/assets.json"_qs)}),
             entry(u"WindowsOnly"_qs, u"winonly"_qs,
                   QJsonArray{build(u"windows"_qs, u"winonly/package.json"_qs)}),
             entry(u"Plain"_qs, u"plain"_qs, QJsonArray{build(u"linux"_qs, u"plain/package.json"_qs)})}},
        {u"hints"_qs, hintsUrl.toString()},
        {u"showpackagenames"_qs, true}};
    // Indented on purpose: the stored copy must keep the bytes, not a re-serialised form.
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

QJsonObject chunk(const QString& url, const QByteArray& content) {
    return QJsonObject{
        {u"url"_qs, url},
        {u"unpackedhash"_qs,
         QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex())},
        {u"unpackedsize"_qs, content.size()}};
}

QByteArray packageDocument(const QString& version, const QString& localFile) {
    const QJsonObject document{
        {u"version"_qs, version},
        {u"executable"_qs, localFile},
        {u"chunks"_qs, QJsonArray{chunk(u"chunks/"_qs + localFile, localFile.toUtf8())}},
        {u"files"_qs, QJsonArray{QJsonObject{{u"localfile"_qs, localFile}, {u"chunks"_qs, QJsonArray{0}}}}}};
    return QJsonDocument(document).toJson();
}

// Its chunk follows the package document's single chunk in the combined table.
QByteArray assetDocument() {
    const QJsonObject document{{u"version"_qs, 7},
                               {u"chunks"_qs, QJsonArray{chunk(u"a/c0"_qs, "asset")}},
                               {u"files"_qs, QJsonArray{QJsonObject{{u"localfile"_qs, u"data/shared.pak"_qs},
                                                                    {u"chunks"_qs, QJsonArray{1}}}}}};
    return QJsonDocument(document).toJson();
}

void serveDocuments(TNginxFixture& nginx, const QByteArray& configuration) {
    QVERIFY(nginx.writeFile(u"launcher/config.json"_qs, configuration));
    QVERIFY(nginx.writeFile(u"launcher/self/package.json"_qs,
                            packageDocument(u"0.0.13"_qs, u"VantorLauncher"_qs)));
    QVERIFY(nginx.writeFile(u"launcher/vantor/package.json"_qs, packageDocument(u"1"_qs, u"vantor.bin"_qs)));
    QVERIFY(
        nginx.writeFile(u"launcher/preview/package.json"_qs, packageDocument(u"2"_qs, u"preview.bin"_qs)));
    QVERIFY(nginx.writeFile(u"launcher/plain/package.json"_qs, packageDocument(u"3"_qs, u"plain.bin"_qs)));
    QVERIFY(nginx.writeFile(u"launcher/shared/assets.json"_qs, assetDocument()));
}

} // namespace

class TestLauncherConfigurationHandler : public QObject {
    Q_OBJECT

private slots:
    // The configuration itself.
    void configurationLoadedOnlineIsStoredByteForByte() {
        TNginxFixture nginx;
        const QByteArray document = configurationDocument();
        QVERIFY(nginx.writeFile(u"launcher/config.json"_qs, document));
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        TTestBed bed;
        QVERIFY(bed.writeLauncherFile(u"launchermetadata.json"_qs, "{\"old\": true}"));
        QVERIFY(bed.writeSettings(nginx.url(u"launcher/config.json"_qs)));
        bed.createHandler();
        QCOMPARE(bed.Handler->configurationUrl(), nginx.url(u"launcher/config.json"_qs));
        QVERIFY(!bed.Handler->configuration());

        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.Recorded->waitForCount(1));
        QCOMPARE(bed.Recorded->Events, QStringList{u"loaded"_qs});
        QVERIFY(!bed.Handler->usingStoredCopy());
        QVERIFY(bed.Handler->configuration());
        QCOMPARE(bed.Handler->configuration()->rawDocument(), document);
        QCOMPARE(bed.Handler->configuration()->baseUrl(), nginx.url(u"launcher/"_qs));
        QCOMPARE(bed.Handler->configuration()->packages().size(), std::size_t(4));
        QVERIFY(bed.Handler->configuration()->showPackageNames());
        QCOMPARE(bed.storedCopy(), document);
        QCOMPARE(nginx.requestCount(u"/launcher/config.json"_qs), 1);
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
        const QString refused = u"^Download of configuration failed: "_qs;
        const QStringList maintenance{u"maintenance"_qs};
        const QStringList loaded{u"loaded"_qs};
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
            << QStringList{u"disk "_qs + parseError.errorString()};
        QTest::newRow("unreadable stored copy")
            << "refused" << 0 << QByteArray() << good << int(EFailingOperation::Read) << QString()
            << QStringList{u"disk "_qs + TFailingFilesystem::ioError(u"%path"_qs, u"Input/output error"_qs)};
        QTest::newRow("unwritable stored copy")
            << "nginx" << 200 << good << QByteArray() << int(EFailingOperation::Write) << QString()
            << QStringList{u"disk "_qs +
                               TFailingFilesystem::ioError(u"%path"_qs, u"No space left on device"_qs),
                           u"loaded"_qs};
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
        QUrl configurationUrl = unreachableUrl(u"launcher/config.json"_qs);
        if (source == u"nginx"_qs) {
            if (status == 200) {
                QVERIFY(nginx.writeFile(u"launcher/config.json"_qs, body));
            } else {
                nginx.addFixedStatus(u"/launcher/config.json"_qs, status);
            }
            QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
            configurationUrl = nginx.url(u"launcher/config.json"_qs);
        } else if (source == u"stalled"_qs) {
            QVERIFY(stalling.start());
            stalling.setAnswer(u"/config.json"_qs,
                               TScriptedAnswer::faulty(EScriptedFault::StallBeforeHeaders, QByteArray()));
            configurationUrl = stalling.url(u"config.json"_qs);
        }

        TTestBed bed;
        if (!stored.isEmpty()) {
            QVERIFY(bed.writeLauncherFile(u"launchermetadata.json"_qs, stored));
        }
        QVERIFY(bed.writeSettings(configurationUrl, source == u"stalled"_qs ? 100 : 10000));
        bed.createHandler(EFailingOperation(failing));
        if (!logged.isEmpty()) {
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(logged));
        }
        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.Recorded->waitForCount(events.size()));
        events.replaceInStrings(u"%path"_qs, bed.storedCopyPath());
        QCOMPARE(bed.Recorded->Events, events);
        QCOMPARE(bool(bed.Handler->configuration()), events.last() == u"loaded"_qs);
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
            succeeds ? TScriptedAnswer::ok(configurationDocument(server.url(u"late-hints.json"_qs)))
                     : TScriptedAnswer::withStatus(500, "down");
        late.delayBeforeHeadersMs = 1500;
        server.setAnswer(u"/config.json"_qs, late);

        TTestBed bed;
        const QByteArray stored = configurationDocument();
        QVERIFY(bed.writeLauncherFile(u"launchermetadata.json"_qs, stored));
        QVERIFY(bed.writeSettings(server.url(u"config.json"_qs), 200));
        bed.createHandler();
        QSignalSpy poolEnded(bed.Pool.get(),
                             succeeds ? SIGNAL(success(QUrl, QByteArray))
                                      : SIGNAL(failed(QUrl, QNetworkReply::NetworkError, QString)));
        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.Recorded->waitForCount(1));
        QCOMPARE(bed.Recorded->Events, QStringList{u"loaded"_qs});
        QVERIFY(bed.Handler->usingStoredCopy());
        const std::shared_ptr<TLauncherConfigurationReader> inUse = bed.Handler->configuration();
        QCOMPARE(poolEnded.count(), 0);

        QVERIFY(poolEnded.wait(WaitMs));
        QCOMPARE(poolEnded.at(0).at(0).toUrl(), server.url(u"config.json"_qs));
        QCOMPARE(bed.Recorded->Events, QStringList{u"loaded"_qs});
        QCOMPARE(bed.Handler->configuration(), inUse);
        QCOMPARE(bed.storedCopy(), stored);
    }

    void invalidConfigurationAddressDecidesOnce() {
        // Settings without an address: the pool refuses it at once and then fails it once more.
        TTestBed bed;
        QVERIFY(bed.writeLauncherFile(u"launchermetadata.json"_qs, configurationDocument()));
        QVERIFY(bed.writeLauncherFile(
            u"launchersettings.ini"_qs,
            "[DIRECTORIES]\npackages=packages\n[TIMING]\ndownloadErrorTimeout=10000\n"));
        bed.createHandler();
        QVERIFY(bed.Handler->configurationUrl().isEmpty());
        QSignalSpy poolFailed(bed.Pool.get(), &shared::TDownloadPool::failed);
        bed.Handler->startConfigurationDownload();
        QTRY_COMPARE_WITH_TIMEOUT(poolFailed.count(), 2, WaitMs);
        QCOMPARE(bed.Recorded->Events, QStringList{u"loaded"_qs});
        QVERIFY(bed.Handler->usingStoredCopy());
    }

    // Package and asset documents.
    void packageAndAssetDocumentsAreAttached() {
        TNginxFixture nginx;
        serveDocuments(nginx, configurationDocument());
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        TTestBed bed;
        QVERIFY(bed.loadConfiguration(nginx.url(u"launcher/config.json"_qs)));
        bed.Handler->requestPackageConfigurations();
        QVERIFY(bed.Recorded->waitForCount(2));
        QCOMPARE(bed.Recorded->Events, (QStringList{u"loaded"_qs, u"finished"_qs}));

        QCOMPARE(bed.availableNames(), (QStringList{u"Vantor"_qs, u"Preview"_qs, u"Plain"_qs}));
        const TPackageConfigurationReader* vantor = bed.package(u"Vantor"_qs)->configurationForThisSystem();
        QCOMPARE(versionLabel(*vantor), u"P1 A7"_qs);
        QCOMPARE(vantor->executable(), u"vantor.bin"_qs);
        // Each document's relative addresses resolve against that document's own directory.
        QCOMPARE(vantor->chunks().size(), std::size_t(2));
        QCOMPARE(vantor->chunks()[0].Url, nginx.url(u"launcher/vantor/chunks/vantor.bin"_qs));
        QCOMPARE(vantor->chunks()[1].Url, nginx.url(u"launcher/shared/a/c0"_qs));
        QCOMPARE(vantor->files().size(), std::size_t(2));
        QCOMPARE(vantor->files()[0].LocalFile, u"data/shared.pak"_qs);
        QCOMPARE(vantor->rawAssetDocument(), assetDocument());

        // The shared asset document serves both packages from one request.
        const TPackageConfigurationReader* preview = bed.package(u"Preview"_qs)->configurationForThisSystem();
        QCOMPARE(versionLabel(*preview), u"P2 A7"_qs);
        QCOMPARE(preview->chunks()[1].Url, vantor->chunks()[1].Url);
        QCOMPARE(nginx.requestCount(u"/launcher/shared/assets.json"_qs), 1);

        // A build without asset document is complete with its package document alone.
        QCOMPARE(versionLabel(*bed.package(u"Plain"_qs)->configurationForThisSystem()), u"P3 A?"_qs);

        const TPackageConfigurationReader* launcher =
            bed.Handler->configuration()->launcherPackage()->configurationForThisSystem();
        QVERIFY(launcher);
        QCOMPARE(launcher->packageVersion(), u"0.0.13"_qs);

        QVERIFY(!bed.package(u"WindowsOnly"_qs)->configurationForThisSystem());
        QCOMPARE(nginx.requestCount(u"/launcher/winonly/package.json"_qs), 0);
        QCOMPARE(nginx.requestCount(u"/launcher/win/package.json"_qs), 0);
    }

    void configurationWithoutPackagesFinishesAtOnce() {
        for (const QByteArray& document :
             {QByteArray("[]"), QByteArray("{\"packages\": [{\"name\": \"NoBuilds\"}]}"),
              QByteArray("{\"launcher\": {\"builds\": [{\"os\": \"macos\", \"architecture\": \"x86_64\", "
                         "\"url\": \"l.json\"}]}}")}) {
            TNginxFixture nginx;
            QVERIFY(nginx.writeFile(u"config.json"_qs, document));
            QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
            TTestBed bed;
            QVERIFY(bed.loadConfiguration(nginx.url(u"config.json"_qs)));
            bed.Handler->requestPackageConfigurations();
            // Nothing to wait for: finished comes at once, inside the call.
            QCOMPARE(bed.Recorded->Events, (QStringList{u"loaded"_qs, u"finished"_qs}));
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
        const QStringList withoutVantor{u"Preview"_qs, u"Plain"_qs};
        const QString downloadFailed =
            u"^Download of package configuration/asset from configuration .*%1 failed: "_qs;
        const QString notValid =
            u"^Package configuration from .*%1 is not valid; the package is not offered\\.$"_qs;
        QTest::newRow("404") << "launcher/vantor/package.json" << 404 << QByteArray() << withoutVantor
                             << downloadFailed.arg(u"vantor/package\\.json"_qs);
        QTest::newRow("empty document") << "launcher/vantor/package.json" << 200 << QByteArray()
                                        << withoutVantor << downloadFailed.arg(u"vantor/package\\.json"_qs);
        QTest::newRow("not JSON") << "launcher/vantor/package.json" << 200
                                  << QByteArray("{\"version\": \"1\", \"files\": [") << withoutVantor
                                  << notValid.arg(u"vantor/package\\.json"_qs);
        QTest::newRow("chunk index outside the table")
            << "launcher/vantor/package.json" << 200
            << QByteArray("{\"version\": \"1\", \"chunks\": [], \"files\": [{\"localfile\": \"x\", "
                          "\"chunks\": [2]}]}")
            << withoutVantor << notValid.arg(u"vantor/package\\.json"_qs);
        // A shared asset document that fails takes every package that waits for it along.
        QTest::newRow("shared asset document missing")
            << "launcher/shared/assets.json" << 404 << QByteArray() << QStringList{u"Plain"_qs}
            << downloadFailed.arg(u"shared/assets\\.json"_qs);
        QTest::newRow("shared asset document not JSON")
            << "launcher/shared/assets.json" << 200 << QByteArray("{{") << QStringList{u"Plain"_qs}
            << notValid.arg(u"preview/package\\.json"_qs);
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
            nginx.addFixedStatus(u'/' + brokenPath, status);
        }
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        TTestBed bed;
        QVERIFY(bed.loadConfiguration(nginx.url(u"launcher/config.json"_qs)));
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression(logged));
        bed.Handler->requestPackageConfigurations();
        QVERIFY(bed.Recorded->waitForCount(2));
        QCOMPARE(bed.Recorded->Events, (QStringList{u"loaded"_qs, u"finished"_qs}));
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
        QVERIFY(bed.loadConfiguration(nginx.url(u"launcher/config.json"_qs), 10000, true));
        bed.Handler->requestPackageConfigurations();
        QVERIFY(bed.Recorded->waitForCount(2));
        QCOMPARE(bed.availableNames(), (QStringList{u"Vantor"_qs, u"Preview"_qs, u"Plain"_qs}));
        QVERIFY(bed.Handler->configuration()->launcherPackage()->configurationForThisSystem());

        // "GET <uri> <status> <bytes>": every document request carries its own nocache item, the
        // configuration request none. So the shared asset document is asked for once per package.
        QVERIFY(nginx.waitForRequestCount(u"/launcher/shared/assets.json"_qs, 2));
        const QRegularExpression documentRequest(
            u"^GET "
            "/launcher/(self|vantor|preview|plain|shared)/(package|assets)\\.json\\?nocache=[A-Za-z0-9]{32} "
            "200 "_qs);
        int documentRequests = 0;
        for (const QString& line : nginx.accessLogLines()) {
            if (line.startsWith(u"GET /launcher/config.json "_qs)) {
                QVERIFY2(!line.contains(u"nocache"_qs), qPrintable(line));
                continue;
            }
            QVERIFY2(documentRequest.match(line).hasMatch(), qPrintable(line));
            ++documentRequests;
        }
        QCOMPARE(documentRequests, 6);
        // The resolved chunk addresses do not inherit the document's nocache item.
        const TPackageConfigurationReader* vantor = bed.package(u"Vantor"_qs)->configurationForThisSystem();
        QCOMPARE(vantor->chunks()[0].Url, nginx.url(u"launcher/vantor/chunks/vantor.bin"_qs));
        QVERIFY(!vantor->packageBaseUrl().hasQuery());
    }

    void storedCopyReadsTheInstalledDocuments() {
        TTestBed bed;
        QVERIFY(bed.writeLauncherFile(u"launchermetadata.json"_qs, configurationDocument()));
        QVERIFY(bed.writeLauncherFile(u"packages/vantor/package.json"_qs,
                                      packageDocument(u"9"_qs, u"vantor.bin"_qs)));
        QVERIFY(bed.writeLauncherFile(u"packages/vantor/assets.json"_qs, assetDocument()));
        // Installed without assets, as its build has none: no "assets.json" is ever written for it.
        QVERIFY(bed.writeLauncherFile(u"packages/plain/package.json"_qs,
                                      packageDocument(u"4"_qs, u"plain.bin"_qs)));
        // "Preview" is not installed; the launcher's own documents are never looked for offline.
        QVERIFY(bed.loadConfiguration(unreachableUrl(u"launcher/config.json"_qs)));
        QVERIFY(bed.Handler->usingStoredCopy());

        bed.Handler->requestPackageConfigurations();
        QVERIFY(bed.Recorded->waitForCount(2));
        QCOMPARE(bed.Recorded->Events, (QStringList{u"loaded"_qs, u"finished"_qs}));
        QCOMPARE(bed.availableNames(), (QStringList{u"Vantor"_qs, u"Plain"_qs}));
        QVERIFY(!bed.Handler->configuration()->launcherPackage()->configurationForThisSystem());

        const TPackageConfigurationReader* vantor = bed.package(u"Vantor"_qs)->configurationForThisSystem();
        QCOMPARE(versionLabel(*vantor), u"P9 A7"_qs);
        const QUrl installed = QUrl::fromLocalFile(bed.LauncherDirectory.filePath(u"packages/vantor/"_qs));
        QCOMPARE(vantor->packageBaseUrl(), installed);
        QCOMPARE(vantor->chunks()[0].Url, installed.resolved(QUrl(u"chunks/vantor.bin"_qs)));
        QCOMPARE(versionLabel(*bed.package(u"Plain"_qs)->configurationForThisSystem()), u"P4 A?"_qs);
    }

    void requestWithoutConfigurationDoesNothing() {
        TTestBed bed;
        QVERIFY(bed.writeSettings(unreachableUrl(u"config.json"_qs)));
        bed.createHandler();
        bed.Handler->requestPackageConfigurations();
        QTest::qWait(50);
        QVERIFY(bed.Recorded->Events.isEmpty());
    }

    // Hints.
    void hintsDocumentGivesTheCurrentHint() {
        const QJsonArray hints{QJsonObject{{u"title"_qs, u"Patch notes"_qs},
                                           {u"richText"_qs, u"Read <b>them</b>"_qs},
                                           {u"category"_qs, u"cat1"_qs}},
                               QJsonObject{{u"title"_qs, u"Server restart"_qs},
                                           {u"richText"_qs, u"Back soon"_qs},
                                           {u"category"_qs, u"cat2"_qs},
                                           {u"emergency"_qs, true}}};
        const QJsonArray noCurrentHint{
            QJsonObject{{u"title"_qs, u"Hidden"_qs}, {u"richText"_qs, u"x"_qs}, {u"emergency"_qs, false}}};
        TNginxFixture nginx;
        QVERIFY(nginx.writeFile(u"hints.json"_qs, QJsonDocument(hints).toJson()));
        QVERIFY(nginx.writeFile(u"quiet.json"_qs, QJsonDocument(noCurrentHint).toJson()));
        QVERIFY(nginx.writeFile(u"broken.json"_qs, "[{\"title\": "));
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));

        for (const QString& name : {u"broken.json"_qs, u"quiet.json"_qs, u"hints.json"_qs}) {
            QVERIFY(nginx.writeFile(u"config.json"_qs, configurationDocument(nginx.url(name))));
            TTestBed bed;
            QVERIFY(bed.loadConfiguration(nginx.url(u"config.json"_qs)));
            QSignalSpy poolSuccess(bed.Pool.get(), &shared::TDownloadPool::success);
            bed.Pool->download(bed.Handler->configuration()->hintsUrl());
            QVERIFY(poolSuccess.wait(WaitMs));
            if (name != u"hints.json"_qs) {
                // Nothing to feature: nothing stored, nothing announced.
                QCOMPARE(bed.Recorded->Events, QStringList{u"loaded"_qs});
                QVERIFY(bed.Handler->hints().empty());
                continue;
            }
            QCOMPARE(bed.Recorded->Events,
                     (QStringList{u"loaded"_qs, u"hint Server restart"_qs, u"hints 2"_qs}));
            QCOMPARE(bed.Handler->currentHint().m_Title, u"Server restart"_qs);
            QCOMPARE(bed.Handler->hints().size(), std::size_t(2));
        }
    }
};

LAUNCHER_TEST(TestLauncherConfigurationHandler)
#include "tst_launcherconfigurationhandler.moc"
