// Package and asset documents that parse but lack what a package is made of: after a full install,
// such a document is not offered, nothing is updated to it, every installed file and marker stays,
// and the log says why.
#include "launcher/config/launcherconfigurationhandler.h"
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "support/installationkit.h"
#include "support/messagecapture.h"
#include "support/nginxfixture.h"
#include "support/publishedgame.h"
#include "support/stringliteral.h"
#include "support/testnetwork.h"
#include "support/testregistry.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

const int RunTimeoutMs = 120000;

// The released document with one key removed ("-key") or replaced ("key=json"); "{}" for an
// empty object.
QByteArray changedDocument(const QByteArray& Released, const QString& Change) {
    if (Change == u"{}") {
        return "{}";
    }
    QJsonObject object = QJsonDocument::fromJson(Released).object();
    if (Change.startsWith(u'-')) {
        object.remove(Change.mid(1));
    } else {
        const QString key = Change.section(u'=', 0, 0);
        const QByteArray value = "[" + Change.section(u'=', 1).toUtf8() + "]";
        object.insert(key, QJsonDocument::fromJson(value).array().first());
    }
    return QJsonDocument(object).toJson();
}

} // namespace

class TestDocumentValidation : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs);
        m_pNginx = std::make_unique<testsupport::TNginxFixture>();
        m_pGameWork = std::make_unique<QTemporaryDir>();
        m_pGame = std::make_unique<testsupport::TPublishedGame>(m_pGameWork->path());
        QString error;
        QVERIFY2(m_pGame->publish(cdn(), error), qPrintable(error));
        QVERIFY(m_pGame->release(cdn(), 1));
        QVERIFY2(m_pNginx->start(), qPrintable(m_pNginx->errorString()));
        m_pFileSystem = testsupport::makeLauncherFilesystem(
            m_Launcher.path(), testsupport::launcherSettingsText(m_pNginx->url(u"cdn/launcher.json"_qs)));

        // A full install of the released version, as an earlier start of the launcher made it.
        QString loadError;
        const auto configuration = testsupport::loadLauncherConfiguration(m_pFileSystem, loadError);
        QVERIFY2(configuration, qPrintable(loadError));
        TInstallationManager manager(configuration, m_pFileSystem);
        QSignalSpy finished(&manager, &TInstallationManager::allStartedUpdatesFinished);
        manager.installOrUpdatePackage(configuration->packages().front());
        QVERIFY(finished.wait(RunTimeoutMs));
        QCOMPARE(configuration->packages().front()->localStatus(), TPackage::StatusUpToDate);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_InstalledMarker = readBytes(installation() + u"/package.json"_qs);
    }

    void documentWithoutItsPartsIsRefused_data() {
        QTest::addColumn<QString>("document"); // the file on the server
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("reason");
        const QString package = u"package.json"_qs;
        const QString assets = u"assets.json"_qs;
        QTest::newRow("empty package document")
            << package << u"{}"_qs << u"package document has no version"_qs;
        QTest::newRow("package without version")
            << package << u"-version"_qs << u"package document has no version"_qs;
        QTest::newRow("package with an empty version")
            << package << u"version=\"\""_qs << u"package document has no version"_qs;
        QTest::newRow("package with a numeric version")
            << package << u"version=2"_qs << u"package document has no version"_qs;
        QTest::newRow("package without files")
            << package << u"-files"_qs << u"package document has no file list"_qs;
        QTest::newRow("package with files that are no list")
            << package << u"files={}"_qs << u"package document has no file list"_qs;
        QTest::newRow("package without chunks")
            << package << u"-chunks"_qs << u"package document has no chunk table"_qs;
        QTest::newRow("empty asset document") << assets << u"{}"_qs << u"asset document has no version"_qs;
        QTest::newRow("asset document without files")
            << assets << u"-files"_qs << u"asset document has no file list"_qs;
        QTest::newRow("asset document without chunks")
            << assets << u"-chunks"_qs << u"asset document has no chunk table"_qs;
        QTest::newRow("asset document that is a list") << assets << u"[]"_qs << u"asset document is not"_qs;
    }

    void documentWithoutItsPartsIsRefused() {
        QFETCH(QString, document);
        QFETCH(QString, change);
        QFETCH(QString, reason);
        const QString served = cdn() + u"/vantor/linux/"_qs + document;
        const QByteArray released = readBytes(served);
        QVERIFY(writeBytes(served, change == u"[]" ? QByteArray("[]") : changedDocument(released, change)));
        testsupport::TMessageCapture messages;

        QString error;
        const auto configuration = testsupport::loadLauncherConfiguration(m_pFileSystem, error);
        QVERIFY(writeBytes(served, released));
        QVERIFY2(configuration, qPrintable(error));
        const std::shared_ptr<TPackage> game = configuration->packages().front();
        // Neither the game nor the launcher itself (same documents) is offered or updated.
        QVERIFY(!game->configurationForThisSystem());
        QVERIFY(!configuration->launcherPackage()->configurationForThisSystem());
        QVERIFY(configuration->availablePackages().empty());
        TInstallationManager manager(configuration, m_pFileSystem);
        manager.installOrUpdatePackage(game);
        QVERIFY(manager.installationsInProgress().empty());

        QString difference;
        QVERIFY2(m_pGame->isInstalled(1, installation(), difference), qPrintable(difference));
        QCOMPARE(readBytes(installation() + u"/package.json"_qs), m_InstalledMarker);
        const QStringList rejections = messages.messages(QtCriticalMsg).filter(u"rejected: the "_qs + reason);
        QVERIFY2(!rejections.isEmpty(), qPrintable(messages.messages(QtCriticalMsg).join(u'\n')));
    }

    // Offline, the configuration comes from the stored copy and each package's documents from its
    // installation directory; a directory name there may not lead anywhere else.
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
        QTemporaryDir root;
        const QString launcher = root.filePath(u"a/launcher"_qs);
        // Nothing answers on port 1 of the loopback: the launcher is offline.
        const auto fileSystem = testsupport::makeLauncherFilesystem(
            launcher, testsupport::launcherSettingsText(QUrl(u"http://127.0.0.1:1/launcher.json"_qs)));
        const QJsonObject build{{u"os"_qs, u"linux"_qs},
                                {u"architecture"_qs, u"x86_64"_qs},
                                {u"url"_qs, u"http://127.0.0.1:1/p.json"_qs}};
        const QJsonObject entry{{u"name"_qs, u"Game"_qs},
                                {u"directoryname"_qs, directoryName},
                                {u"builds"_qs, QJsonArray{build}}};
        QVERIFY(writeBytes(launcher + u"/launchermetadata.json"_qs,
                           QJsonDocument(QJsonObject{{u"packages"_qs, QJsonArray{entry}}}).toJson()));
        // The packages directory exists, as after any installation, so that a climbing path resolves;
        // a valid document lies wherever the name leads.
        QVERIFY(QDir().mkpath(launcher + u"/packages/sub"_qs));
        QVERIFY(writeBytes(QDir::cleanPath(launcher + u"/packages/"_qs + directoryName) + u"/package.json"_qs,
                           R"({"version": "1", "files": [], "chunks": []})"));

        TLauncherConfigurationHandler handler(testsupport::makeDownloadPool(), fileSystem);
        QSignalSpy finished(&handler, &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        connect(&handler, &TLauncherConfigurationHandler::mainConfigurationLoaded, &handler,
                [&handler] { handler.requestPackageConfigurations(); });
        handler.startConfigurationDownload();
        QVERIFY(finished.wait(RunTimeoutMs));
        QCOMPARE(handler.configuration()->packages().front()->configurationForThisSystem() != nullptr,
                 offered);
    }

private:
    QString cdn() const { return m_pNginx->documentRoot() + u"/cdn"_qs; }
    QString installation() const { return m_Launcher.path() + u"/packages/vantor"_qs; }

    QTemporaryDir m_Launcher;
    std::unique_ptr<testsupport::TNginxFixture> m_pNginx;
    std::unique_ptr<QTemporaryDir> m_pGameWork;
    std::unique_ptr<testsupport::TPublishedGame> m_pGame;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
    QByteArray m_InstalledMarker;
};

LAUNCHER_TEST(TestDocumentValidation)
#include "tst_documentvalidation.moc"
