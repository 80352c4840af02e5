// The installation manager's local state: statuses from the markers, the marker transitions, the
// default package, package and executable paths. The package documents are small hand-made ones;
// runs against a server are in tst_installationmanagerruns.
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/publishedgame.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <stdexcept>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

QByteArray packageDocument(const char* Version, const QString& Executable = u"bin/client"_qs) {
    const QJsonObject file{
        {u"localfile"_qs, u"data/readme.txt"_qs}, {u"unpackedsize"_qs, 5}, {u"unpackedhash"_qs, u"00"_qs}};
    return QJsonDocument(QJsonObject{{u"version"_qs, QLatin1String(Version)},
                                     {u"executable"_qs, Executable},
                                     {u"files"_qs, QJsonArray{file}}})
        .toJson();
}

QByteArray assetDocument(const QJsonValue& Version) {
    return QJsonDocument(QJsonObject{{u"version"_qs, Version}}).toJson();
}

QJsonObject packageEntry(const QString& Name, const QString& Directory, const QString& System = u"linux"_qs) {
    const QJsonObject build{
        {u"os"_qs, System}, {u"architecture"_qs, u"x86_64"_qs}, {u"url"_qs, Directory + u"/package.json"_qs}};
    return QJsonObject{
        {u"name"_qs, Name}, {u"directoryname"_qs, Directory}, {u"builds"_qs, QJsonArray{build}}};
}

void attach(const std::shared_ptr<TPackage>& Package, const QByteArray& PackageDoc,
            const QByteArray& AssetDoc) {
    const QUrl base(u"http://127.0.0.1/cdn/"_qs);
    Package->selectBuildForThisSystem()->Configuration =
        std::make_unique<TPackageConfigurationReader>(PackageDoc, AssetDoc, base, base);
}

} // namespace

class TestInstallationManager : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(u"default.info=false"_qs); }

    void init() {
        m_pWork = std::make_unique<QTemporaryDir>();
        m_pFileSystem = testsupport::makeLauncherFilesystem(
            launcherDirectory(), testsupport::launcherSettingsText(QUrl(u"http://127.0.0.1:9/l.json"_qs)));
    }

    void cleanup() {
        m_pConfiguration.reset();
        m_pFileSystem.reset();
        m_pWork.reset();
    }

    void statusFollowsMarkersAndVersionLabels() {
        m_pConfiguration = configuration({packageEntry(u"Game"_qs, u"game"_qs)});
        const std::shared_ptr<TPackage> game = package(0);
        const auto manager = makeManager();
        const QString full = file("game", "package.json");
        const QString partial = file("game", "partial-package.json");
        const QString assets = file("game", "assets.json");

        struct TCase {
            const char* Name;
            QByteArray TargetAssets;
            QByteArray Full;      // null: no full marker
            QByteArray Partial;   // null: no partial marker
            QByteArray Installed; // the asset file beside the markers
            std::int32_t Status;
        };
        const QByteArray two = packageDocument("2");
        const TCase cases[] = {
            {"no marker", assetDocument(8), QByteArray(), QByteArray(), QByteArray(), 1},
            {"partial marker", assetDocument(8), QByteArray(), two, assetDocument(8), 2},
            {"same version", assetDocument(8), two, QByteArray(), assetDocument(8), 4},
            {"same version, asset as number and text", assetDocument(8), two, QByteArray(),
             assetDocument("8"), 4},
            {"other package version", assetDocument(8), packageDocument("1"), QByteArray(), assetDocument(8),
             3},
            {"other asset version", assetDocument(8), two, QByteArray(), assetDocument(7), 3},
            {"asset version 1 always offers an update", assetDocument(1), two, QByteArray(), assetDocument(1),
             3},
            {"asset version text 1 too", assetDocument("1"), two, QByteArray(), assetDocument(1), 3},
            {"asset version 10 is no special case", assetDocument(10), two, QByteArray(), assetDocument(10),
             4},
            {"empty asset version equals '?'", assetDocument(""), two, QByteArray(), assetDocument("?"), 4},
            {"no asset documents at all", QByteArray(), two, QByteArray(), QByteArray(), 4},
            {"both markers count as installed", assetDocument(8), two, packageDocument("1"), assetDocument(8),
             4},
            {"both markers, full one outdated", assetDocument(8), packageDocument("1"), two, assetDocument(8),
             3},
        };
        for (const TCase& testCase : cases) {
            attach(game, two, testCase.TargetAssets);
            QDir(packageDirectory("game")).removeRecursively();
            if (!testCase.Full.isNull()) {
                QVERIFY(writeBytes(full, testCase.Full));
            }
            if (!testCase.Partial.isNull()) {
                QVERIFY(writeBytes(partial, testCase.Partial));
            }
            if (!testCase.Installed.isNull()) {
                QVERIFY(writeBytes(assets, testCase.Installed));
            }
            QVERIFY2(manager->determinePackageStatus(game) == testCase.Status, testCase.Name);
        }
        // Determining stores nothing.
        QCOMPARE(game->localStatus(), TPackage::StatusNotInstalled);
    }

    void statusWithoutConfigurationForThisSystem() {
        m_pConfiguration = configuration({packageEntry(u"Elsewhere"_qs, u"elsewhere"_qs, u"windows"_qs),
                                          packageEntry(u"Unconfigured"_qs, u"unconfigured"_qs)});
        QVERIFY(writeBytes(file("elsewhere", "package.json"), packageDocument("2")));
        QVERIFY(writeBytes(file("unconfigured", "package.json"), packageDocument("2")));
        const auto manager = makeManager();
        QCOMPARE(manager->determinePackageStatus(package(0)), TPackage::StatusNotInstalled);
        QCOMPARE(manager->determinePackageStatus(package(1)), TPackage::StatusNotInstalled);
        QCOMPARE(package(0)->localStatus(), TPackage::StatusNotInstalled);
        QCOMPARE(package(1)->localStatus(), TPackage::StatusNotInstalled);
    }

    void refreshStoresStatusesAndSignalsOnlyChanges() {
        makeThreePackages();
        QVERIFY(writeBytes(file("two", "partial-package.json"), packageDocument("2")));
        QVERIFY(writeBytes(file("three", "package.json"), packageDocument("2")));
        QVERIFY(writeBytes(file("three", "assets.json"), assetDocument(8)));
        QSignalSpy one(package(0).get(), &TPackage::localPackageStatusChanged);
        QSignalSpy two(package(1).get(), &TPackage::localPackageStatusChanged);
        QSignalSpy three(package(2).get(), &TPackage::localPackageStatusChanged);

        const auto manager = makeManager(); // refreshes on construction
        QCOMPARE(package(0)->localStatus(), TPackage::StatusNotInstalled);
        QCOMPARE(package(1)->localStatus(), TPackage::StatusPartiallyInstalled);
        QCOMPARE(package(2)->localStatus(), TPackage::StatusUpToDate);
        QCOMPARE(one.count() + two.count() + three.count(), 3);

        manager->refreshPackageStatuses();
        QCOMPARE(one.count() + two.count() + three.count(), 3);

        QVERIFY(QFile::remove(file("three", "package.json")));
        manager->refreshPackageStatuses();
        QCOMPARE(package(2)->localStatus(), TPackage::StatusNotInstalled);
        QCOMPARE(three.count(), 2);
        QCOMPARE(one.count() + two.count(), 2);
    }

    void markerTransitions_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("before"); // "name=content" below the package directory
        QTest::addColumn<QString>("assets");     // the asset document handed in
        QTest::addColumn<QStringList>("after");  // every entry of the package directory afterwards
        QTest::addColumn<int>("status");         // -1: not looked at
        // Contents: P1, P2 are package documents of versions 1 and 2, A7, A8 asset documents.
        const auto row = [](const char* Name, const char* Operation, const char* Before, const char* Assets,
                            const char* After, int Status) {
            QTest::newRow(Name) << QString::fromLatin1(Operation)
                                << QString::fromLatin1(Before).split(u' ', Qt::SkipEmptyParts)
                                << QString::fromLatin1(Assets)
                                << QString::fromLatin1(After).split(u' ', Qt::SkipEmptyParts) << Status;
        };
        row("partial: the installed document becomes the marker", "partial",
            "package.json=P1 partial-package.json=stale assets.json=A7", "A8",
            "assets.json=A8 partial-package.json=P1", 2);
        row("partial: nothing installed, the given documents", "partial", "", "A8",
            "assets.json=A8 partial-package.json=P2", 2);
        // An interrupted run's marker names the files that may be present; no asset document
        // leaves the asset file alone.
        row("partial: an interrupted run's marker stays", "partial",
            "partial-package.json=interrupted assets.json=A7", "",
            "assets.json=A7 partial-package.json=interrupted", 2);
        row("partial: markers that are directories go", "partial",
            "package.json/inner/file=x partial-package.json/file=x", "A8",
            "assets.json=A8 partial-package.json=P2", 2);
        row("update partial: the document is replaced", "update", "partial-package.json=P1", "A8",
            "assets.json=A8 partial-package.json=P2", 2);
        row("update partial: a full marker goes first", "update", "package.json=P1", "A8",
            "assets.json=A8 partial-package.json=P2", 2);
        // A version without asset document must not be described by an older version's one.
        row("update partial: an older asset document goes", "update", "assets.json=A7", "",
            "partial-package.json=P2", 2);
        row("full: only the full marker stays", "full", "partial-package.json=P2 assets.json=A7", "A8",
            "assets.json=A8 package.json=P2", 4);
        row("full: the package directory is created", "full", "", "", "package.json=P2", -1);
        row("full: markers that are directories go", "full",
            "partial-package.json/file=x package.json/file=x assets.json/file=x", "A8",
            "assets.json=A8 package.json=P2", 4);
    }

    void markerTransitions() {
        QFETCH(QString, operation);
        QFETCH(QStringList, before);
        QFETCH(QString, assets);
        QFETCH(QStringList, after);
        QFETCH(int, status);
        const auto content = [](const QString& Token) {
            return Token.startsWith(u'P')   ? packageDocument(qPrintable(Token.mid(1)))
                   : Token.startsWith(u'A') ? assetDocument(Token.mid(1).toInt())
                                            : Token.toUtf8();
        };
        makeThreePackages();
        for (const QString& entry : before) {
            QVERIFY(writeBytes(packageDirectory("one") + u'/' + entry.section(u'=', 0, 0),
                               content(entry.section(u'=', 1))));
        }
        const auto manager = makeManager();
        const std::int32_t statusBefore = package(0)->localStatus();
        QSignalSpy changed(package(0).get(), &TPackage::localPackageStatusChanged);
        const QByteArray givenAssets = assets.isEmpty() ? QByteArray() : content(assets);
        if (operation == u"partial"_qs) {
            manager->markPackageAsPartiallyInstalled(package(0), packageDocument("2"), givenAssets);
        } else if (operation == u"update"_qs) {
            manager->updatePartiallyInstalledPackage(package(0), packageDocument("2"), givenAssets);
        } else {
            manager->markPackageAsFullyInstalled(package(0), packageDocument("2"), givenAssets);
        }
        QStringList names;
        for (const QString& entry : after) {
            names << entry.section(u'=', 0, 0);
            QCOMPARE(readBytes(packageDirectory("one") + u'/' + names.last()),
                     content(entry.section(u'=', 1)));
        }
        QCOMPARE(QDir(packageDirectory("one")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
                 names);
        if (status >= 0) {
            QCOMPARE(package(0)->localStatus(), status);
            QCOMPARE(manager->determinePackageStatus(package(0)), status);
            QCOMPARE(changed.count(), statusBefore == status ? 0 : 1);
        }
    }

    void failingWriteKeepsTheInstalledDocument() {
        makeThreePackages();
        m_pFileSystem = std::make_shared<testsupport::TFailingFilesystem>(
            launcherDirectory(), testsupport::EFailingOperation::Write,
            testsupport::TFailingFilesystem::endingIn(u"/partial-package.json"_qs));
        const QByteArray installed = packageDocument("2");
        QVERIFY(writeBytes(file("one", "package.json"), installed));
        QVERIFY(writeBytes(file("one", "assets.json"), assetDocument(8)));
        const auto manager = makeManager();
        QCOMPARE(package(0)->localStatus(), TPackage::StatusUpToDate);
        try {
            manager->installOrUpdatePackage(package(0));
            QFAIL("the failing write went unnoticed");
        } catch (const std::runtime_error& error) {
            QVERIFY2(QString::fromUtf8(error.what()).startsWith(u"I/O error on file '"_qs), error.what());
        }
        // The installed document is still in place, so the package still counts as installed.
        QCOMPARE(readBytes(file("one", "package.json")), installed);
        QCOMPARE(manager->determinePackageStatus(package(0)), TPackage::StatusUpToDate);
        QVERIFY(manager->installationsInProgress().empty());
    }

    void readsTheInstalledConfiguration() {
        makeThreePackages();
        const auto manager = makeManager();
        const QDir directory(packageDirectory("one"));
        QVERIFY(!manager->readPackageConfigurationFromInstallationDirectory(directory).isValid());

        QVERIFY(writeBytes(file("one", "partial-package.json"), packageDocument("1")));
        QVERIFY(writeBytes(file("one", "assets.json"), assetDocument(7)));
        TPackageConfigurationReader installed =
            manager->readPackageConfigurationFromInstallationDirectory(directory);
        QVERIFY(installed.isValid());
        QCOMPARE(installed.packageVersion(), u"1"_qs);
        QCOMPARE(installed.assetVersion(), u"7"_qs);
        QCOMPARE(installed.rawPackageDocument(), packageDocument("1"));
        QCOMPARE(installed.packageBaseUrl(), QUrl::fromLocalFile(directory.absolutePath()));

        // The full marker wins over the partial one.
        QVERIFY(writeBytes(file("one", "package.json"), packageDocument("2")));
        installed = manager->readPackageConfigurationFromInstallationDirectory(directory);
        QCOMPARE(installed.packageVersion(), u"2"_qs);
        QCOMPARE(installed.files().size(), std::size_t(1));
    }

    void defaultMarkerOfTheFirstInstalledPackageOnly() {
        makeThreePackages();
        // "one" is not installed: its marker does not count. "two" and "three" are installed.
        QVERIFY(writeBytes(file("one", "default"), QByteArray()));
        QVERIFY(writeBytes(file("two", "partial-package.json"), packageDocument("2")));
        QVERIFY(writeBytes(file("two", "default"), QByteArray()));
        QVERIFY(writeBytes(file("three", "package.json"), packageDocument("2")));
        QVERIFY(writeBytes(file("three", "default"), QByteArray()));
        const auto manager = makeManager();
        QVERIFY(!package(0)->isDefaultPackage());
        QVERIFY(package(1)->isDefaultPackage());
        QVERIFY(!package(2)->isDefaultPackage());
    }

    void setAndClearDefaultPackage() {
        makeThreePackages();
        for (const char* name : {"one", "two", "three"}) {
            QVERIFY(writeBytes(file(name, "package.json"), packageDocument("2")));
        }
        QVERIFY(writeBytes(file("one", "default"), QByteArray()));
        QVERIFY(writeBytes(file("two", "default/inner"), "x")); // a directory
        const auto manager = makeManager();
        QVERIFY(package(0)->isDefaultPackage());

        manager->setDefaultPackage(package(2));
        QVERIFY(!QFileInfo::exists(file("one", "default")));
        QVERIFY(!QFileInfo::exists(file("two", "default")));
        QVERIFY(QFileInfo(file("three", "default")).isFile());
        QCOMPARE(QFileInfo(file("three", "default")).size(), qint64(0));
        QVERIFY(!package(0)->isDefaultPackage());
        QVERIFY(!package(1)->isDefaultPackage());
        QVERIFY(package(2)->isDefaultPackage());

        // A fresh manager finds the same default package.
        package(2)->setDefaultPackage(false);
        makeManager();
        QVERIFY(package(2)->isDefaultPackage());

        manager->clearDefaultPackage();
        for (int index = 0; index < 3; ++index) {
            QVERIFY(!package(index)->isDefaultPackage());
        }
        QVERIFY(!QFileInfo::exists(file("three", "default")));
        // Clearing also refreshes the statuses.
        QVERIFY(QFile::remove(file("one", "package.json")));
        manager->clearDefaultPackage();
        QCOMPARE(package(0)->localStatus(), TPackage::StatusNotInstalled);
    }

    void packageDirectories() {
        QJsonObject launcher = packageEntry(u"Launcher"_qs, u"launcher"_qs);
        const auto configurationWithLauncher = std::make_shared<TLauncherConfigurationReader>(
            QJsonDocument(
                QJsonObject{{u"launcher"_qs, launcher},
                            {u"packages"_qs, QJsonArray{packageEntry(u"Game"_qs, u"game"_qs),
                                                        packageEntry(u"Escape"_qs, u"../../escape"_qs)}}})
                .toJson(),
            QUrl(u"http://127.0.0.1/cdn/"_qs));
        m_pConfiguration = configurationWithLauncher;
        const auto manager = makeManager();
        QCOMPARE(manager->packageDirectory(m_pConfiguration->launcherPackage()).absolutePath(),
                 launcherDirectory());
        QCOMPARE(manager->packageDirectory(package(0)).absolutePath(), packageDirectory("game"));
        // The packages directory is created on the way.
        QVERIFY(QFileInfo(launcherDirectory() + u"/packages"_qs).isDir());
        // A directory name from the server never leads out of the packages directory.
        QVERIFY(manager->packageDirectory(package(1))
                    .absolutePath()
                    .startsWith(launcherDirectory() + u"/packages"_qs));

        // The launcher's own package keeps its markers in the launcher's directory.
        attach(m_pConfiguration->launcherPackage(), packageDocument("2"), assetDocument(8));
        manager->markPackageAsFullyInstalled(m_pConfiguration->launcherPackage(), packageDocument("2"),
                                             assetDocument(8));
        QCOMPARE(readBytes(launcherDirectory() + u"/package.json"_qs), packageDocument("2"));
        QCOMPARE(manager->determinePackageStatus(m_pConfiguration->launcherPackage()),
                 TPackage::StatusUpToDate);
    }

    void executablePathsAndLookup() {
        m_pConfiguration =
            configuration({packageEntry(u"Game"_qs, u"game"_qs), packageEntry(u"Other"_qs, u"other"_qs),
                           packageEntry(u"No client"_qs, u"noclient"_qs),
                           packageEntry(u"Unconfigured"_qs, u"unconfigured"_qs)});
        attach(package(0), packageDocument("2"), QByteArray());
        attach(package(1), packageDocument("2"), QByteArray());
        attach(package(2), packageDocument("2", QString()), QByteArray());
        const auto manager = makeManager();
        const QString game = packageDirectory("game") + u"/bin/client"_qs;
        const QString other = packageDirectory("other") + u"/bin/client"_qs;
        QCOMPARE(manager->executablePath(package(0)), game);
        QCOMPARE(manager->executablePath(package(2)), QString());
        QCOMPARE(manager->executablePath(package(3)), QString());

        QCOMPARE(manager->findPackageByExecutable(game), package(0));
        QCOMPARE(manager->findPackageByExecutable(other), package(1));
        QString redundant = game;
        redundant.replace(u"/bin/"_qs, u"//./bin/.//"_qs);
        QCOMPARE(manager->findPackageByExecutable(redundant), package(0));
        QCOMPARE(manager->findPackageByExecutable(packageDirectory("game") + u"/./bin/../bin/client"_qs),
                 package(0));
        QCOMPARE(manager->findPackageByExecutable(game + u"2"_qs), std::shared_ptr<TPackage>());
        // Packages without a start file match nothing, not even an empty path or their own directory.
        QCOMPARE(manager->findPackageByExecutable(QString()), std::shared_ptr<TPackage>());
        QCOMPARE(manager->findPackageByExecutable(packageDirectory("noclient")), std::shared_ptr<TPackage>());

        // A start file named by the server stays inside the package directory.
        attach(package(2), packageDocument("2", u"../../../../outside"_qs), QByteArray());
        QVERIFY(manager->executablePath(package(2)).startsWith(packageDirectory("noclient")));
    }

    void requestsWithoutConfigurationOrInstallationAreIgnored() {
        m_pConfiguration = configuration(
            {packageEntry(u"Game"_qs, u"game"_qs), packageEntry(u"Unconfigured"_qs, u"unconfigured"_qs)});
        attach(package(0), packageDocument("2"), assetDocument(8));
        const auto manager = makeManager();
        int started = 0;
        connect(manager.get(), &TInstallationManager::installationOrUpdateStarted, this,
                [&started] { ++started; });

        manager->installOrUpdatePackage(package(1));
        manager->verifyPackage(package(1));
        // Nothing is installed: a check of nothing must not make the package count as installed.
        manager->verifyPackage(package(0));
        QCOMPARE(started, 0);
        QVERIFY(manager->installationsInProgress().empty());
        QVERIFY(!QFileInfo::exists(packageDirectory("game")));
        QVERIFY(!QFileInfo::exists(packageDirectory("unconfigured")));
        QCOMPARE(package(0)->localStatus(), TPackage::StatusNotInstalled);
    }

    void managerWithoutConfiguration() {
        m_pConfiguration = configuration({packageEntry(u"Game"_qs, u"game"_qs)});
        attach(package(0), packageDocument("2"), assetDocument(8));
        QVERIFY(writeBytes(file("game", "package.json"), packageDocument("2")));
        QVERIFY(writeBytes(file("game", "assets.json"), assetDocument(8)));
        TInstallationManager selfUpdateManager(nullptr, m_pFileSystem);
        QCOMPARE(package(0)->localStatus(), TPackage::StatusNotDetermined);
        selfUpdateManager.refreshPackageStatuses();
        selfUpdateManager.clearDefaultPackage();
        QCOMPARE(package(0)->localStatus(), TPackage::StatusNotDetermined);
        QCOMPARE(selfUpdateManager.findPackageByExecutable(packageDirectory("game") + u"/bin/client"_qs),
                 std::shared_ptr<TPackage>());
        QVERIFY(!selfUpdateManager.selfUpdateMode());
        selfUpdateManager.setSelfUpdateMode(true);
        QVERIFY(selfUpdateManager.selfUpdateMode());
        // Packages handed in directly are still served.
        QCOMPARE(selfUpdateManager.determinePackageStatus(package(0)), TPackage::StatusUpToDate);
    }

private:
    QString launcherDirectory() const { return m_pWork->filePath(u"launcher"_qs); }
    QString packageDirectory(const char* Name) const {
        return launcherDirectory() + u"/packages/"_qs + QLatin1String(Name);
    }
    QString file(const char* Package, const char* Name) const {
        return packageDirectory(Package) + u'/' + QLatin1String(Name);
    }
    std::shared_ptr<TLauncherConfigurationReader> configuration(const QJsonArray& Packages) const;
    // Three packages "one", "two", "three", each offering version 2 with asset version 8.
    void makeThreePackages();
    std::unique_ptr<TInstallationManager> makeManager() const {
        return std::make_unique<TInstallationManager>(m_pConfiguration, m_pFileSystem);
    }
    std::shared_ptr<TPackage> package(int Index) const { return m_pConfiguration->packages().at(Index); }

    std::unique_ptr<QTemporaryDir> m_pWork;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
    std::shared_ptr<TLauncherConfigurationReader> m_pConfiguration;
};

std::shared_ptr<TLauncherConfigurationReader>
TestInstallationManager::configuration(const QJsonArray& Packages) const {
    return std::make_shared<TLauncherConfigurationReader>(
        QJsonDocument(QJsonObject{{u"packages"_qs, Packages}}).toJson(), QUrl(u"http://127.0.0.1/cdn/"_qs));
}

void TestInstallationManager::makeThreePackages() {
    m_pConfiguration = configuration({packageEntry(u"One"_qs, u"one"_qs), packageEntry(u"Two"_qs, u"two"_qs),
                                      packageEntry(u"Three"_qs, u"three"_qs)});
    for (const auto& entry : m_pConfiguration->packages()) {
        attach(entry, packageDocument("2"), assetDocument(8));
    }
}

LAUNCHER_TEST(TestInstallationManager)
#include "tst_installationmanager.moc"
