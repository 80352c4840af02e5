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

#include <QtTest>

#include <stdexcept>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

QByteArray packageDocument(const QString& Version, const QString& Executable = u"bin/client"_qs) {
    return QJsonDocument(QJsonObject{{u"version"_qs, Version}, {u"executable"_qs, Executable}}).toJson();
}

// "P2": the package document of version 2; "A8": the asset document of version 8 ("T8": written as
// text); "-": none; anything else stands for itself.
QByteArray content(const QString& Token) {
    const QString version = Token.mid(1);
    return Token == u"-"_qs         ? QByteArray()
           : Token.startsWith(u'P') ? packageDocument(version)
           : Token.startsWith(u'A') ? QJsonDocument(QJsonObject{{u"version"_qs, version.toInt()}}).toJson()
           : Token.startsWith(u'T') ? QJsonDocument(QJsonObject{{u"version"_qs, version}}).toJson()
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
        // "one", "two", "three" offer version 2 with assets 8; "elsewhere" is built for another
        // system only; "unconfigured" has no documents.
        QJsonArray packages;
        for (const QString& name : {u"one"_qs, u"two"_qs, u"three"_qs, u"elsewhere"_qs, u"unconfigured"_qs}) {
            const QJsonObject build{{u"os"_qs, name == u"elsewhere"_qs ? u"windows"_qs : u"linux"_qs},
                                    {u"architecture"_qs, u"x86_64"_qs}};
            packages.append(QJsonObject{
                {u"name"_qs, name}, {u"directoryname"_qs, name}, {u"builds"_qs, QJsonArray{build}}});
        }
        m_pConfiguration = std::make_shared<TLauncherConfigurationReader>(
            QJsonDocument(QJsonObject{{u"packages"_qs, packages}}).toJson(),
            QUrl(u"http://127.0.0.1/cdn/"_qs));
        for (int index = 0; index < 3; ++index) {
            attach(package(index), content(u"P2"_qs), content(u"A8"_qs));
        }
    }

    void markersAndStatus_data() {
        // f, p, a: the full marker, the partial marker and the asset document of package "one"
        // ("f/x=y": f is a directory). Rows without operation show how the markers and the asset
        // document offered ("A8") are read; the others what each marker operation, handed package
        // document "P2" and an asset document, leaves in the directory ("": as before).
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("assets");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<QString>("expected"); // the status, and the installed version as read
        const auto row = [](const char* Name, const char* Operation, const char* Before, const char* Assets,
                            const char* After, const char* Expected) {
            QTest::newRow(Name) << QString::fromLatin1(Operation)
                                << QString::fromLatin1(Before).split(u' ', Qt::SkipEmptyParts)
                                << QString::fromLatin1(Assets)
                                << QString::fromLatin1(After).split(u' ', Qt::SkipEmptyParts)
                                << QString::fromLatin1(Expected);
        };
        row("no marker", "", "a=A8", "A8", "", "1 -");
        row("partial marker", "", "p=P1 a=A8", "A8", "", "2 1");
        row("same version", "", "f=P2 a=A8", "A8", "", "4 2");
        row("asset version as number and as text", "", "f=P2 a=T8", "A8", "", "4 2");
        row("other package version", "", "f=P1 a=A8", "A8", "", "3 1");
        row("other asset version", "", "f=P2 a=A7", "A8", "", "3 2");
        row("asset version 1 always offers an update", "", "f=P2 a=A1", "A1", "", "3 2");
        row("asset version 10 is no special case", "", "f=P2 a=A10", "A10", "", "4 2");
        row("no asset documents at all", "", "f=P2", "-", "", "4 2");
        row("the full marker decides over the partial one", "", "f=P1 p=P2 a=A8", "A8", "", "3 1");
        row("partial: the installed document becomes the marker", "partial", "f=P1 p=stale a=A7", "A8",
            "a=A8 p=P1", "2 1");
        row("partial: nothing installed, the given documents", "partial", "", "A8", "a=A8 p=P2", "2 2");
        // An interrupted run's marker names the files that may be present; no asset document
        // leaves the asset file alone.
        row("partial: an interrupted run's marker stays", "partial", "p=interrupted a=A7", "-", "", "2 -");
        row("partial: markers that are directories go", "partial", "f/inner/x=x p/x=x", "A8", "a=A8 p=P2",
            "2 2");
        row("update partial: the document is replaced", "update", "p=P1", "A8", "a=A8 p=P2", "2 2");
        row("update partial: a full marker goes first", "update", "f=P1", "A8", "a=A8 p=P2", "2 2");
        // A version without asset document must not be described by an older version's one.
        row("update partial: an older asset document goes", "update", "a=A7", "-", "p=P2", "2 2");
        row("full: only the full marker stays", "full", "p=P2 a=A7", "A8", "a=A8 f=P2", "4 2");
        row("full: the directory is created; without asset document", "full", "", "-", "f=P2", "3 2");
        row("full: markers that are directories go", "full", "p/x=x f/x=x a/x=x", "A8", "a=A8 f=P2", "4 2");
    }

    void markersAndStatus() {
        QFETCH(QString, operation);
        QFETCH(QStringList, before);
        QFETCH(QString, assets);
        QFETCH(QStringList, after);
        QFETCH(QString, expected);
        const auto path = [this](const QString& Entry) {
            const QMap<QChar, QString> markers{
                {u'f', u"package.json"_qs}, {u'p', u"partial-package.json"_qs}, {u'a', u"assets.json"_qs}};
            return file(u"one/"_qs + markers.value(Entry[0]) + Entry.section(u'=', 0, 0).mid(1));
        };
        for (const QString& entry : before) {
            QVERIFY(writeBytes(path(entry), content(entry.section(u'=', 1))));
        }
        if (operation.isEmpty()) {
            attach(package(0), content(u"P2"_qs), content(assets));
        }
        QSignalSpy changed(package(0).get(), &TPackage::localPackageStatusChanged);
        const auto manager = makeManager(); // refreshes and stores the statuses
        if (operation == u"partial"_qs) {
            manager->markPackageAsPartiallyInstalled(package(0), content(u"P2"_qs), content(assets));
        } else if (operation == u"update"_qs) {
            manager->updatePartiallyInstalledPackage(package(0), content(u"P2"_qs), content(assets));
        } else if (operation == u"full"_qs) {
            manager->markPackageAsFullyInstalled(package(0), content(u"P2"_qs), content(assets));
        }
        QStringList names;
        for (const QString& entry : after.isEmpty() ? before : after) {
            names << QFileInfo(path(entry)).fileName();
            QCOMPARE(readBytes(path(entry)), content(entry.section(u'=', 1)));
        }
        names.sort();
        QCOMPARE(QDir(directory("one")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
                 names);
        const QString read =
            manager->readPackageConfigurationFromInstallationDirectory(directory("one")).packageVersion();
        const std::int32_t status = manager->determinePackageStatus(package(0));
        QCOMPARE(QString::number(status) + u' ' + (read.isEmpty() ? u"-"_qs : read), expected);
        if (operation.isEmpty()) {
            manager->refreshPackageStatuses(); // the status stored already: nothing to tell
            QCOMPARE(changed.count(), 1);
        } else {
            QCOMPARE(package(0)->localStatus(),
                     operation == u"full"_qs ? TPackage::StatusUpToDate : TPackage::StatusPartiallyInstalled);
        }
    }

    void failingWriteKeepsTheInstalledDocument() {
        m_pFileSystem = std::make_shared<testsupport::TFailingFilesystem>(
            launcherDirectory(), testsupport::EFailingOperation::Write,
            testsupport::TFailingFilesystem::endingIn(u"/partial-package.json"_qs));
        QVERIFY(writeBytes(file("one/package.json"), content(u"P2"_qs)));
        QVERIFY(writeBytes(file("one/assets.json"), content(u"A8"_qs)));
        const auto manager = makeManager();
        QVERIFY_EXCEPTION_THROWN(manager->installOrUpdatePackage(package(0)), std::runtime_error);
        // The installed document is still in place, so the package still counts as installed.
        QCOMPARE(readBytes(file("one/package.json")), content(u"P2"_qs));
        QCOMPARE(manager->determinePackageStatus(package(0)), TPackage::StatusUpToDate);
        QVERIFY(manager->installationsInProgress().empty());
    }

    void defaultPackageIsTheFirstInstalledOneWithAMarker() {
        // "one" is not installed: its marker does not count. "two" and "three" are installed.
        for (const char* name : {"one/default", "two/default", "two/partial-package.json",
                                 "three/package.json", "three/default/a-directory"}) {
            QVERIFY(writeBytes(file(name), content(u"P2"_qs)));
        }
        const auto manager = makeManager();
        QCOMPARE(defaults(), u"two"_qs);
        manager->setDefaultPackage(package(2));
        package(2)->setDefaultPackage(false);
        makeManager(); // a fresh manager finds the marker
        QCOMPARE(defaults(), u"three"_qs);
        QVERIFY(!QFileInfo::exists(file("one/default")) && QFileInfo(file("three/default")).isFile());
        // Clearing also refreshes the statuses.
        QVERIFY(QFile::remove(file("three/package.json")));
        manager->clearDefaultPackage();
        QCOMPARE(defaults(), QString());
        QVERIFY(!QFileInfo::exists(file("three/default")));
        QCOMPARE(package(2)->localStatus(), TPackage::StatusNotInstalled);
    }

    void requestsWithoutConfigurationOrInstallationAreIgnored() {
        QVERIFY(writeBytes(file("elsewhere/package.json"), content(u"P2"_qs)));
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
        // The self-updater's manager has no configuration: it keeps away from the package list.
        QVERIFY(writeBytes(file("one/package.json"), content(u"P2"_qs)));
        TInstallationManager selfUpdate(nullptr, m_pFileSystem);
        selfUpdate.refreshPackageStatuses();
        selfUpdate.clearDefaultPackage();
        QCOMPARE(package(0)->localStatus(), TPackage::StatusNotInstalled);
        QVERIFY(!selfUpdate.findPackageByExecutable(file("one/bin/client")));
    }

private:
    QString launcherDirectory() const { return m_pWork->filePath(u"launcher"_qs); }
    QString directory(const char* Name) const {
        return launcherDirectory() + u"/packages/"_qs + QLatin1String(Name);
    }
    QString file(const QString& Path) const { return launcherDirectory() + u"/packages/"_qs + Path; }
    QString file(const char* Path) const { return file(QString::fromLatin1(Path)); }
    std::unique_ptr<TInstallationManager> makeManager() const {
        return std::make_unique<TInstallationManager>(m_pConfiguration, m_pFileSystem);
    }
    std::shared_ptr<TPackage> package(int Index) const { return m_pConfiguration->packages().at(Index); }
    QString defaults() const {
        QStringList names;
        for (const auto& package : m_pConfiguration->packages()) {
            names << (package->isDefaultPackage() ? package->directoryName() : QString());
        }
        return names.join(QString());
    }

    std::unique_ptr<QTemporaryDir> m_pWork;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
    std::shared_ptr<TLauncherConfigurationReader> m_pConfiguration;
};

LAUNCHER_TEST(TestInstallationManager)
#include "tst_installationmanager.moc"
