#include "launcher/install/packageinstallation.h"
#include "launcher/package/packageconfigurationreader.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QCryptographicHash>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <numeric>

using namespace mirrel::launcher;
using testsupport::readBytes;
using testsupport::seededBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

// The difference between an installation directory and a package configuration, on local files
// only (nothing is downloaded here).
class TestPackageDifference : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(u"default.info=false"_qs); }

    void init() {
        m_pWork = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(installed(QString())));
    }

    void filesWithoutReusableContentAreFetchedWhole() {
        QVERIFY(writeBytes(build("multi.bin"), seededBytes(1, 14 * 1024 * 1024)));
        QVERIFY(writeBytes(build("single.bin"), seededBytes(2, 100000)));
        const TPackageConfigurationReader configuration = publish();
        QVERIFY(configuration.isValid());
        // Local copies of the right sizes with none of the right content.
        QVERIFY(writeBytes(installed("multi.bin"), seededBytes(3, 14 * 1024 * 1024)));
        QVERIFY(writeBytes(installed("single.bin"), seededBytes(4, 100000)));

        const TPackageDifference difference = driver()->difference(configuration, {}, false);
        QCOMPARE(difference.FilesToDownload.size(), std::size_t(2));
        for (const TFileToDownload& file : difference.FilesToDownload) {
            // The local copy is gone and every piece is listed.
            QVERIFY(!QFileInfo::exists(installed(file.LocalFile)));
            std::vector<std::int32_t> all(file.Chunks.size());
            std::iota(all.begin(), all.end(), 0);
            QCOMPARE(file.ChunksToDownload, all);
            if (file.LocalFile == u"single.bin"_qs) {
                // A file fetched whole comes as its whole-file piece.
                QCOMPARE(file.Chunks.size(), std::size_t(1));
                QCOMPARE(file.Chunks[0].UnpackedSize, TFileSize(100000));
            } else {
                QVERIFY(file.Chunks.size() >= 2);
            }
        }
    }

    void scanProgressCountsEveryLocalByte() {
        QVERIFY(writeBytes(build("multi.bin"), seededBytes(5, 13 * 1024 * 1024)));
        QVERIFY(writeBytes(build("a.txt"), "a"));
        QVERIFY(writeBytes(build("missing.txt"), "not installed"));
        const TPackageConfigurationReader configuration = publish();
        QVERIFY(QFile::copy(build("multi.bin"), installed("multi.bin")));
        QVERIFY(writeBytes(installed("a.txt"), "b"));

        const auto scan = driver();
        QSignalSpy progress(&scan->installation(), &TPackageInstallation::scanProgress);
        const TPackageDifference difference = scan->difference(configuration, {}, false);
        QVERIFY(!progress.isEmpty());
        const TFileSize total = 13 * 1024 * 1024 + 1;
        QCOMPARE(progress.last().at(1).value<TFileSize>(), total);
        TFileSize largest = 0;
        for (const QList<QVariant>& step : progress) {
            largest = std::max(largest, step.at(0).value<TFileSize>());
        }
        QCOMPARE(largest, total);
        QStringList listed;
        for (const TFileToDownload& file : difference.FilesToDownload) {
            listed.append(file.LocalFile);
        }
        listed.sort();
        QCOMPARE(listed, (QStringList{u"a.txt"_qs, u"missing.txt"_qs}));
    }

    void fileListedTwiceIsHandledOnce() {
        // Two entries that name one local file would have two workers rewrite it at once.
        const QByteArray content = seededBytes(6, 5000);
        const QString hash =
            QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
        const QByteArray document = QStringLiteral(R"({"version": "1", "files": [
        {"localfile": "twice.bin", "unpackedsize": 5000, "unpackedhash": "%1", "url": "a", "packedsize": 5000,
         "packedhash": "%1", "unpack": false},
        {"localfile": "sub/../twice.bin", "unpackedsize": 5000, "unpackedhash": "%1", "url": "b",
         "packedsize": 5000, "packedhash": "%1", "unpack": false}]})")
                                        .arg(hash)
                                        .toUtf8();
        const TPackageConfigurationReader configuration(
            document, QByteArray(), QUrl(u"http://127.0.0.1:9/"_qs), QUrl(u"http://127.0.0.1:9/"_qs));
        QVERIFY(configuration.isValid());
        const TPackageDifference difference = driver()->difference(configuration, {}, false);
        QCOMPARE(difference.FilesToDownload.size(), std::size_t(1));
    }

    void executableFlagIsAppliedToReusedFiles() {
        QVERIFY(writeBytes(build("bin/tool"), seededBytes(7, 3000)));
        QVERIFY(QFile::setPermissions(build("bin/tool"),
                                      QFile::permissions(build("bin/tool")) | QFile::ExeOwner));
        const TPackageConfigurationReader configuration = publish();
        // The right content, installed by a version that did not mark it executable.
        QVERIFY(writeBytes(installed("bin/tool"), seededBytes(7, 3000)));
        QVERIFY(!QFileInfo(installed("bin/tool")).isExecutable());
        const TPackageDifference difference = driver()->difference(configuration, {}, false);
        QVERIFY(difference.FilesToDownload.empty());
        QVERIFY(QFileInfo(installed("bin/tool")).isExecutable());
    }

private:
    TPackageConfigurationReader publish();
    QString build(const QString& Relative) const { return m_pWork->filePath(u"build/"_qs + Relative); }
    QString installed(const QString& Relative) const {
        return m_pWork->filePath(u"installation/"_qs + Relative);
    }
    std::unique_ptr<testsupport::TInstallationDriver> driver();

    std::unique_ptr<QTemporaryDir> m_pWork;
};

TPackageConfigurationReader TestPackageDifference::publish() {
    QString output;
    const QString cdn = m_pWork->filePath(u"cdn"_qs);
    if (!testsupport::publishBuild(m_pWork->filePath(u"build"_qs), cdn, u"1"_qs, output, 0)) {
        qWarning().noquote() << output;
        return {};
    }
    const QUrl base(u"http://127.0.0.1:9/cdn/"_qs);
    return testsupport::readPublishedConfiguration(cdn, base);
}

std::unique_ptr<testsupport::TInstallationDriver> TestPackageDifference::driver() {
    return std::make_unique<testsupport::TInstallationDriver>(
        testsupport::makeLauncherFilesystem(m_pWork->filePath(u"launcher"_qs), {}), installed(QString()));
}

LAUNCHER_TEST(TestPackageDifference)
#include "tst_packagedifference.moc"
