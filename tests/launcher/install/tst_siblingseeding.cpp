// A package installed beside a completely installed sibling of the same game takes the contents
// the sibling holds from the sibling's files and fetches only the rest from nginx, ending
// byte-identical to the published build whatever the sibling's files hold now.
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/publishedgame.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QtTest>

using namespace mirrel::launcher;
using namespace testsupport;

namespace {

const QString ChunkFolder = u"/cdn/vantor/linux/chunks/"_qs;

// Every file below Root with the SHA-256 of its bytes.
QMap<QString, QByteArray> treeHashes(const QString& Root) {
    QMap<QString, QByteArray> hashes;
    QDirIterator files(Root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        hashes.insert(QDir(Root).relativeFilePath(path), sha256(readBytes(path)));
    }
    return hashes;
}

void flipByte(const QString& Path, int Offset) {
    QByteArray bytes = readBytes(Path);
    bytes[Offset] = static_cast<char>(bytes[Offset] ^ 0x5A);
    QVERIFY(writeBytes(Path, bytes));
}

// The pieces a fresh installation of Target fetches, by path, whose content Held lacks.
QSet<QString> piecesNotHeld(const TPackageConfigurationReader& Target, const QSet<QByteArray>& Held) {
    QSet<QString> pieces;
    for (const TFileInPackage& file : Target.files()) {
        if (file.Chunks.size() < 2) {
            if (file.Size > 0 && !Held.contains(file.Hash)) {
                pieces.insert(file.WholeFile.Url.path());
            }
            continue;
        }
        for (const std::int32_t index : file.Chunks) {
            const TChunkInPackage& chunk = Target.chunks()[static_cast<std::size_t>(index)];
            if (!Held.contains(chunk.UnpackedHash)) {
                pieces.insert(chunk.Url.path());
            }
        }
    }
    return pieces;
}

// Every content of the installed files as their document describes them, less the ones whose
// bytes no longer have that hash.
QSet<QByteArray> heldContents(const TPackageConfigurationReader& Installed, const QString& Directory) {
    QSet<QByteArray> held;
    for (const TFileInPackage& file : Installed.files()) {
        const QByteArray bytes = readBytes(Directory + u'/' + file.LocalFile);
        if (sha256(bytes) == file.Hash) {
            held.insert(file.Hash);
        }
        qint64 offset = 0;
        for (const std::int32_t index : file.Chunks) {
            const TChunkInPackage& chunk = Installed.chunks()[static_cast<std::size_t>(index)];
            if (sha256(bytes.mid(static_cast<int>(offset), static_cast<int>(chunk.UnpackedSize))) ==
                chunk.UnpackedHash) {
                held.insert(chunk.UnpackedHash);
            }
            offset += static_cast<qint64>(chunk.UnpackedSize);
        }
    }
    return held;
}

} // namespace

class TestSiblingSeeding : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs);
        m_pGame = std::make_unique<TPublishedGame>(m_GameWork.path());
        QString error;
        QVERIFY2(m_pGame->publish(cdn(), error), qPrintable(error));
        QVERIFY2(m_Nginx.start(), qPrintable(m_Nginx.errorString()));
    }

    void installFetchesOnlyWhatNoSiblingHolds_data() {
        QTest::addColumn<int>("target");   // the version the second package installs
        QTest::addColumn<bool>("alter");   // the sibling's files change after its marker is written
        QTest::addColumn<bool>("seeding"); // [OPTIONS] seedFromInstalledPackages
        QTest::newRow("same content") << 1 << false << true;
        QTest::newRow("another version, part shared") << 2 << false << true;
        QTest::newRow("sibling altered behind its marker") << 1 << true << true;
        QTest::newRow("setting off") << 1 << false << false;
    }

    // The first package, "vantor", is installed at version 1; then "classic" installs Target.
    void installFetchesOnlyWhatNoSiblingHolds() {
        QFETCH(int, target);
        QFETCH(bool, alter);
        QFETCH(bool, seeding);
        QTemporaryDir work;
        const QString launcher = work.filePath(u"launcher"_qs);
        const QStringList options =
            seeding ? QStringList() : QStringList{u"seedFromInstalledPackages=false"_qs};
        const auto fileSystem = makeLauncherFilesystem(
            launcher, launcherSettingsText(m_Nginx.url(u"cdn/launcher.json"_qs), options));
        const QString sibling = launcher + u"/packages/vantor"_qs;
        const QString installation = launcher + u"/packages/classic"_qs;
        QVERIFY(m_pGame->release(cdn(), 1));
        run(fileSystem, 0);
        if (alter) {
            flipByte(sibling + u"/stable.bin"_qs, 10 * 1024 * 1024); // one chunk of several
            flipByte(sibling + u"/bin/client"_qs, 1000);             // a file of one piece
        }
        const QMap<QString, QByteArray> siblingBefore = treeHashes(sibling);
        const TPackageConfigurationReader installed(readBytes(sibling + u"/package.json"_qs),
                                                    readBytes(sibling + u"/assets.json"_qs), QUrl(), QUrl());
        const QSet<QByteArray> held = seeding ? heldContents(installed, sibling) : QSet<QByteArray>();

        QVERIFY(m_pGame->release(cdn(), target));
        m_Nginx.clearAccessLog();
        const TPackageConfigurationReader offered = run(fileSystem, 1);

        QString difference;
        QVERIFY2(m_pGame->isInstalled(target, installation, difference), qPrintable(difference));
        QCOMPARE(treeHashes(sibling), siblingBefore);
        QVERIFY(QFileInfo::exists(sibling + u"/package.json"_qs));
        // One request after the run, answered after every request of the run has been logged.
        QVERIFY(m_Nginx.writeFile(u"done.txt"_qs, "done"));
        QNetworkAccessManager network;
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(m_Nginx.url(u"done.txt"_qs))));
        QVERIFY(QTest::qWaitFor([&reply] { return reply->isFinished(); }, 30000));
        QVERIFY(m_Nginx.waitForRequestCount(u"/done.txt"_qs, 1, 30000));
        QStringList requested;
        for (const QString& line : m_Nginx.accessLogLines()) {
            const QString path = line.section(u' ', 1, 1).section(u'?', 0, 0);
            if (path.startsWith(ChunkFolder)) {
                requested << path;
            }
        }
        const QSet<QString> expected = piecesNotHeld(offered, held);
        QCOMPARE(QSet<QString>(requested.begin(), requested.end()), expected);
        QCOMPARE(requested.size(), expected.size());
        // What was read counts as written, never as downloaded: the download completes its total.
        QMap<QString, TFileSize> packedSizes;
        for (const TChunkInPackage& chunk : offered.chunks()) {
            packedSizes.insert(chunk.Url.path(), chunk.PackedSize);
        }
        TFileSize packed = 0;
        for (const QString& piece : expected) {
            packed += packedSizes.value(piece);
        }
        QCOMPARE(m_Downloaded, packed);
        QCOMPARE(m_TotalToDownload, packed);
        QCOMPARE(m_Seeded > 0, seeding);
        QVERIFY(alter || target == 2 || !seeding || expected.isEmpty());
    }

private:
    QString cdn() const { return m_Nginx.documentRoot() + u"/cdn"_qs; }

    // Installs the package at Index of the configuration the server offers now, to its end;
    // returns the documents it installed.
    TPackageConfigurationReader run(const std::shared_ptr<TLauncherFilesystemHelper>& FileSystem, int Index) {
        QString error;
        const std::shared_ptr<TLauncherConfigurationReader> configuration =
            loadLauncherConfiguration(FileSystem, error);
        if (!configuration) {
            QTest::qFail(qPrintable(error), __FILE__, __LINE__);
            return {};
        }
        TInstallationManager manager(configuration, FileSystem);
        manager.setFunnelEventSink(nullptr);
        bool finished = false;
        QObject::connect(&manager, &TInstallationManager::allStartedUpdatesFinished, &manager,
                         [&finished] { finished = true; });
        QObject::connect(&manager, &TInstallationManager::installationOrUpdateFinished, &manager,
                         [this](const TPackageInstallation& Run) {
                             m_Downloaded = Run.packageFileDownloader()->downloadedBytes();
                             m_TotalToDownload = Run.packageFileDownloader()->totalBytesToDownload();
                             m_Seeded = Run.packageFileDownloader()->seededBytes();
                         });
        const std::shared_ptr<TPackage> package =
            configuration->packages().at(static_cast<std::size_t>(Index));
        manager.installOrUpdatePackage(package);
        if (!QTest::qWaitFor([&finished] { return finished; }, 120000) ||
            package->localStatus() != TPackage::StatusUpToDate) {
            QTest::qFail("the run did not end with the package installed", __FILE__, __LINE__);
        }
        return *package->configurationForThisSystem();
    }

    QTemporaryDir m_GameWork;
    std::unique_ptr<TPublishedGame> m_pGame;
    TNginxFixture m_Nginx;
    TFileSize m_Downloaded = 0;
    TFileSize m_TotalToDownload = 0;
    TFileSize m_Seeded = 0;
};

LAUNCHER_TEST(TestSiblingSeeding)
#include "tst_siblingseeding.moc"
