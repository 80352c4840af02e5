#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/package/packageconfigurationreader.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QLoggingCategory>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <random>
#include <stdexcept>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::seededBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

// Compressible content: words drawn from a small seeded vocabulary.
QByteArray seededText(quint32 Seed, int Size) {
    std::mt19937 random(Seed);
    QList<QByteArray> words;
    for (int index = 0; index < 500; ++index) {
        words.append(
            seededBytes(Seed * 31u + static_cast<quint32>(index), 3 + static_cast<int>(random() % 9)));
    }
    QByteArray text;
    text.reserve(Size + 16);
    while (text.size() < Size) {
        text += words[static_cast<int>(random() % static_cast<quint32>(words.size()))];
    }
    text.truncate(Size);
    return text;
}

QSet<QString> chunkPaths(const TPackageConfigurationReader& Configuration) {
    QSet<QString> paths;
    for (const TChunkInPackage& chunk : Configuration.chunks()) {
        paths.insert(chunk.Url.path());
    }
    for (const TFileInPackage& file : Configuration.files()) {
        if (!file.WholeFile.Url.isEmpty() && file.Size > 0) {
            paths.insert(file.WholeFile.Url.path());
        }
    }
    return paths;
}

const TFileInPackage* fileEntry(const TPackageConfigurationReader& Configuration, const QString& LocalFile) {
    for (const TFileInPackage& file : Configuration.files()) {
        if (file.LocalFile == LocalFile) {
            return &file;
        }
    }
    return nullptr;
}

} // namespace

// Installs and updates publisher-made packages served by nginx.
class TestInstallRun : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs); }

    void init() {
        m_pWork = std::make_unique<QTemporaryDir>();
        m_pNginx = std::make_unique<testsupport::TNginxFixture>();
        QVERIFY2(m_pNginx->start(), qPrintable(m_pNginx->errorString()));
        m_pFileSystem = testsupport::makeLauncherFilesystem(m_pWork->filePath(u"launcher"_qs), QByteArray());
        QVERIFY(QDir().mkpath(installation()));
    }

    void cleanup() {
        m_pNginx.reset();
        m_pWork.reset();
    }

    void freshInstallGivesTheBuildTree() {
        makeVersionOne();
        const TPackageConfigurationReader versionOne = publish(u"v1"_qs, u"1"_qs);
        QVERIFY(versionOne.isValid());

        testsupport::TInstallationDriver driver(m_pFileSystem, installation());
        QSignalSpy scan(&driver.installation(), &TPackageInstallation::scanProgress);
        QVERIFY(driver.install(versionOne, TPackageConfigurationReader(), false));
        QVERIFY2(driver.diskAccessError().isEmpty(), qPrintable(driver.diskAccessError()));
        QVERIFY(driver.installation().success());
        QCOMPARE(driver.installation().errorReason(), EPackageDownloaderError::NoError);
        verifySameTree(u"v1"_qs);
        // Nothing was there: the scan had nothing to read.
        for (const QList<QVariant>& progress : scan) {
            QCOMPARE(progress.at(1).value<TFileSize>(), TFileSize(0));
        }
        // Each piece was fetched once; the empty file needed none.
        for (const QString& path : chunkPaths(versionOne)) {
            QVERIFY2(m_pNginx->requestCount(path) == 1, qPrintable(path));
        }
        QCOMPARE(m_pNginx->accessLogLines().size(), chunkPaths(versionOne).size());

        // A second run over the complete installation finds nothing to do.
        m_pNginx->clearAccessLog();
        const TPackageDifference nothing = driver.difference(versionOne, versionOne, false);
        QVERIFY(nothing.FilesToDownload.empty());
        QVERIFY(nothing.FilesToDelete.empty());
        QVERIFY(driver.verify(versionOne, true));
        QVERIFY(driver.installation().success());
    }

    void updateFetchesOnlyNewChunksAndMovesTheRest() {
        makeVersionOne();
        const TPackageConfigurationReader versionOne = publish(u"v1"_qs, u"1"_qs);
        QVERIFY(versionOne.isValid());
        makeVersionTwo(versionOne);
        const TPackageConfigurationReader versionTwo = publish(u"v2"_qs, u"2"_qs);
        QVERIFY(versionTwo.isValid());
        {
            testsupport::TInstallationDriver driver(m_pFileSystem, installation());
            QVERIFY(driver.install(versionOne, TPackageConfigurationReader(), false));
            QVERIFY(driver.installation().success());
        }
        // An obsolete file that became a directory goes as a whole.
        QVERIFY(QFile::remove(installation() + u"/old/folder-now.dat"_qs));
        QVERIFY(writeBytes(installation() + u"/old/folder-now.dat/inner/file"_qs, "x"));
        m_pNginx->clearAccessLog();

        testsupport::TInstallationDriver driver(m_pFileSystem, installation());
        QVERIFY(driver.install(versionTwo, versionOne, false));
        QVERIFY2(driver.diskAccessError().isEmpty(), qPrintable(driver.diskAccessError()));
        QVERIFY(driver.installation().success());
        verifySameTree(u"v2"_qs);
        QVERIFY(!QFileInfo::exists(installation() + u"/old/remove-me.dat"_qs));
        QVERIFY(!QFileInfo::exists(installation() + u"/old/folder-now.dat"_qs));
        QCOMPARE(driver.installation().filesToDelete().size(), std::size_t(2));

        // Only the pieces that no file held before were requested, each once.
        const QSet<QString> fresh = chunkPaths(versionTwo) - chunkPaths(versionOne);
        QVERIFY(!fresh.isEmpty());
        for (const QString& path : fresh) {
            QVERIFY2(m_pNginx->requestCount(path) == 1, qPrintable(path));
        }
        QCOMPARE(m_pNginx->accessLogLines().size(), fresh.size());
        QVERIFY(QFileInfo(installation() + u"/bin/client"_qs).isExecutable());
    }

    void failedRunLeavesFilesThatTheNextRunReuses() {
        QVERIFY(writeBytes(build(u"v1"_qs) + u"/big.bin"_qs, seededBytes(40, 30 * 1024 * 1024)));
        const TPackageConfigurationReader versionOne = publish(u"v1"_qs, u"1"_qs);
        const TFileInPackage* big = fileEntry(versionOne, u"big.bin"_qs);
        QVERIFY(big != nullptr);
        QVERIFY(big->Chunks.size() >= 3);
        // The second chunk is missing on the server for the first run.
        const TChunkInPackage& second = versionOne.chunks()[static_cast<std::size_t>(big->Chunks[1])];
        const QString secondFile = m_pNginx->documentRoot() + second.Url.path();
        const QByteArray secondBytes = readBytes(secondFile);
        QVERIFY(QFile::remove(secondFile));
        {
            testsupport::TInstallationDriver driver(m_pFileSystem, installation());
            QVERIFY(driver.install(versionOne, TPackageConfigurationReader(), false));
            QVERIFY(!driver.installation().success());
            QCOMPARE(driver.installation().errorReason(), EPackageDownloaderError::DownloadFailed);
        }
        // What was written stays: the file holds its first chunk.
        const TChunkInPackage& first = versionOne.chunks()[static_cast<std::size_t>(big->Chunks[0])];
        QCOMPARE(QFileInfo(installation() + u"/big.bin"_qs).size(), qint64(first.UnpackedSize));

        QVERIFY(writeBytes(secondFile, secondBytes));
        m_pNginx->clearAccessLog();
        testsupport::TInstallationDriver driver(m_pFileSystem, installation());
        QVERIFY(driver.install(versionOne, versionOne, false));
        QVERIFY(driver.installation().success());
        verifySameTree(u"v1"_qs);
        QCOMPARE(m_pNginx->requestCount(first.Url.path()), 0);
        QCOMPARE(m_pNginx->accessLogLines().size(), static_cast<int>(big->Chunks.size()) - 1);
    }

    void fastScanTrustsTheInstalledDescriptionWithoutReading() {
        makeVersionOne();
        const TPackageConfigurationReader versionOne = publish(u"v1"_qs, u"1"_qs);
        makeVersionTwo(versionOne);
        const TPackageConfigurationReader versionTwo = publish(u"v2"_qs, u"2"_qs);
        testsupport::TInstallationDriver driver(m_pFileSystem, installation());
        QVERIFY(driver.install(versionOne, TPackageConfigurationReader(), false));

        // gamma.bin keeps its chunks from one version to the next. Its bytes are changed behind the
        // launcher's back without changing its size: only a scan that reads the file can notice.
        const QString gamma = installation() + u"/gamma.bin"_qs;
        QByteArray changed = readBytes(gamma);
        changed[5 * 1024 * 1024] = static_cast<char>(changed[5 * 1024 * 1024] ^ 0x01);
        QVERIFY(writeBytes(gamma, changed));

        const TPackageDifference fast = driver.difference(versionTwo, versionOne, true);
        for (const TFileToDownload& file : fast.FilesToDownload) {
            QVERIFY2(file.LocalFile != u"gamma.bin"_qs, "a fast scan read gamma.bin");
        }
        QCOMPARE(readBytes(gamma), changed);

        const TPackageDifference full = driver.difference(versionTwo, versionOne, false);
        const auto repaired =
            std::find_if(full.FilesToDownload.begin(), full.FilesToDownload.end(),
                         [](const TFileToDownload& File) { return File.LocalFile == "gamma.bin"; });
        QVERIFY(repaired != full.FilesToDownload.end());
        QCOMPARE(repaired->ChunksToDownload.size(), std::size_t(1));
    }

    void fastScanReadsFilesThatAreMissingOrResized() {
        makeVersionOne();
        const TPackageConfigurationReader versionOne = publish(u"v1"_qs, u"1"_qs);
        testsupport::TInstallationDriver driver(m_pFileSystem, installation());
        QVERIFY(driver.install(versionOne, TPackageConfigurationReader(), false));

        // The installed description of a file that is gone, or has another size, is no longer true.
        QVERIFY(QFile::remove(installation() + u"/swap.bin"_qs));
        QFile beta(installation() + u"/big/beta.bin"_qs);
        QVERIFY(beta.resize(beta.size() - 10));
        QVERIFY(driver.install(versionOne, versionOne, true));
        QVERIFY(driver.installation().success());
        verifySameTree(u"v1"_qs);
    }

    void obsoleteEntriesNamingPackagePlacesAreKept() {
        // The installed document names "data" as a file and a few names that point at the
        // installation directory itself; the new version keeps its files inside "data/".
        QVERIFY(writeBytes(build(u"v2"_qs) + u"/data/inside.bin"_qs, seededBytes(20, 5000)));
        QVERIFY(writeBytes(build(u"v2"_qs) + u"/empty/placeholder.cfg"_qs, QByteArray()));
        const TPackageConfigurationReader versionTwo = publish(u"v2"_qs, u"2"_qs);
        const QByteArray installedDocument = R"({"version": "1", "files": [
        {"localfile": "data", "unpackedsize": 4, "unpackedhash": "00"},
        {"localfile": "", "unpackedsize": 4, "unpackedhash": "00"},
        {"localfile": ".", "unpackedsize": 4, "unpackedhash": "00"},
        {"localfile": "data/..", "unpackedsize": 4, "unpackedhash": "00"}]})";
        const TPackageConfigurationReader installed(installedDocument, QByteArray(), QUrl(), QUrl());
        QVERIFY(installed.isValid());
        QVERIFY(writeBytes(installation() + u"/data/inside.bin"_qs, seededBytes(20, 5000)));

        testsupport::TInstallationDriver driver(m_pFileSystem, installation());
        QVERIFY(driver.install(versionTwo, installed, false));
        QVERIFY(driver.installation().success());
        QVERIFY(driver.installation().filesToDelete().empty());
        verifySameTree(u"v2"_qs);
        // The empty file was created without a download.
        QCOMPARE(m_pNginx->accessLogLines().size(), 0);
    }

    void selfUpdateModeMovesUndeletableObsoleteFilesAside() {
        QVERIFY(writeBytes(build(u"v2"_qs) + u"/Launcher"_qs, seededBytes(30, 7000)));
        const TPackageConfigurationReader versionTwo = publish(u"v2"_qs, u"2"_qs);
        const QByteArray installedDocument = R"({"version": "1", "files": [
        {"localfile": "Launcher", "unpackedsize": 4, "unpackedhash": "00"},
        {"localfile": "launcher-helper", "unpackedsize": 4, "unpackedhash": "00"}]})";
        const TPackageConfigurationReader installed(installedDocument, QByteArray(), QUrl(), QUrl());
        QVERIFY(writeBytes(installation() + u"/launcher-helper"_qs, "running helper"));
        QVERIFY(writeBytes(installation() + u"/launcher-helper.old"_qs, "older backup"));
        testsupport::writeBytes(m_pWork->filePath(u"undeletable/launchersettings.ini"_qs), QByteArray());
        auto undeletable = std::make_shared<testsupport::TFailingFilesystem>(
            m_pWork->filePath(u"undeletable"_qs), testsupport::EFailingOperation::Remove,
            [](const QString& Path) { return !Path.endsWith(u".old"_qs); });

        testsupport::TInstallationDriver driver(undeletable, installation(), true);
        QVERIFY(driver.install(versionTwo, installed, false));
        QVERIFY2(driver.diskAccessError().isEmpty(), qPrintable(driver.diskAccessError()));
        QVERIFY(driver.installation().success());
        QVERIFY(!QFileInfo::exists(installation() + u"/launcher-helper"_qs));
        QCOMPARE(readBytes(installation() + u"/launcher-helper.old"_qs), QByteArray("running helper"));
        verifySameTree(u"v2"_qs);
    }

    void undeletableObsoleteFileFailsOutsideSelfUpdateMode() {
        QVERIFY(writeBytes(build(u"v2"_qs) + u"/kept.bin"_qs, seededBytes(31, 700)));
        const TPackageConfigurationReader versionTwo = publish(u"v2"_qs, u"2"_qs);
        const QByteArray installedDocument = R"({"version": "1", "files": [
        {"localfile": "stuck.bin", "unpackedsize": 4, "unpackedhash": "00"}]})";
        const TPackageConfigurationReader installed(installedDocument, QByteArray(), QUrl(), QUrl());
        QVERIFY(writeBytes(installation() + u"/stuck.bin"_qs, "stuck"));
        testsupport::writeBytes(m_pWork->filePath(u"undeletable/launchersettings.ini"_qs), QByteArray());
        auto undeletable = std::make_shared<testsupport::TFailingFilesystem>(
            m_pWork->filePath(u"undeletable"_qs), testsupport::EFailingOperation::Remove,
            [](const QString& Path) { return !Path.endsWith(u".old"_qs); });

        testsupport::TInstallationDriver driver(undeletable, installation(), false);
        QVERIFY(driver.install(versionTwo, installed, false));
        QCOMPARE(driver.diskAccessError(), u"Failed to delete file "_qs + installation() + u"/stuck.bin"_qs);
        QCOMPARE(driver.downloadFinishedCount(), 0);
        QTest::qWait(100);
        QCOMPARE(m_pNginx->accessLogLines().size(), 0);
        QVERIFY(QFileInfo::exists(installation() + u"/stuck.bin"_qs));
    }

private:
    QString build(const QString& Name) const { return m_pWork->filePath(u"build-"_qs + Name); }
    QString cdn() const { return m_pNginx->documentRoot() + u"/cdn"_qs; }
    QString installation() const { return m_pWork->filePath(u"installation"_qs); }
    TPackageConfigurationReader publish(const QString& Name, const QString& Version);
    void makeVersionOne();
    void makeVersionTwo(const TPackageConfigurationReader& VersionOne);
    void verifySameTree(const QString& Name) const;

    std::unique_ptr<QTemporaryDir> m_pWork;
    std::unique_ptr<testsupport::TNginxFixture> m_pNginx;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFileSystem;
};

TPackageConfigurationReader TestInstallRun::publish(const QString& Name, const QString& Version) {
    // Every version goes into the same chunk store, as a studio publishes it.
    QString output;
    if (!testsupport::publishBuild(build(Name), cdn(), Version, output, 3)) {
        qWarning().noquote() << output;
        return {};
    }
    const QString document = cdn() + u"/package-"_qs + Name + u".json"_qs;
    QFile::remove(document);
    QFile::rename(cdn() + u"/package.json"_qs, document);
    return TPackageConfigurationReader(readBytes(document), QByteArray(), m_pNginx->url(u"cdn/"_qs),
                                       m_pNginx->url(u"cdn/"_qs));
}

void TestInstallRun::makeVersionOne() {
    const QString root = build(u"v1"_qs);
    QVERIFY(writeBytes(root + u"/big/alpha.bin"_qs, seededText(1, 20 * 1024 * 1024)));
    QVERIFY(writeBytes(root + u"/big/beta.bin"_qs, seededBytes(2, 18 * 1024 * 1024)));
    QVERIFY(writeBytes(root + u"/gamma.bin"_qs, seededBytes(3, 9 * 1024 * 1024)));
    QVERIFY(writeBytes(root + u"/swap.bin"_qs, seededBytes(4, 26 * 1024 * 1024)));
    QVERIFY(writeBytes(root + u"/small/readme.txt"_qs, "Vantor Online, version one\n"));
    QVERIFY(writeBytes(root + u"/bin/client"_qs, seededText(5, 100000)));
    QVERIFY(QFile::setPermissions(root + u"/bin/client"_qs, QFile::permissions(root + u"/bin/client"_qs) |
                                                                QFile::ExeOwner | QFile::ExeGroup |
                                                                QFile::ExeOther));
    QVERIFY(writeBytes(root + u"/empty.txt"_qs, QByteArray()));
    QVERIFY(writeBytes(root + u"/old/remove-me.dat"_qs, seededBytes(6, 1000)));
    QVERIFY(writeBytes(root + u"/old/folder-now.dat"_qs, seededBytes(7, 1000)));
}

void TestInstallRun::makeVersionTwo(const TPackageConfigurationReader& VersionOne) {
    const QString from = build(u"v1"_qs);
    const QString root = build(u"v2"_qs);
    QVERIFY(QDir().mkpath(root));
    QByteArray alpha = readBytes(from + u"/big/alpha.bin"_qs);
    alpha.insert(1000, seededText(11, 5000)); // later chunks move forward
    QVERIFY(writeBytes(root + u"/big/alpha.bin"_qs, alpha));
    QByteArray beta = readBytes(from + u"/big/beta.bin"_qs);
    beta.remove(2000, 7000); // later chunks move backward, the file gets shorter
    QVERIFY(writeBytes(root + u"/big/beta.bin"_qs, beta));
    QVERIFY(QFile::copy(from + u"/gamma.bin"_qs, root + u"/gamma.bin"_qs));
    // The first two chunks of swap.bin change places: each overwrites the other's source.
    const TFileInPackage* swap = fileEntry(VersionOne, u"swap.bin"_qs);
    QVERIFY(swap != nullptr);
    QVERIFY(swap->Chunks.size() >= 3);
    const int first =
        static_cast<int>(VersionOne.chunks()[static_cast<std::size_t>(swap->Chunks[0])].UnpackedSize);
    const int second =
        static_cast<int>(VersionOne.chunks()[static_cast<std::size_t>(swap->Chunks[1])].UnpackedSize);
    const QByteArray swapped = readBytes(from + u"/swap.bin"_qs);
    QVERIFY(writeBytes(root + u"/swap.bin"_qs,
                       swapped.mid(first, second) + swapped.left(first) + swapped.mid(first + second)));
    QVERIFY(writeBytes(root + u"/small/readme.txt"_qs, "Vantor Online, version two\n"));
    QVERIFY(writeBytes(root + u"/bin/client"_qs, readBytes(from + u"/bin/client"_qs)));
    QVERIFY(QFile::setPermissions(root + u"/bin/client"_qs, QFile::permissions(from + "/bin/client")));
    QVERIFY(writeBytes(root + u"/empty.txt"_qs, QByteArray()));
    QVERIFY(writeBytes(root + u"/new/added.bin"_qs, seededBytes(12, 3 * 1024 * 1024)));
}

void TestInstallRun::verifySameTree(const QString& Name) const {
    QString difference;
    QVERIFY2(testsupport::sameTree(build(Name), installation(), difference), qPrintable(difference));
}

LAUNCHER_TEST(TestInstallRun)
#include "tst_installrun.moc"
