// The configuration handler against a real nginx (configuration, package and asset documents,
// refusals) and the scripted server (answers held past the waiting time).
#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/package/versionlabel.h"
#include "shared/network/downloadpool.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/publishedgame.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace mirrel::launcher;
using namespace testsupport;

namespace {

const int WaitMs = 15000;

// A launcher directory with its own settings, the application's download pool and the handler,
// whose signals are recorded in the order they came, so a second decision shows up.
class TTestBed {
public:
    void createHandler(const QUrl& Url, int ErrorTimeoutMs = 10000, bool Nocache = false,
                       EFailingOperation Failing = EFailingOperation::None) {
        QByteArray ini = launcherSettingsText(Url);
        ini.replace("downloadErrorTimeout=10000",
                    "downloadErrorTimeout=" + QByteArray::number(ErrorTimeoutMs));
        ini.replace("appendNocacheToPackageUrls=false", Nocache ? "appendNocacheToPackageUrls=true" : "");
        QVERIFY(writeBytes(file(u"launchersettings.ini"_qs), ini));
        Handler = std::make_unique<TLauncherConfigurationHandler>(
            Pool, std::make_shared<TFailingFilesystem>(LauncherDirectory.path(), Failing));
        const auto record = [this](const QString& Event) {
            return [this, Event] {
                Events << Event;
            };
        };
        QObject::connect(Handler.get(), &TLauncherConfigurationHandler::mainConfigurationLoaded,
                         record(u"loaded"_qs));
        QObject::connect(Handler.get(), &TLauncherConfigurationHandler::mainConfigurationDownloadFailed,
                         record(u"maintenance"_qs));
        QObject::connect(Handler.get(), &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished,
                         record(u"finished"_qs));
        QObject::connect(Handler.get(), &TLauncherConfigurationHandler::diskAccessFailed,
                         [this](const QString& Message) { Events << u"disk "_qs + Message; });
    }

    bool waitForEvents(int Count) const {
        return QTest::qWaitFor([&] { return Events.size() >= Count; }, WaitMs);
    }

    // The main document loaded, and then the package documents when Packages is set.
    bool load(const QUrl& Url, bool Packages = true, bool Nocache = false) {
        createHandler(Url, 10000, Nocache);
        Handler->startConfigurationDownload();
        if (!waitForEvents(1) || Events != QStringList{u"loaded"_qs} || !Packages) {
            return Events == QStringList{u"loaded"_qs};
        }
        Handler->requestPackageConfigurations();
        return waitForEvents(2) && Events == QStringList{u"loaded"_qs, u"finished"_qs};
    }

    QString file(const QString& Name) const { return LauncherDirectory.filePath(Name); }
    QByteArray storedCopy() const {
        const QString path = file(u"launchermetadata.json"_qs);
        return QFileInfo::exists(path) ? readBytes(path) : QByteArray("<missing>");
    }

    // "name:label" of every package offered, in order.
    QStringList available() const {
        QStringList names;
        for (const std::shared_ptr<TPackage>& package : Handler->configuration()->availablePackages()) {
            names << package->name() + u':' + versionLabel(*package->configurationForThisSystem());
        }
        return names;
    }

    const TPackageConfigurationReader* configuration(int Index) const {
        return Handler->configuration()->packages().at(std::size_t(Index))->configurationForThisSystem();
    }

    QTemporaryDir LauncherDirectory;
    std::shared_ptr<shared::TDownloadPool> Pool = makeDownloadPool();
    std::unique_ptr<TLauncherConfigurationHandler> Handler;
    QStringList Events;
};

// An address on 127.0.0.1 where nothing listens: connections are refused at once.
QUrl unreachableUrl() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return QUrl(u"http://127.0.0.1:%1/launcher/config.json"_qs.arg(server.serverPort()));
}

// The launcher's own package and four client packages: Vantor and Preview share one asset document,
// Plain has none, WindowsOnly has no build for this system (whose architecture is the launcher's).
// Relative addresses, as a server lists them, and over several lines: the stored copy keeps the bytes.
QByteArray configurationDocument(const QUrl& HintsUrl = QUrl()) {
    const auto entry = [](const QString& Name, const QString& Os, const QString& Assets) {
        return uR"({"name": "%1", "directoryname": "%2", "builds": [{"os": "%3", "architecture": "%4",
                    "url": "%2/package.json", "assetsurl": "%5"}]})"_qs.arg(
            Name, Name.toLower(), Os, QSysInfo::buildCpuArchitecture(), Assets);
    };
    const QString shared = u"shared/assets.json"_qs;
    return u"{\"launcher\": %1,\n \"packages\": [%2, %3, %4, %5],\n \"hints\": \"%6\"}"_qs
        .arg(entry(u"Self"_qs, u"linux"_qs, {}), entry(u"Vantor"_qs, u"Linux"_qs, shared),
             entry(u"Preview"_qs, u"linux"_qs, shared), entry(u"WindowsOnly"_qs, u"windows"_qs, {}),
             entry(u"Plain"_qs, u"linux"_qs, {}), HintsUrl.toString())
        .toUtf8();
}

QByteArray packageDocument(const QString& Version, const QString& LocalFile) {
    return uR"({"version": "%1", "chunks": [{"url": "chunks/%2"}], "files": [{"localfile": "%2", "chunks": [0]}]})"_qs
        .arg(Version, LocalFile)
        .toUtf8();
}

// Its chunk follows the package document's single chunk in the combined table.
const QByteArray AssetDocument =
    R"({"version": 7, "chunks": [{"url": "a/c0"}], "files": [{"localfile": "data/shared.pak", "chunks": [1]}]})";

void serveDocuments(TNginxFixture& Nginx) {
    QVERIFY(Nginx.writeFile(u"launcher/config.json"_qs, configurationDocument()));
    for (const QString& name : {u"self"_qs, u"vantor"_qs, u"preview"_qs, u"plain"_qs}) {
        QVERIFY(Nginx.writeFile(u"launcher/%1/package.json"_qs.arg(name), packageDocument(u"1"_qs, name)));
    }
    QVERIFY(Nginx.writeFile(u"launcher/shared/assets.json"_qs, AssetDocument));
}

} // namespace

class TestLauncherConfigurationHandler : public QObject {
    Q_OBJECT

private slots:
    // What one start decides from the server's answer and the stored copy, and only once.
    void startDecidesOnce_data() {
        QTest::addColumn<QString>("source"); // "nginx", "refused" (nothing listens) or "stalled"
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("stored"); // the stored copy before the start; empty: none
        QTest::addColumn<int>("failing");
        QTest::addColumn<QStringList>("events"); // "%path" stands for the stored copy's path
        const QByteArray good = configurationDocument();
        const QByteArray corrupt("{\"packages\": [ {\"name\": \"Vantor\" ");
        QJsonParseError parseError;
        QJsonDocument::fromJson(corrupt, &parseError);
        const int none = int(EFailingOperation::None);
        const QStringList maintenance{u"maintenance"_qs};
        const QStringList loaded{u"loaded"_qs};
        QTest::newRow("online, replacing the stored copy")
            << u"nginx"_qs << 200 << good << QByteArray("{}") << none << loaded;
        // A server that refuses the document means maintenance even when a stored copy exists.
        QTest::newRow("403") << u"nginx"_qs << 403 << QByteArray() << good << none << maintenance;
        QTest::newRow("404") << u"nginx"_qs << 404 << QByteArray() << good << none << maintenance;
        QTest::newRow("empty document") << u"nginx"_qs << 200 << QByteArray() << good << none << maintenance;
        // A corrupt download neither uses nor replaces the good stored copy.
        QTest::newRow("corrupt download")
            << u"nginx"_qs << 200 << good.left(100) << good << none << maintenance;
        // An unreachable server falls back to the stored copy, or to maintenance without one.
        QTest::newRow("503, stored copy") << u"nginx"_qs << 503 << QByteArray() << good << none << loaded;
        QTest::newRow("503, no stored copy")
            << u"nginx"_qs << 503 << QByteArray() << QByteArray() << none << maintenance;
        QTest::newRow("refused, stored copy") << u"refused"_qs << 0 << QByteArray() << good << none << loaded;
        QTest::newRow("refused, none")
            << u"refused"_qs << 0 << QByteArray() << QByteArray() << none << maintenance;
        QTest::newRow("stalled past the waiting time")
            << u"stalled"_qs << 0 << QByteArray() << good << none << loaded;
        // Disk failures: the stored copy does not parse, cannot be read, or cannot be written (the
        // downloaded configuration still loads then).
        const QString readError = TFailingFilesystem::ioError(u"%path"_qs, u"Input/output error"_qs);
        const QString writeError = TFailingFilesystem::ioError(u"%path"_qs, u"No space left on device"_qs);
        QTest::newRow("corrupt stored copy") << u"refused"_qs << 0 << QByteArray() << corrupt << none
                                             << QStringList{u"disk "_qs + parseError.errorString()};
        QTest::newRow("unreadable stored copy")
            << u"refused"_qs << 0 << QByteArray() << good << int(EFailingOperation::Read)
            << QStringList{u"disk "_qs + readError};
        QTest::newRow("unwritable stored copy")
            << u"nginx"_qs << 200 << good << QByteArray() << int(EFailingOperation::Write)
            << QStringList{u"disk "_qs + writeError, u"loaded"_qs};
    }

    void startDecidesOnce() {
        QFETCH(QString, source);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, stored);
        QFETCH(int, failing);
        QFETCH(QStringList, events);
        TNginxFixture nginx;
        TScriptedHttpServer stalling;
        QUrl configurationUrl = unreachableUrl();
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
                               TScriptedAnswer::faulty(EScriptedFault::StallBeforeHeaders, {}));
            configurationUrl = stalling.url(u"config.json"_qs);
        }
        TTestBed bed;
        if (!stored.isEmpty()) {
            QVERIFY(writeBytes(bed.file(u"launchermetadata.json"_qs), stored));
        }
        bed.createHandler(configurationUrl, source == u"stalled"_qs ? 100 : 10000, false,
                          EFailingOperation(failing));
        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.waitForEvents(events.size()));
        QCOMPARE(bed.Events, events.replaceInStrings(u"%path"_qs, bed.file(u"launchermetadata.json"_qs)));

        const bool online = events.last() == u"loaded"_qs && status == 200;
        const bool offline = events.last() == u"loaded"_qs && !online;
        QCOMPARE(bed.Handler->usingStoredCopy(), offline);
        QCOMPARE(bed.Handler->configuration() != nullptr, online || offline);
        if (online || offline) {
            QCOMPARE(bed.Handler->configuration()->rawDocument(), online ? body : stored);
            QCOMPARE(bed.Handler->configuration()->baseUrl(),
                     online ? nginx.url(u"launcher/"_qs)
                            : QUrl::fromLocalFile(bed.LauncherDirectory.path() + u'/'));
        }
        const bool replaced = online && failing != int(EFailingOperation::Write);
        QCOMPARE(bed.storedCopy(), replaced ? body : stored.isEmpty() ? QByteArray("<missing>") : stored);
        stalling.closeAllConnections();
    }

    // Once the stored copy stood in for the configuration, a late answer decides nothing more.
    void answerAfterTheWaitingTimeDecidesNothing_data() {
        QTest::addColumn<int>("status");
        QTest::newRow("document arrives late") << 200;
        QTest::newRow("failure arrives late") << 500;
    }

    void answerAfterTheWaitingTimeDecidesNothing() {
        QFETCH(int, status);
        TScriptedHttpServer server;
        QVERIFY(server.start());
        server.setAnswer(u"/config.json"_qs, TScriptedAnswer::withStatus(status, configurationDocument()));
        server.setHoldAnswers(true);
        TTestBed bed;
        QVERIFY(writeBytes(bed.file(u"launchermetadata.json"_qs), "[]"));
        bed.createHandler(server.url(u"config.json"_qs), 100);
        QSignalSpy poolEnded(bed.Pool.get(),
                             status == 200 ? SIGNAL(success(QUrl, QByteArray))
                                           : SIGNAL(failed(QUrl, QNetworkReply::NetworkError, QString)));
        bed.Handler->startConfigurationDownload();
        QVERIFY(bed.waitForEvents(1));
        const std::shared_ptr<TLauncherConfigurationReader> inUse = bed.Handler->configuration();
        QVERIFY(QTest::qWaitFor([&] { return server.heldAnswerCount() > 0; }, WaitMs));
        server.setHoldAnswers(false);
        server.releaseHeldAnswers();
        QVERIFY(poolEnded.wait(WaitMs));
        QCOMPARE(bed.Events, QStringList{u"loaded"_qs});
        QCOMPARE(bed.Handler->configuration(), inUse);
        QCOMPARE(bed.storedCopy(), QByteArray("[]"));
    }

    void invalidConfigurationAddressDecidesOnce() {
        // Settings without an address: the pool refuses it at once and then fails it once more.
        TTestBed bed;
        QVERIFY(writeBytes(bed.file(u"launchermetadata.json"_qs), "[]"));
        bed.createHandler(QUrl());
        // Nothing to ask for before a configuration is there.
        bed.Handler->requestPackageConfigurations();
        QSignalSpy poolFailed(bed.Pool.get(), &shared::TDownloadPool::failed);
        bed.Handler->startConfigurationDownload();
        QTRY_COMPARE_WITH_TIMEOUT(poolFailed.count(), 2, WaitMs);
        QCOMPARE(bed.Events, QStringList{u"loaded"_qs});
        QVERIFY(bed.Handler->usingStoredCopy());
        // A configuration without packages for this system has nothing to wait for: finished comes
        // at once, inside the call.
        bed.Handler->requestPackageConfigurations();
        QCOMPARE(bed.Events, (QStringList{u"loaded"_qs, u"finished"_qs}));
    }

    // Each document's relative addresses resolve against its own directory; a nocache item makes
    // every document request distinct (so the shared asset document is asked for once per package)
    // yet stays out of the configuration request and out of the resolved addresses.
    void packageAndAssetDocumentsAreAttached_data() {
        QTest::addColumn<bool>("nocache");
        QTest::newRow("plain") << false;
        QTest::newRow("nocache") << true;
    }

    void packageAndAssetDocumentsAreAttached() {
        QFETCH(bool, nocache);
        TNginxFixture nginx;
        serveDocuments(nginx);
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        TTestBed bed;
        QVERIFY(bed.load(nginx.url(u"launcher/config.json"_qs), true, nocache));
        QCOMPARE(bed.available(), (QStringList{u"Vantor:P1 A7"_qs, u"Preview:P1 A7"_qs, u"Plain:P1 A?"_qs}));
        const TPackageConfigurationReader* vantor = bed.configuration(0);
        QCOMPARE(vantor->chunks()[0].Url, nginx.url(u"launcher/vantor/chunks/vantor"_qs));
        QCOMPARE(vantor->chunks()[1].Url, nginx.url(u"launcher/shared/a/c0"_qs));
        QCOMPARE(vantor->files()[0].LocalFile, u"data/shared.pak"_qs);
        QCOMPARE(bed.configuration(1)->chunks()[1].Url, vantor->chunks()[1].Url);
        QVERIFY(bed.Handler->configuration()->launcherPackage()->configurationForThisSystem());

        QVERIFY(nginx.waitForRequestCount(u"/launcher/shared/assets.json"_qs, nocache ? 2 : 1));
        QVERIFY(nginx.waitForRequestCount(u"/launcher/plain/package.json"_qs, 1));
        for (const QString& line : nginx.accessLogLines()) {
            QCOMPARE(line.contains(u"?nocache="_qs),
                     nocache && !line.startsWith(u"GET /launcher/config.json "_qs));
        }
    }

    void failingPackageDocumentLeavesTheOthersAvailable_data() {
        QTest::addColumn<QString>("brokenPath");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("available");
        const QString vantor = u"launcher/vantor/package.json"_qs;
        const QString assets = u"launcher/shared/assets.json"_qs;
        const QStringList others{u"Preview:P1 A7"_qs, u"Plain:P1 A?"_qs};
        QTest::newRow("404") << vantor << 404 << QByteArray() << others;
        QTest::newRow("empty document") << vantor << 200 << QByteArray() << others;
        QTest::newRow("not JSON") << vantor << 200 << QByteArray("{\"version\": \"1\", \"files\": [")
                                  << others;
        QTest::newRow("chunk index outside the table")
            << vantor << 200 << QByteArray(R"({"files": [{"localfile": "x", "chunks": [2]}]})") << others;
        // A shared asset document that fails takes every package that waits for it along.
        QTest::newRow("shared asset document missing")
            << assets << 404 << QByteArray() << QStringList{u"Plain:P1 A?"_qs};
        QTest::newRow("shared asset document not JSON")
            << assets << 200 << QByteArray("{{") << QStringList{u"Plain:P1 A?"_qs};
    }

    void failingPackageDocumentLeavesTheOthersAvailable() {
        QFETCH(QString, brokenPath);
        QFETCH(int, status);
        QFETCH(QByteArray, content);
        TNginxFixture nginx;
        serveDocuments(nginx);
        if (status == 200) {
            QVERIFY(nginx.writeFile(brokenPath, content));
        } else {
            nginx.addFixedStatus(u'/' + brokenPath, status);
        }
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        TTestBed bed;
        // Exactly one end is announced, after the last document settled.
        QVERIFY(bed.load(nginx.url(u"launcher/config.json"_qs)));
        QTEST(bed.available(), "available");
        QVERIFY(bed.Handler->configuration()->launcherPackage()->configurationForThisSystem());
    }

    // Offline, the installed documents stand in; the launcher's own are never looked for.
    void storedCopyReadsTheInstalledDocuments() {
        TTestBed bed;
        QVERIFY(writeBytes(bed.file(u"launchermetadata.json"_qs), configurationDocument()));
        QVERIFY(writeBytes(bed.file(u"packages/vantor/package.json"_qs), packageDocument(u"9"_qs, u"v"_qs)));
        QVERIFY(writeBytes(bed.file(u"packages/vantor/assets.json"_qs), AssetDocument));
        // Installed without assets, as its build has none: no "assets.json" is ever written for it.
        QVERIFY(writeBytes(bed.file(u"packages/plain/package.json"_qs), packageDocument(u"4"_qs, u"p"_qs)));
        QVERIFY(writeBytes(bed.file(u"packages/self/package.json"_qs), packageDocument(u"4"_qs, u"s"_qs)));
        QVERIFY(bed.load(unreachableUrl()));
        QVERIFY(bed.Handler->usingStoredCopy());
        QCOMPARE(bed.available(), (QStringList{u"Vantor:P9 A7"_qs, u"Plain:P4 A?"_qs}));
        QVERIFY(!bed.Handler->configuration()->launcherPackage()->configurationForThisSystem());
        QCOMPARE(bed.configuration(0)->chunks()[0].Url,
                 QUrl::fromLocalFile(bed.file(u"packages/vantor/chunks/v"_qs)));
    }

    // Only a hints document that features a hint is kept and announced.
    void hintsDocumentGivesTheCurrentHint() {
        TNginxFixture nginx;
        QVERIFY(nginx.writeFile(u"hints.json"_qs, R"([{"title": "Patch notes", "richText": "Read"},
                                                      {"title": "Restart", "richText": "Soon", "emergency": true}])"));
        QVERIFY(nginx.writeFile(u"quiet.json"_qs,
                                R"([{"title": "Hidden", "richText": "x", "emergency": false}])"));
        QVERIFY(nginx.writeFile(u"broken.json"_qs, "[{\"title\": "));
        QVERIFY2(nginx.start(), qPrintable(nginx.errorString()));
        for (const QString& name : {u"broken.json"_qs, u"quiet.json"_qs, u"hints.json"_qs}) {
            QVERIFY(nginx.writeFile(u"config.json"_qs, configurationDocument(nginx.url(name))));
            TTestBed bed;
            QVERIFY(bed.load(nginx.url(u"config.json"_qs), false));
            QObject::connect(bed.Handler.get(), &TLauncherConfigurationHandler::hintAreaDataReceived,
                             [&bed](const shared::THint& Hint) { bed.Events << u"hint "_qs + Hint.m_Title; });
            QSignalSpy poolSuccess(bed.Pool.get(), &shared::TDownloadPool::success);
            bed.Pool->download(bed.Handler->configuration()->hintsUrl());
            QVERIFY(poolSuccess.wait(WaitMs));
            const bool featured = name == u"hints.json"_qs;
            QCOMPARE(bed.Events.join(u','), featured ? u"loaded,hint Restart"_qs : u"loaded"_qs);
            QCOMPARE(bed.Handler->hints().size(), featured ? std::size_t(2) : std::size_t(0));
        }
    }
};

LAUNCHER_TEST(TestLauncherConfigurationHandler)
#include "tst_launcherconfigurationhandler.moc"
