// The configuration reader and handler against the scripted server and nginx.
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

#include <QtTest>

using namespace mirrel::launcher;
using namespace testsupport;

namespace {

using THandler = TLauncherConfigurationHandler;

// Launcher directory, pool and handler; signals recorded in order so a second decision shows.
struct TTestBed {
    void createHandler(const QUrl& Url, int TimeoutMs = 10000, int Failing = 0) {
        QByteArray ini = launcherSettingsText(Url);
        ini.replace("downloadErrorTimeout=10000", "downloadErrorTimeout=" + QByteArray::number(TimeoutMs));
        QVERIFY(writeBytes(file(u"launchersettings.ini"_qs), ini));
        auto fileSystem = std::make_shared<TFailingFilesystem>(Directory.path(), EFailingOperation(Failing));
        Handler = std::make_unique<THandler>(Pool, fileSystem);
        THandler* h = Handler.get();
        QObject::connect(h, &THandler::mainConfigurationLoaded, [this] { Events << u"loaded"_qs; });
        QObject::connect(h, &THandler::mainConfigurationDownloadFailed,
                         [this] { Events << u"maintenance"_qs; });
        QObject::connect(h, &THandler::packageConfigurationDownloadsFinished,
                         [this] { Events << u"finished"_qs; });
        QObject::connect(h, &THandler::diskAccessFailed,
                         [this](const QString& E) { Events << u"disk "_qs + E; });
    }

    bool waitForEvents(int Count) const {
        return QTest::qWaitFor([&] { return Events.size() >= Count; }, 15000);
    }

    // The main document loaded, and then the package documents.
    bool load(const QUrl& Url) {
        createHandler(Url);
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

// Self plus Vantor and Preview (shared assets), Plain (none), WindowsOnly (no build here).
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
    return uR"({"version": "%1", "chunks": [{"url": "chunks/%2"}],
                "files": [{"localfile": "%2", "chunks": [0]}]})"_qs.arg(Version, File)
        .toUtf8();
}

// Its chunk follows the package document's single chunk in the combined table.
const QByteArray AssetDocument =
    R"({"version": 7, "chunks": [{"url": "a/c0"}],
        "files": [{"localfile": "data/shared.pak", "chunks": [1]}]})";

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
    // Addresses resolve against the document, service addresses as they stand; mistyped keys count not.
    void readerReadsEveryKey() {
        const QUrl base(u"https://127.0.0.1:8443/launcher/"_qs);
        const TLauncherConfigurationReader reader(R"({"launcher": {"builds": [{"url": "self.json"}]},
            "packages": ["no object", {"builds": [{"url": "a.json"}, {"url": ""}]}], "hints": "h.json",
            "funnel": "f", "hardwaresurvey": "s", "preventdefaultautostart": true,
            "showpackagenames": true})",
                                                  base);
        QCOMPARE(reader.launcherPackage()->builds()[0].PackageConfigurationUrl,
                 base.resolved(QUrl(u"self.json"_qs)));
        QCOMPARE(reader.packages().at(1)->index(), 1);
        QCOMPARE(reader.packages()[1]->builds()[0].PackageConfigurationUrl,
                 base.resolved(QUrl(u"a.json"_qs)));
        QVERIFY(reader.packages()[1]->builds()[1].PackageConfigurationUrl.isEmpty());
        QCOMPARE(reader.hintsUrl().toString() + reader.funnelUrl().toString() +
                     reader.hardwareSurveyUrl().toString(),
                 u"h.jsonfs"_qs);
        QVERIFY(reader.launcherPackage()->isLauncherPackage() && reader.preventDefaultAutostart() &&
                reader.showPackageNames());
        const TLauncherConfigurationReader mistyped(R"({"launcher": [], "packages": {}, "hints": 5,
            "preventdefaultautostart": "true", "showpackagenames": 1})",
                                                    base);
        QVERIFY(!mistyped.launcherPackage() && mistyped.packages().empty() && !mistyped.hintsUrl().isValid());
        QVERIFY(!mistyped.preventDefaultAutostart() && !mistyped.showPackageNames());
    }

    // One start decides once from answer and stored copy; late answers or failures decide nothing more.
    void startDecidesOnce_data() {
        QTest::addColumn<QString>("server"); // a status, "refused", "no address", "stalled", "late <status>"
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("stored"); // the stored copy before the start; empty: none
        QTest::addColumn<int>("failing");
        QTest::addColumn<QString>("events"); // "%1" stands for the stored copy's path
        const auto row = [](const char* Name, const char* Server, const QByteArray& Body,
                            const QByteArray& Stored, const QString& Events,
                            EFailingOperation Failing = EFailingOperation::None) {
            QTest::newRow(Name) << QString::fromLatin1(Server) << Body << Stored << int(Failing) << Events;
        };
        const QByteArray good = configurationDocument();
        const QByteArray cut("{\"packages\": [");
        QJsonParseError parseError;
        QJsonDocument::fromJson(cut, &parseError);
        const QString disk = u"disk I/O error on file '%1': "_qs;
        row("online, replacing the stored copy", "200", good, "{}", u"loaded"_qs);
        // A refused document means maintenance; a corrupt one neither replaces nor stands in for the copy.
        row("403", "403", {}, good, u"maintenance"_qs);
        row("404", "404", {}, good, u"maintenance"_qs);
        row("empty document", "200", {}, good, u"maintenance"_qs);
        row("corrupt download", "200", good.left(100), good, u"maintenance"_qs);
        // An unreachable server falls back to the stored copy, or to maintenance without one.
        row("503, stored copy", "503", {}, good, u"loaded"_qs);
        row("refused, stored copy", "refused", {}, good, u"loaded"_qs);
        row("refused, none", "refused", {}, {}, u"maintenance"_qs);
        row("stalled past the waiting time", "stalled", {}, good, u"loaded"_qs);
        row("document after the waiting time", "late 200", good, good, u"loaded"_qs);
        row("failure after the waiting time", "late 500", {}, good, u"loaded"_qs);
        // The pool refuses a request without address at once, inside the call, and once more later.
        row("no address", "no address", {}, "[]", u"loaded"_qs);
        // The stored copy does not parse, cannot be read, or cannot be written (the download still loads).
        row("corrupt stored copy", "refused", {}, cut, u"disk "_qs + parseError.errorString());
        row("unreadable stored copy", "refused", {}, good, disk + u"Input/output error"_qs,
            EFailingOperation::Read);
        row("unwritable stored copy", "200", good, {}, disk + u"No space left on device|loaded"_qs,
            EFailingOperation::Write);
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
                         : server == u"refused"_qs  ? closedLoopbackUrl(u"launcher/config.json"_qs)
                                                    : scripted.url(u"config.json"_qs);
        TTestBed bed;
        QVERIFY(stored.isEmpty() || writeBytes(bed.file(u"launchermetadata.json"_qs), stored));
        bed.createHandler(url, late || server == u"stalled"_qs ? 100 : 10000, failing);
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
        if (stored == "[]") {
            // Without packages for this system there is nothing to wait for.
            bed.Handler->requestPackageConfigurations();
            QCOMPARE(bed.Events.last(), u"finished"_qs);
        }
        scripted.closeAllConnections();
    }

    // Addresses resolve per document; a failing document drops only the packages waiting for it.
    void packageDocuments_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("content"); // "HTTP <status>" for a status
        QTest::addColumn<QString>("available");
        const QString vantor = u"launcher/vantor/package.json"_qs;
        const QString others = u"Preview:P1 A7,Plain:P1 A?"_qs;
        QTest::newRow("all there") << QString() << QByteArray() << u"Vantor:P1 A7,"_qs + others;
        QTest::newRow("404") << vantor << QByteArray("HTTP 404") << others;
        QTest::newRow("not JSON") << vantor << QByteArray("{\"files\": [") << others;
        QTest::newRow("chunk index outside")
            << vantor << QByteArray(R"({"files": [{"chunks": [2]}]})") << others;
        QTest::newRow("no chunk table") << vantor << QByteArray(R"({"version": "1", "files": []})") << others;
        // Installed, such files would overwrite the markers that say what is on the disk.
        for (const char* name :
             {"partial-package.json", "./assets.json", "FORCE_PATCH", ".launcher-staging/x"}) {
            const QString document = u"{\"version\": \"1\", \"chunks\": [{\"url\": \"c\"}], "
                                     u"\"files\": [{\"localfile\": \"%1\", \"chunks\": [0]}]}"_qs;
            QTest::newRow(name) << vantor << document.arg(QLatin1String(name)).toUtf8() << others;
        }
        QTest::newRow("shared assets missing")
            << u"launcher/shared/assets.json"_qs << QByteArray("HTTP 404") << u"Plain:P1 A?"_qs;
    }

    void packageDocuments() {
        QFETCH(QString, path);
        QFETCH(QByteArray, content);
        QFETCH(QString, available);
        TNginxFixture nginx;
        serveDocuments(nginx, path, content);
        TTestBed bed;
        QVERIFY(bed.load(nginx.url(u"launcher/config.json"_qs)));
        QCOMPARE(bed.available(), available.split(u','));
        QVERIFY(bed.Handler->configuration()->launcherPackage()->configurationForThisSystem());
        if (!path.isEmpty()) {
            return;
        }
        const auto& chunks =
            bed.Handler->configuration()->packages()[0]->configurationForThisSystem()->chunks();
        QCOMPARE(chunks[0].Url, nginx.url(u"launcher/vantor/chunks/vantor"_qs));
        QCOMPARE(chunks[1].Url, nginx.url(u"launcher/shared/a/c0"_qs));
        // One request serves the asset document both packages share.
        QVERIFY(nginx.waitForRequestCount(u"/launcher/shared/assets.json"_qs, 1));
        // The hints document features its emergency hint.
        QSignalSpy success(bed.Pool.get(), &shared::TDownloadPool::success);
        bed.Pool->download(bed.Handler->configuration()->hintsUrl());
        QVERIFY(success.wait(15000));
        QCOMPARE(bed.Handler->currentHint().m_Title, u"Restart"_qs);
    }

    // Offline, a stored directory name may not lead out of the packages directory.
    void storedCopyNamesStayInsideThePackagesDirectory_data() {
        QTest::addColumn<QString>("directoryName");
        QTest::addColumn<bool>("offered");
        QTest::newRow("plain name") << u"game"_qs << true;
        QTest::newRow("one level up") << u"../outside"_qs << false;
        QTest::newRow("two levels up") << u"../../outside"_qs << false;
        QTest::newRow("down and up again") << u"sub/../../outside"_qs << false;
    }

    void storedCopyNamesStayInsideThePackagesDirectory() {
        QFETCH(QString, directoryName);
        QFETCH(bool, offered);
        TTestBed bed;
        const QString launcher = bed.file(u"a/launcher"_qs);
        const QString entry =
            uR"({"packages": [{"name": "Game", "directoryname": "%1", "builds": [{"os": "linux",
            "architecture": "%2", "url": "http://127.0.0.1:1/p.json"}]}]})"_qs;
        QVERIFY(writeBytes(launcher + u"/launchermetadata.json"_qs,
                           entry.arg(directoryName, QSysInfo::buildCpuArchitecture()).toUtf8()));
        // A valid document lies wherever the name leads, so a climbing path would be offered.
        QVERIFY(QDir().mkpath(launcher + u"/packages/sub"_qs));
        QVERIFY(writeBytes(QDir::cleanPath(launcher + u"/packages/"_qs + directoryName) + u"/package.json"_qs,
                           packageDocument(u"1"_qs, u"f"_qs)));
        THandler handler(bed.Pool, makeLauncherFilesystem(launcher, launcherSettingsText(closedLoopbackUrl(
                                                                        u"launcher/config.json"_qs))));
        QSignalSpy finished(&handler, &THandler::packageConfigurationDownloadsFinished);
        connect(&handler, &THandler::mainConfigurationLoaded, &handler,
                [&handler] { handler.requestPackageConfigurations(); });
        handler.startConfigurationDownload();
        QVERIFY(finished.wait(30000));
        QCOMPARE(handler.configuration()->packages().front()->configurationForThisSystem() != nullptr,
                 offered);
    }
};

LAUNCHER_TEST(TestLauncherConfiguration)
#include "tst_launcherconfiguration.moc"
