// The installation manager's local state: statuses from the markers, the marker transitions, the
// default package, package and executable paths. Runs against a server are in
// tst_installationmanagerruns.
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "launcher/package/packageconfigurationreader.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/publishedgame.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

QByteArray packageDocument(const QString& Version, const QString& Executable = u"bin/client"_qs) {
    const QJsonObject file{
        {u"localfile"_qs, u"data/readme.txt"_qs}, {u"unpackedsize"_qs, 5}, {u"unpackedhash"_qs, u"00"_qs}};
    return QJsonDocument(QJsonObject{{u"version"_qs, Version},
                                     {u"executable"_qs, Executable},
                                     {u"files"_qs, QJsonArray{file}}})
        .toJson();
}

QByteArray assetDocument(const QJsonValue& Version) {
    return QJsonDocument(QJsonObject{{u"version"_qs, Version}}).toJson();
}

// "P2": package document of version 2, "A8": asset document of version 8, "-": none, else the text.
QByteArray content(const QString& Token) {
    return Token == u"-"_qs         ? QByteArray()
           : Token.startsWith(u'P') ? packageDocument(Token.mid(1))
           : Token.startsWith(u'A') ? assetDocument(Token.mid(1).toInt())
                                    : Token.toUtf8();
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
        // Packages "one", "two", "three" (directories of the same names) offer version 2, assets 8;
        // "Elsewhere" is built for another system only, "Unconfigured" has no documents.
        QJsonArray packages;
        for (const QString& name : {u"one"_qs, u"two"_qs, u"three"_qs, u"elsewhere"_qs, u"unconfigured"_qs}) {
            const QJsonObject build{{u"os"_qs, name == u"elsewhere"_qs ? u"windows"_qs : u"linux"_qs},
                                    {u"architecture"_qs, u"x86_64"_qs},
                                    {u"url"_qs, name + u"/package.json"_qs}};
            packages.append(QJsonObject{
                {u"name"_qs, name}, {u"directoryname"_qs, name}, {u"builds"_qs, QJsonArray{build}}});
        }
        const QJsonObject launcher{{u"name"_qs, u"Launcher"_qs},
                                   {u"directoryname"_qs, u"launcher"_qs},
                                   {u"builds"_qs, packages[0].toObject()[u"builds"_qs]}};
        m_pConfiguration = std::make_shared<TLauncherConfigurationReader>(
            QJsonDocument(QJsonObject{{u"launcher"_qs, launcher}, {u"packages"_qs, packages}}).toJson(),
            QUrl(u"http://127.0.0.1/cdn/"_qs));
        for (int index = 0; index < 3; ++index) {
            attach(package(index), packageDocument(u"2"_qs), assetDocument(8));
        }
    }

    void statusFollowsMarkersAndVersionLabels_data() {
        QTest::addColumn<QString>("targetAssets");
        QTest::addColumn<QStringList>("files"); // full marker, partial marker, asset document
        QTest::addColumn<int>("status");
        const auto row = [](const char* Name, const char* Target, const char* Files, int Status) {
            QTest::newRow(Name) << QString::fromLatin1(Target) << QString::fromLatin1(Files).split(u' ')
                                << Status;
        };
        row("no marker", "A8", "- - A8", TPackage::StatusNotInstalled);
        row("partial marker", "A8", "- P2 A8", TPackage::StatusPartiallyInstalled);
        row("same version", "A8", "P2 - A8", TPackage::StatusUpToDate);
        row("other package version", "A8", "P1 - A8", TPackage::StatusUpdateAvailable);
        row("other asset version", "A8", "P2 - A7", TPackage::StatusUpdateAvailable);
        row("asset version 1 always offers an update", "A1", "P2 - A1", TPackage::StatusUpdateAvailable);
        row("asset version 10 is no special case", "A10", "P2 - A10", TPackage::StatusUpToDate);
        row("no asset documents at all", "-", "P2 - -", TPackage::StatusUpToDate);
        row("the full marker decides over the partial one", "A8", "P1 P2 A8",
            TPackage::StatusUpdateAvailable);
        // The asset version is compared as text: 8 and "8" are one version; "" reads as "?".
        QTest::newRow("asset version as number and text")
            << u"A8"_qs << QStringList{u"P2"_qs, u"-"_qs, u"{\"version\": \"8\"}"_qs}
            << TPackage::StatusUpToDate;
        QTest::newRow("empty asset version equals '?'")
            << u"{\"version\": \"\"}"_qs << QStringList{u"P2"_qs, u"-"_qs, u"{\"version\": \"?\"}"_qs}
            << TPackage::StatusUpToDate;
    }

    void statusFollowsMarkersAndVersionLabels() {
        QFETCH(QString, targetAssets);
        QFETCH(QStringList, files);
        QFETCH(int, status);
        attach(package(0), packageDocument(u"2"_qs), content(targetAssets));
        const QStringList names{u"package.json"_qs, u"partial-package.json"_qs, u"assets.json"_qs};
        for (int index = 0; index < 3; ++index) {
            if (files[index] != u"-"_qs) {
                QVERIFY(writeBytes(file("one", names[index]), content(files[index])));
            }
        }
        QSignalSpy changed(package(0).get(), &TPackage::localPackageStatusChanged);
        const auto manager = makeManager(); // refreshes and stores the statuses
        QCOMPARE(manager->determinePackageStatus(package(0)), status);
        QCOMPARE(package(0)->localStatus(), status);
        // Only a change is told.
        manager->refreshPackageStatuses();
        QCOMPARE(changed.count(), 1);
    }

    void markerTransitions_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("before"); // "name=content" below the package directory
        QTest::addColumn<QString>("assets");     // the asset document handed in
        QTest::addColumn<QStringList>("after");  // every entry of the package directory afterwards
        QTest::addColumn<int>("status");         // as the markers show it afterwards
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
            "partial-package.json=interrupted assets.json=A7", "-",
            "assets.json=A7 partial-package.json=interrupted", 2);
        row("partial: markers that are directories go", "partial",
            "package.json/inner/file=x partial-package.json/file=x", "A8",
            "assets.json=A8 partial-package.json=P2", 2);
        row("update partial: the document is replaced", "update", "partial-package.json=P1", "A8",
            "assets.json=A8 partial-package.json=P2", 2);
        row("update partial: a full marker goes first", "update", "package.json=P1", "A8",
            "assets.json=A8 partial-package.json=P2", 2);
        // A version without asset document must not be described by an older version's one.
        row("update partial: an older asset document goes", "update", "assets.json=A7", "-",
            "partial-package.json=P2", 2);
        row("full: only the full marker stays", "full", "partial-package.json=P2 assets.json=A7", "A8",
            "assets.json=A8 package.json=P2", 4);
        row("full: the package directory is created, without asset document", "full", "", "-",
            "package.json=P2", 3);
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
        for (const QString& entry : before) {
            QVERIFY(writeBytes(file("one", entry.section(u'=', 0, 0)), content(entry.section(u'=', 1))));
        }
        const auto manager = makeManager();
        const QByteArray document = packageDocument(u"2"_qs);
        if (operation == u"partial"_qs) {
            manager->markPackageAsPartiallyInstalled(package(0), document, content(assets));
        } else if (operation == u"update"_qs) {
            manager->updatePartiallyInstalledPackage(package(0), document, content(assets));
        } else {
            manager->markPackageAsFullyInstalled(package(0), document, content(assets));
        }
        QStringList names;
        for (const QString& entry : after) {
            names << entry.section(u'=', 0, 0);
            QCOMPARE(readBytes(file("one", names.last())), content(entry.section(u'=', 1)));
        }
        QCOMPARE(QDir(directory("one")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
                 names);
        QCOMPARE(package(0)->localStatus(),
                 operation == u"full"_qs ? TPackage::StatusUpToDate : TPackage::StatusPartiallyInstalled);
        QCOMPARE(manager->determinePackageStatus(package(0)), status);
    }

    void failingWriteKeepsTheInstalledDocument() {
        m_pFileSystem = std::make_shared<testsupport::TFailingFilesystem>(
            launcherDirectory(), testsupport::EFailingOperation::Write,
            testsupport::TFailingFilesystem::endingIn(u"/partial-package.json"_qs));
        QVERIFY(writeBytes(file("one", "package.json"), packageDocument(u"2"_qs)));
        QVERIFY(writeBytes(file("one", "assets.json"), assetDocument(8)));
        const auto manager = makeManager();
        QVERIFY_EXCEPTION_THROWN(manager->installOrUpdatePackage(package(0)), std::runtime_error);
        // The installed document is still in place, so the package still counts as installed.
        QCOMPARE(readBytes(file("one", "package.json")), packageDocument(u"2"_qs));
        QCOMPARE(manager->determinePackageStatus(package(0)), TPackage::StatusUpToDate);
        QVERIFY(manager->installationsInProgress().empty());
    }

    void readsTheInstalledConfiguration() {
        const auto manager = makeManager();
        const QDir one(directory("one"));
        QVERIFY(!manager->readPackageConfigurationFromInstallationDirectory(one).isValid());
        QVERIFY(writeBytes(file("one", "partial-package.json"), packageDocument(u"1"_qs)));
        QVERIFY(writeBytes(file("one", "assets.json"), assetDocument(7)));
        TPackageConfigurationReader installed =
            manager->readPackageConfigurationFromInstallationDirectory(one);
        QCOMPARE(installed.packageVersion() + installed.assetVersion(), u"17"_qs);
        QCOMPARE(installed.packageBaseUrl(), QUrl::fromLocalFile(one.absolutePath()));
        // The full marker wins over the partial one.
        QVERIFY(writeBytes(file("one", "package.json"), packageDocument(u"2"_qs)));
        installed = manager->readPackageConfigurationFromInstallationDirectory(one);
        QCOMPARE(installed.packageVersion(), u"2"_qs);
    }

    void defaultPackageIsTheFirstInstalledOneWithAMarker() {
        // "one" is not installed: its marker does not count. "two" and "three" are installed.
        QVERIFY(writeBytes(file("one", "default"), QByteArray()));
        QVERIFY(writeBytes(file("two", "partial-package.json"), packageDocument(u"2"_qs)));
        QVERIFY(writeBytes(file("two", "default"), QByteArray()));
        QVERIFY(writeBytes(file("three", "package.json"), packageDocument(u"2"_qs)));
        QVERIFY(writeBytes(file("three", "default/inner"), "a directory"));
        const auto manager = makeManager();
        QCOMPARE(defaults(), (QList<bool>{false, true, false}));

        manager->setDefaultPackage(package(2));
        QVERIFY(!QFileInfo::exists(file("one", "default")) && !QFileInfo::exists(file("two", "default")));
        QCOMPARE(QFileInfo(file("three", "default")).size(), qint64(0));
        QCOMPARE(defaults(), (QList<bool>{false, false, true}));
        package(2)->setDefaultPackage(false);
        makeManager(); // a fresh manager finds it again
        QCOMPARE(defaults(), (QList<bool>{false, false, true}));

        // Clearing also refreshes the statuses.
        QVERIFY(QFile::remove(file("three", "package.json")));
        manager->clearDefaultPackage();
        QCOMPARE(defaults(), (QList<bool>{false, false, false}));
        QVERIFY(!QFileInfo::exists(file("three", "default")));
        QCOMPARE(package(2)->localStatus(), TPackage::StatusNotInstalled);
    }

    void pathsStayInsideTheirDirectories() {
        const auto manager = makeManager();
        // The launcher's own package keeps its markers in the launcher's directory.
        const std::shared_ptr<TPackage> launcher = m_pConfiguration->launcherPackage();
        attach(launcher, packageDocument(u"2"_qs), assetDocument(8));
        manager->markPackageAsFullyInstalled(launcher, packageDocument(u"2"_qs), assetDocument(8));
        QCOMPARE(readBytes(launcherDirectory() + u"/package.json"_qs), packageDocument(u"2"_qs));
        QCOMPARE(manager->determinePackageStatus(launcher), TPackage::StatusUpToDate);

        const QString client = directory("one") + u"/bin/client"_qs;
        QCOMPARE(manager->executablePath(package(0)), client);
        QCOMPARE(manager->findPackageByExecutable(directory("one") + u"//./bin/../bin/client"_qs),
                 package(0));
        QVERIFY(!manager->findPackageByExecutable(client + u"2"_qs));
        // Packages without a start file match nothing, not even an empty path or their directory.
        attach(package(1), packageDocument(u"2"_qs, QString()), QByteArray());
        QCOMPARE(manager->executablePath(package(1)), QString());
        QVERIFY(!manager->findPackageByExecutable(QString()));
        QVERIFY(!manager->findPackageByExecutable(directory("two")));
        // Names from the server never lead out of their directories.
        attach(package(1), packageDocument(u"2"_qs, u"../../../../outside"_qs), QByteArray());
        QVERIFY(manager->executablePath(package(1)).startsWith(directory("two") + u'/'));
        const QJsonObject escape{{u"name"_qs, u"Escape"_qs}, {u"directoryname"_qs, u"../../escape"_qs}};
        const TLauncherConfigurationReader hostile(
            QJsonDocument(QJsonObject{{u"packages"_qs, QJsonArray{escape}}}).toJson(),
            QUrl(u"http://127.0.0.1/"_qs));
        QVERIFY(manager->packageDirectory(hostile.packages().at(0))
                    .absolutePath()
                    .startsWith(launcherDirectory() + u"/packages/"_qs));
    }

    void requestsWithoutConfigurationOrInstallationAreIgnored() {
        QVERIFY(writeBytes(file("elsewhere", "package.json"), packageDocument(u"2"_qs)));
        const auto manager = makeManager();
        QCOMPARE(package(3)->localStatus(), TPackage::StatusNotInstalled);
        int started = 0;
        connect(manager.get(), &TInstallationManager::installationOrUpdateStarted, this,
                [&started] { ++started; });
        manager->installOrUpdatePackage(package(4));
        manager->verifyPackage(package(3));
        // Nothing is installed: a check of nothing must not make the package count as installed.
        manager->verifyPackage(package(0));
        QCOMPARE(started, 0);
        QVERIFY(!QFileInfo::exists(directory("one")) && !QFileInfo::exists(directory("unconfigured")));
        QCOMPARE(package(0)->localStatus(), TPackage::StatusNotInstalled);

        // The self-updater's manager has no configuration: it keeps away from the package list.
        QVERIFY(writeBytes(file("one", "package.json"), packageDocument(u"2"_qs)));
        TInstallationManager selfUpdate(nullptr, m_pFileSystem);
        selfUpdate.refreshPackageStatuses();
        selfUpdate.clearDefaultPackage();
        QCOMPARE(package(0)->localStatus(), TPackage::StatusNotInstalled);
        QVERIFY(!selfUpdate.findPackageByExecutable(directory("one") + u"/bin/client"_qs));
        QCOMPARE(selfUpdate.determinePackageStatus(package(0)), TPackage::StatusUpdateAvailable);
    }

private:
    QString launcherDirectory() const { return m_pWork->filePath(u"launcher"_qs); }
    QString directory(const char* Name) const {
        return launcherDirectory() + u"/packages/"_qs + QLatin1String(Name);
    }
    QString file(const char* Package, const QString& Name) const { return directory(Package) + u'/' + Name; }
    QString file(const char* Package, const char* Name) const {
        return file(Package, QString::fromLatin1(Name));
    }
    std::unique_ptr<TInstallationManager> makeManager() const {
        return std::make_unique<TInstallationManager>(m_pConfiguration, m_pFileSystem);
    }
    std::shared_ptr<TPackage> package(int Index) const { return m_pConfiguration->packages().at(Index); }
    QList<bool> defaults() const {
        return {package(0)->isDefaultPackage(), package(1)->isDefaultPackage(),
                package(2)->isDefaultPackage()};
    }

    std::unique_ptr<QTemporaryDir> m_pWork;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
    std::shared_ptr<TLauncherConfigurationReader> m_pConfiguration;
};

LAUNCHER_TEST(TestInstallationManager)
#include "tst_installationmanager.moc"
