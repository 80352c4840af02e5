#include "launcher/install/packageinstallation.h"
#include "launcher/package/packageconfigurationreader.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/messagecapture.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QCryptographicHash>
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
using testsupport::seededBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

class TestPackageVerification : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(u"default.info=false"_qs); }

    void init() {
        m_pInstallation = std::make_unique<QTemporaryDir>();
        m_pLauncher = std::make_unique<QTemporaryDir>();
    }

    void completeInstallationPasses() {
        const TPackageConfigurationReader configuration = makeInstallation(8, 3 * 1024 * 1024 + 17);
        testsupport::TInstallationDriver driver(testsupport::makeLauncherFilesystem(m_pLauncher->path(), {}),
                                                m_pInstallation->path());
        QSignalSpy progress(&driver.installation(), &TPackageInstallation::verificationProgress);
        QVERIFY(driver.verify(configuration, true));
        QCOMPARE(driver.verificationFinishedCount(), 1);
        QVERIFY(driver.installation().success());
        QCOMPARE(driver.installation().errorReason(), EPackageDownloaderError::NoError);
        const TFileSize total = 8 * (3 * 1024 * 1024 + 17);
        QCOMPARE(progress.last().at(0).value<TFileSize>(), total);
        QCOMPARE(progress.last().at(1).value<TFileSize>(), total);
    }

    void flippedByteFailsAndStopsEarly() {
        const int size = 4 * 1024 * 1024;
        const TPackageConfigurationReader configuration = makeInstallation(30, size);
        // The first file in the queue has one byte flipped.
        QByteArray content = readBytes(file(0));
        content[size / 2] = static_cast<char>(content[size / 2] ^ 0x20);
        QVERIFY(writeBytes(file(0), content));

        testsupport::TInstallationDriver driver(testsupport::makeLauncherFilesystem(m_pLauncher->path(), {}),
                                                m_pInstallation->path());
        QSignalSpy progress(&driver.installation(), &TPackageInstallation::verificationProgress);
        testsupport::TMessageCapture messages;
        QVERIFY(driver.verify(configuration, true));
        QVERIFY(!driver.installation().success());
        QCOMPARE(driver.installation().errorReason(), EPackageDownloaderError::VerificationFailed);
        QVERIFY(messages.warnings().contains(u"verification of file data/file0.bin failed"_qs));
        // The workers stop taking files after the mismatch: far from everything was read.
        QVERIFY(!progress.isEmpty());
        QVERIFY(progress.last().at(0).value<TFileSize>() < progress.last().at(1).value<TFileSize>() / 2);
        // Verification changes no file.
        QCOMPARE(readBytes(file(0)), content);
    }

    void missingFileFails() {
        const TPackageConfigurationReader configuration = makeInstallation(3, 1000);
        QVERIFY(QFile::remove(file(2)));
        testsupport::TInstallationDriver driver(testsupport::makeLauncherFilesystem(m_pLauncher->path(), {}),
                                                m_pInstallation->path());
        QVERIFY(driver.verify(configuration, true));
        QVERIFY(!driver.installation().success());
        QVERIFY(!QFileInfo::exists(file(2)));

        // A directory in a file's place is no file either.
        QVERIFY(QDir().mkpath(file(2)));
        QVERIFY(driver.verify(configuration, true));
        QVERIFY(!driver.installation().success());
    }

    void skippedVerificationReadsNothingUnlessForced() {
        const TPackageConfigurationReader configuration = makeInstallation(3, 2000);
        QVERIFY(writeBytes(file(1), "damaged"));
        // The default settings skip the verification after a download.
        testsupport::TInstallationDriver driver(testsupport::makeLauncherFilesystem(m_pLauncher->path(), {}),
                                                m_pInstallation->path());
        QSignalSpy progress(&driver.installation(), &TPackageInstallation::verificationProgress);
        QSignalSpy finished(&driver.installation(), &TPackageInstallation::verificationFinished);
        driver.installation().startVerification(configuration, false);
        // Reported at once, within the call, without reading a byte.
        QCOMPARE(finished.count(), 1);
        QVERIFY(driver.installation().success());
        QVERIFY(progress.isEmpty());

        // A verification the user asked for is never skipped.
        QVERIFY(driver.verify(configuration, true));
        QVERIFY(!driver.installation().success());
        QVERIFY(!progress.isEmpty());

        // With skipVerification=false the verification after a download runs too.
        testsupport::TInstallationDriver checking(
            testsupport::makeLauncherFilesystem(m_pLauncher->path(), "[OPTIONS]\nskipVerification=false\n"),
            m_pInstallation->path());
        QVERIFY(checking.verify(configuration, false));
        QVERIFY(!checking.installation().success());
    }

    void crashingWorkerIsReportedAsFailure() {
        const TPackageConfigurationReader configuration = makeInstallation(4, 1000);
        testsupport::writeBytes(m_pLauncher->filePath(u"launchersettings.ini"_qs), QByteArray());
        auto broken = std::make_shared<testsupport::TFailingFilesystem>(
            m_pLauncher->path(), testsupport::EFailingOperation::PathInside);
        testsupport::TInstallationDriver driver(broken, m_pInstallation->path());
        testsupport::TMessageCapture messages;
        QVERIFY(driver.verify(configuration, true));
        QVERIFY(!driver.installation().success());
        QCOMPARE(driver.installation().errorReason(), EPackageDownloaderError::VerificationFailed);
        bool logged = false;
        for (const QString& warning : messages.warnings()) {
            logged = logged || warning.startsWith(u"verification of files crashed"_qs);
        }
        QVERIFY(logged);
        // The process goes on: the next verification with a sound helper passes.
        testsupport::TInstallationDriver sound(testsupport::makeLauncherFilesystem(m_pLauncher->path(), {}),
                                               m_pInstallation->path());
        QVERIFY(sound.verify(configuration, true));
        QVERIFY(sound.installation().success());
    }

private:
    // Writes Count files of Size bytes and a package document describing them.
    TPackageConfigurationReader makeInstallation(int Count, int Size);
    QString file(int Index) const { return m_pInstallation->filePath(u"data/file%1.bin"_qs.arg(Index)); }

    std::unique_ptr<QTemporaryDir> m_pInstallation;
    std::unique_ptr<QTemporaryDir> m_pLauncher;
};

TPackageConfigurationReader TestPackageVerification::makeInstallation(int Count, int Size) {
    QJsonArray files;
    for (int index = 0; index < Count; ++index) {
        const QByteArray content = seededBytes(static_cast<quint32>(index + 1), Size);
        writeBytes(file(index), content);
        files.append(QJsonObject{
            {u"localfile"_qs, u"data/file%1.bin"_qs.arg(index)},
            {u"unpackedsize"_qs, Size},
            {u"unpackedhash"_qs,
             QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex())}});
    }
    const QJsonObject document{{u"version"_qs, u"1"_qs}, {u"files"_qs, files}};
    return TPackageConfigurationReader(QJsonDocument(document).toJson(), QByteArray(), QUrl(), QUrl());
}

LAUNCHER_TEST(TestPackageVerification)
#include "tst_packageverification.moc"
