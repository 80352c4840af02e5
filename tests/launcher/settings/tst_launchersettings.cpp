#include "launcher/settings/launchersettings.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using mirrel::launcher::TLauncherSettings;
using testsupport::operator""_qs;

class TestLauncherSettings : public QObject {
    Q_OBJECT

private slots:
    void embeddedDefaults() {
        const TLauncherSettings settings(u":/settings/launchersettings.ini"_qs);

        const QUrl configuration = settings.launcherConfigurationUrl();
        QCOMPARE(configuration.scheme(), u"https"_qs);
        QVERIFY(configuration.path().endsWith(u".json"_qs));
        QVERIFY(settings.cdnDiagnosticsTraceUrl().isEmpty());
        QCOMPARE(settings.appendNocacheToPackageUrls(), false);
        QCOMPARE(settings.packagesDirectory(), u"packages"_qs);
        QCOMPARE(settings.settingsTarget(), u"VantorOnlineClient_Data/Data/Settings"_qs);
        QCOMPARE(settings.packageFile(), u"package.json"_qs);
        QCOMPARE(settings.partialPackageFile(), u"partial-package.json"_qs);
        QCOMPARE(settings.assetFile(), u"assets.json"_qs);
        QCOMPARE(settings.accountGroupFile(), u"accountgroup.json"_qs);
        QCOMPARE(settings.waitNotificationTimeout(), qint64(500));
        QCOMPARE(settings.downloadErrorTimeout(), qint64(10000));
        QCOMPARE(settings.clientStartTimeout(), qint64(30000));
        // [OPTIONS] and [DEBUG] are not in the built-in text: their defaults apply.
        QCOMPARE(settings.fastScan(), true);
        QCOMPARE(settings.skipVerification(), true);
        QCOMPARE(settings.chunkVerification(), false);
        QCOMPARE(settings.maxCachedChunks(), 100);
        QCOMPARE(settings.maxConcurrentDownloads(), 10);
    }

    void missingFileGivesTableDefaults() {
        const TLauncherSettings settings(m_directory.filePath(u"does-not-exist.ini"_qs));

        QVERIFY(settings.launcherConfigurationUrl().isEmpty());
        QVERIFY(settings.packagesDirectory().isEmpty());
        QVERIFY(settings.accountGroupFile().isEmpty());
        QCOMPARE(settings.waitNotificationTimeout(), qint64(0));
        QCOMPARE(settings.downloadErrorTimeout(), qint64(0));
        QCOMPARE(settings.clientStartTimeout(), qint64(0));
        QCOMPARE(settings.fastScan(), true);
        QCOMPARE(settings.skipVerification(), true);
        QCOMPARE(settings.chunkVerification(), false);
        QCOMPARE(settings.maxCachedChunks(), 100);
        QCOMPARE(settings.maxConcurrentDownloads(), 10);
    }

    void localFileReplacesEmbeddedText() {
        const TLauncherSettings settings(writeIni("[OPTIONS]\nmaxConcurrentDownloads=4\n"));

        QCOMPARE(settings.maxConcurrentDownloads(), 4);
        QVERIFY(settings.launcherConfigurationUrl().isEmpty());
        QCOMPARE(settings.waitNotificationTimeout(), qint64(0));
        QCOMPARE(settings.downloadErrorTimeout(), qint64(0));
        QCOMPARE(settings.clientStartTimeout(), qint64(0));
        QVERIFY(settings.packageFile().isEmpty());
        QCOMPARE(settings.maxCachedChunks(), 100);
    }

    void valuesConvertLikeVariants_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<qint64>("waitNotificationTimeout");
        QTest::addColumn<bool>("fastScan");
        QTest::addColumn<bool>("chunkVerification");
        QTest::addColumn<int>("maxCachedChunks");

        QTest::newRow("explicit values")
            << QByteArray(
                   "[TIMING]\nwaitNotificationTimeout=250\n[OPTIONS]\nfastScan=false\nmaxCachedChunks=7\n"
                   "[DEBUG]\nchunkVerification=true\n")
            << qint64(250) << false << true << 7;
        QTest::newRow("non-numeric numbers read as zero")
            << QByteArray("[TIMING]\nwaitNotificationTimeout=soon\n[OPTIONS]\nmaxCachedChunks=many\n")
            << qint64(0) << true << false << 0;
        QTest::newRow("numeric booleans")
            << QByteArray("[OPTIONS]\nfastScan=0\n[DEBUG]\nchunkVerification=1\n") << qint64(0) << false
            << true << 100;
        QTest::newRow("keys in the wrong section are not seen")
            << QByteArray("[OPTIONS]\nwaitNotificationTimeout=900\nchunkVerification=true\n") << qint64(0)
            << true << false << 100;
        QTest::newRow("negative timeout kept as written")
            << QByteArray("[TIMING]\nwaitNotificationTimeout=-5\n") << qint64(-5) << true << false << 100;
    }

    void valuesConvertLikeVariants() {
        QFETCH(QByteArray, ini);
        const TLauncherSettings settings(writeIni(ini));

        QTEST(settings.waitNotificationTimeout(), "waitNotificationTimeout");
        QTEST(settings.fastScan(), "fastScan");
        QTEST(settings.chunkVerification(), "chunkVerification");
        QTEST(settings.maxCachedChunks(), "maxCachedChunks");
    }

private:
    QString writeIni(const QByteArray& text);

    QTemporaryDir m_directory;
    int m_fileCount = 0;
};

QString TestLauncherSettings::writeIni(const QByteArray& text) {
    const QString path = m_directory.filePath(u"settings%1.ini"_qs.arg(++m_fileCount));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        qFatal("cannot write %s", qPrintable(path));
    }
    return path;
}

LAUNCHER_TEST(TestLauncherSettings)
#include "tst_launchersettings.moc"
