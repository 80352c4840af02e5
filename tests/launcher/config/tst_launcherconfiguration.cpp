// The configuration reader, and the handler against the scripted server (answers, refusals, stalls,
// answers held past the waiting time) and a real nginx (package, asset and hints documents).
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
#include <QSignalSpy>
#include <QSysInfo>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace mirrel::launcher;
using namespace testsupport;

namespace {

using THandler = TLauncherConfigurationHandler;

// A launcher directory with its own settings, the application's download pool and the handler,
// whose signals are recorded in the order they came, so a second decision shows up.
struct TTestBed {
    void createHandler(const QUrl& Url, int TimeoutMs = 10000, bool Nocache = false, int Failing = 0) {
        QByteArray ini = launcherSettingsText(Url);
        ini.replace("downloadErrorTimeout=10000", "downloadErrorTimeout=" + QByteArray::number(TimeoutMs));
        ini.replace("appendNocacheToPackageUrls=false", Nocache ? "appendNocacheToPackageUrls=true" : "");
        QVERIFY(writeBytes(file(u"launchersettings.ini"_qs), ini));
        auto fileSystem = std::make_shared<TFailingFilesystem>(Directory.path(), EFailingOperation(Failing));
        Handler = std::make_unique<THandler>(Pool, fileSystem);
        QObject::connect(Handler.get(), &THandler::mainConfigurationLoaded,
                         [this] { Events << u"loaded"_qs; });
        QObject::connect(Handler.get(), &THandler::mainConfigurationDownloadFailed,
                         [this] { Events << u"maintenance"_qs; });
        QObject::connect(Handler.get(), &THandler::packageConfigurationDownloadsFinished,
                         [this] { Events << u"finished"_qs; });
        QObject::connect(Handler.get(), &THandler::diskAccessFailed,
                         [this](const QString& Text) { Events << u"disk "_qs + Text; });
    }

    bool waitForEvents(int Count) const {
        return QTest::qWaitFor([&] { return Events.size() >= Count; }, 15000);
    }

    // The main document loaded, and then the package documents.
    bool load(const QUrl& Url, bool Nocache = false) {
        createHandler(Url, 10000, Nocache);
        Handler->startConfigurationDownload();
        if (waitForEvents(1) && Events == QStringList{u"loaded"_qs}) {
            Handler->requestPackageConfigurations();
        }
        return waitForEvents(2) && Events == QStringList{u"loaded"_qs, u"finished"_qs};
    }

    QString file(const QString& Name) const { return Directory.filePath(Name); }
    QByteArray storedCopy() const { return readBytes(file(u"launchermetadata.json"_qs)); }

    // "name:label" of every package offered, in order.
    QStringList available() const {
        QStringList names;
        for (const std::shared_ptr<TPackage>& package : Handler->configuration()->availablePackages()) {
            names << package->name() + u':' + versionLabel(*package->configurationForThisSystem());
        }
        return names;
    }

    QTemporaryDir Directory;
    std::shared_ptr<shared::TDownloadPool> Pool = makeDownloadPool();
    std::unique_ptr<THandler> Handler;
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

QByteArray packageDocument(const QString& Version, const QString& File) {
    return uR"({"version": "%1", "chunks": [{"url": "chunks/%2"}], "files": [{"localfile": "%2", "chunks": [0]}]})"_qs
        .arg(Version, File)
        .toUtf8();
}

// Its chunk follows the package document's single chunk in the combined table.
const QByteArray AssetDocument =
    R"({"version": 7, "chunks": [{"url": "a/c0"}], "files": [{"localfile": "data/shared.pak", "chunks": [1]}]})";

void serveDocuments(TNginxFixture& Nginx, const QString& BrokenPath = {}, const QByteArray& Broken = {}) {
    for (const QString& name : {u"self"_qs, u"vantor"_qs, u"preview"_qs, u"plain"_qs}) {
        QVERIFY(Nginx.writeFile(u"launcher/%1/package.json"_qs.arg(name), packageDocument(u"1"_qs, name)));
    }
    QVERIFY(Nginx.writeFile(u"launcher/shared/assets.json"_qs, AssetDocument));
    QVERIFY(Nginx.writeFile(u"hints.json"_qs, R"([{"title": "Patch notes", "richText": "Read"},
                                                   {"title": "Restart", "richText": "Soon", "emergency": true}])"));
    if (Broken.startsWith("HTTP ")) {
        Nginx.addFixedStatus(u'/' + BrokenPath, Broken.mid(5).toInt());
    } else if (!BrokenPath.isEmpty()) {
        QVERIFY(Nginx.writeFile(BrokenPath, Broken));
    }
    QVERIFY2(Nginx.start(), qPrintable(Nginx.errorString()));
    QVERIFY(Nginx.writeFile(u"launcher/config.json"_qs, configurationDocument(Nginx.url(u"hints.json"_qs))));
}

} // namespace

class TestLauncherConfiguration : public QObject {
    Q_OBJECT

private slots:
    void readerReadsEveryKey() {
        const QByteArray document = R"({"launcher": {"builds": [{"url": "self/package.json"}]},
            "packages": [{"name": "Main", "builds": [{"url": "main/package.json"}, {"url": ""}]}, "no object"],
            "hardwaresurvey": "https:\/\/survey.invalid/post?k=1", "hints": "hints.json", "funnel": "https:\/\/f.invalid/e",
            "preventdefaultautostart": true, "showpackagenames": true})";
        const QUrl base(u"https://127.0.0.1:8443/launcher/"_qs);
        const TLauncherConfigurationReader reader(document, base);
        QVERIFY(reader.launcherPackage()->isLauncherPackage());
        QCOMPARE(reader.launcherPackage()->builds()[0].PackageConfigurationUrl,
                 base.resolved(QUrl(u"self/package.json"_qs)));
        // Every element is a package at its position; an empty address stays empty.
        QCOMPARE(reader.packages().size(), std::size_t(2));
        QCOMPARE(reader.packages()[1]->index(), 1);
        const auto& builds = reader.packages()[0]->builds();
        QCOMPARE(builds[0].PackageConfigurationUrl, base.resolved(QUrl(u"main/package.json"_qs)));
        QVERIFY(builds[1].PackageConfigurationUrl.isEmpty());
        // Service addresses are taken as they stand, not resolved against the document.
        QCOMPARE(reader.hardwareSurveyUrl(), QUrl(u"https://survey.invalid/post?k=1"_qs));
        QCOMPARE(reader.hintsUrl(), QUrl(u"hints.json"_qs));
        QCOMPARE(reader.funnelUrl(), QUrl(u"https://f.invalid/e"_qs));
        QVERIFY(reader.preventDefaultAutostart() && reader.showPackageNames());
        // Keys of another type configure nothing.
        const TLauncherConfigurationReader mistyped(R"({"launcher": [], "packages": {}, "hints": 5,
            "preventdefaultautostart": "true", "showpackagenames": 1})",
                                                    base);
        QVERIFY(!mistyped.launcherPackage() && mistyped.packages().empty() && !mistyped.hintsUrl().isValid());
        QVERIFY(!mistyped.preventDefaultAutostart() && !mistyped.showPackageNames());
    }

    // What one start decides from the server's answer and the stored copy, and only once: a late
    // answer or a second failure of the same request decides nothing more.
    void startDecidesOnce_data() {
        QTest::addColumn<QString>(
            "server"); // an nginx status, "refused", "no address", "stalled", "late <status>"
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("stored"); // the stored copy before the start; empty: none
        QTest::addColumn<int>("failing");
        QTest::addColumn<QString>("events"); // "%1" stands for the stored copy's path
        const QByteArray good = configurationDocument();
        const QByteArray no;
        const int read = int(EFailingOperation::Read);
        const int write = int(EFailingOperation::Write);
        QJsonParseError parseError;
        QJsonDocument::fromJson("{\"packages\": [", &parseError);
        const QString disk = u"disk I/O error on file '%1': "_qs;
        // clang-format off
        QTest::newRow("online, replacing the stored copy") << u"200"_qs << good << QByteArray("{}") << 0 << u"loaded"_qs;
        // A server that refuses the document means maintenance even when a stored copy exists, and a
        // corrupt download neither replaces the stored copy nor stands in for it.
        QTest::newRow("403") << u"403"_qs << no << good << 0 << u"maintenance"_qs;
        QTest::newRow("404") << u"404"_qs << no << good << 0 << u"maintenance"_qs;
        QTest::newRow("empty document") << u"200"_qs << no << good << 0 << u"maintenance"_qs;
        QTest::newRow("corrupt download") << u"200"_qs << good.left(100) << good << 0 << u"maintenance"_qs;
        // An unreachable server falls back to the stored copy, or to maintenance without one.
        QTest::newRow("503, stored copy") << u"503"_qs << no << good << 0 << u"loaded"_qs;
        QTest::newRow("503, none") << u"503"_qs << no << no << 0 << u"maintenance"_qs;
        QTest::newRow("refused, stored copy") << u"refused"_qs << no << good << 0 << u"loaded"_qs;
        QTest::newRow("refused, none") << u"refused"_qs << no << no << 0 << u"maintenance"_qs;
        QTest::newRow("stalled past the waiting time") << u"stalled"_qs << no << good << 0 << u"loaded"_qs;
        QTest::newRow("document after the waiting time") << u"late 200"_qs << good << good << 0 << u"loaded"_qs;
        QTest::newRow("failure after the waiting time") << u"late 500"_qs << no << good << 0 << u"loaded"_qs;
        // The pool refuses a request without address at once, inside the call, and once more later.
        QTest::newRow("no address") << u"no address"_qs << no << good << 0 << u"loaded"_qs;
        // Disk failures: the stored copy does not parse, cannot be read, or cannot be written (the
        // downloaded configuration still loads then).
        QTest::newRow("corrupt stored copy") << u"refused"_qs << no << QByteArray("{\"packages\": [") << 0
                                             << u"disk "_qs + parseError.errorString();
        QTest::newRow("unreadable stored copy") << u"refused"_qs << no << good << read << disk + u"Input/output error"_qs;
        QTest::newRow("unwritable stored copy") << u"200"_qs << good << no << write << disk + u"No space left on device|loaded"_qs;
        // clang-format on
    }

    void startDecidesOnce() {
        QFETCH(QString, server);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, stored);
        QFETCH(int, failing);
        QFETCH(QString, events);
        // Stalled, the server never answers; late, it answers once the start has decided.
        const bool late = server.startsWith(u"late"_qs);
        TScriptedHttpServer scripted;
        QVERIFY(scripted.start());
        scripted.setAnswer(u"/config.json"_qs,
                           server == u"stalled"_qs
                               ? TScriptedAnswer::faulty(EScriptedFault::StallBeforeHeaders, {})
                               : TScriptedAnswer::withStatus(server.right(3).toInt(), body));
        scripted.setHoldAnswers(late);
        const QUrl url = server == u"no address"_qs ? QUrl()
                         : server == u"refused"_qs  ? unreachableUrl()
                                                    : scripted.url(u"config.json"_qs);
        TTestBed bed;
        QVERIFY(stored.isEmpty() || writeBytes(bed.file(u"launchermetadata.json"_qs), stored));
        bed.createHandler(url, late || server == u"stalled"_qs ? 100 : 10000, false, failing);
        int poolEnded = 0;
        connect(bed.Pool.get(), &shared::TDownloadPool::failed, [&poolEnded] { ++poolEnded; });
        connect(bed.Pool.get(), &shared::TDownloadPool::success, [&poolEnded] { ++poolEnded; });
        bed.Handler->startConfigurationDownload();
        const QStringList expected = events.arg(bed.file(u"launchermetadata.json"_qs)).split(u'|');
        QVERIFY(bed.waitForEvents(expected.size()));
        if (late) {
            QVERIFY(QTest::qWaitFor([&] { return scripted.heldAnswerCount() > 0; }, 15000));
            scripted.setHoldAnswers(false);
            scripted.releaseHeldAnswers();
        }
        if (late || url.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(poolEnded, late ? 1 : 2, 15000);
        }
        QCOMPARE(bed.Events, expected);

        const bool loaded = expected.last() == u"loaded"_qs;
        const bool online = loaded && server == u"200"_qs;
        QCOMPARE(bed.Handler->usingStoredCopy(), loaded && !online);
        QCOMPARE(bed.Handler->configuration() != nullptr, loaded);
        if (loaded) {
            QCOMPARE(bed.Handler->configuration()->rawDocument(), online ? body : stored);
            QCOMPARE(bed.Handler->configuration()->baseUrl(),
                     online ? url.adjusted(QUrl::RemoveFilename)
                            : QUrl::fromLocalFile(bed.file(u"x"_qs)).adjusted(QUrl::RemoveFilename));
        }
        QCOMPARE(bed.storedCopy(), online && failing != int(EFailingOperation::Write) ? body : stored);
        scripted.closeAllConnections();
    }

    // Each document's relative addresses resolve against its own directory; a nocache item makes
    // every document request distinct (so the shared asset document is asked for once per package)
    // yet stays out of the configuration request and out of the resolved addresses.
    void documentsAreAttached_data() {
        QTest::addColumn<bool>("nocache");
        QTest::newRow("plain") << false;
        QTest::newRow("nocache") << true;
    }

    void documentsAreAttached() {
        QFETCH(bool, nocache);
        TNginxFixture nginx;
        serveDocuments(nginx);
        TTestBed bed;
        QVERIFY(bed.load(nginx.url(u"launcher/config.json"_qs), nocache));
        QCOMPARE(bed.available(), (QStringList{u"Vantor:P1 A7"_qs, u"Preview:P1 A7"_qs, u"Plain:P1 A?"_qs}));
        const auto& chunks =
            bed.Handler->configuration()->packages()[0]->configurationForThisSystem()->chunks();
        QCOMPARE(chunks[0].Url, nginx.url(u"launcher/vantor/chunks/vantor"_qs));
        QCOMPARE(chunks[1].Url, nginx.url(u"launcher/shared/a/c0"_qs));
        QVERIFY(bed.Handler->configuration()->launcherPackage()->configurationForThisSystem());
        QVERIFY(nginx.waitForRequestCount(u"/launcher/shared/assets.json"_qs, nocache ? 2 : 1));
        QVERIFY(nginx.waitForRequestCount(u"/launcher/plain/package.json"_qs, 1));
        for (const QString& line : nginx.accessLogLines()) {
            QCOMPARE(line.contains(u"?nocache="_qs),
                     nocache && !line.startsWith(u"GET /launcher/config.json "_qs));
        }
        // The hints document features the emergency hint.
        QSignalSpy success(bed.Pool.get(), &shared::TDownloadPool::success);
        bed.Pool->download(bed.Handler->configuration()->hintsUrl());
        QVERIFY(success.wait(15000));
        QCOMPARE(bed.Handler->currentHint().m_Title, u"Restart"_qs);
    }

    // A document that fails takes only the packages waiting for it along, and one end is announced.
    void failingDocumentLeavesTheOthersAvailable_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content"); // "HTTP <status>" for a status
        QTest::addColumn<QString>("available");
        const QString vantor = u"launcher/vantor/package.json"_qs;
        QTest::newRow("404") << vantor << QByteArray("HTTP 404") << u"Preview:P1 A7,Plain:P1 A?"_qs;
        QTest::newRow("not JSON") << vantor << QByteArray("{\"files\": [") << u"Preview:P1 A7,Plain:P1 A?"_qs;
        QTest::newRow("chunk index outside the table")
            << vantor << QByteArray(R"({"files": [{"localfile": "x", "chunks": [2]}]})")
            << u"Preview:P1 A7,Plain:P1 A?"_qs;
        QTest::newRow("shared asset document missing")
            << u"launcher/shared/assets.json"_qs << QByteArray("HTTP 404") << u"Plain:P1 A?"_qs;
    }

    void failingDocumentLeavesTheOthersAvailable() {
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(QString, available);
        TNginxFixture nginx;
        serveDocuments(nginx, path, content);
        TTestBed bed;
        QVERIFY(bed.load(nginx.url(u"launcher/config.json"_qs)));
        QCOMPARE(bed.available(), available.split(u','));
    }

    void configurationWithoutPackagesFinishes() {
        TTestBed bed;
        QVERIFY(writeBytes(bed.file(u"launchermetadata.json"_qs), "[]"));
        QVERIFY(bed.load(unreachableUrl()));
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
        QCOMPARE(bed.available(), (QStringList{u"Vantor:P9 A7"_qs, u"Plain:P4 A?"_qs}));
        QVERIFY(!bed.Handler->configuration()->launcherPackage()->configurationForThisSystem());
        QCOMPARE(bed.Handler->configuration()->packages()[0]->configurationForThisSystem()->chunks()[0].Url,
                 QUrl::fromLocalFile(bed.file(u"packages/vantor/chunks/v"_qs)));
    }
};

LAUNCHER_TEST(TestLauncherConfiguration)
#include "tst_launcherconfiguration.moc"
