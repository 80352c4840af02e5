#include "launcher/settings/launchersettings.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QtTest>

using mirrel::launcher::TLauncherSettings;
using testsupport::operator""_qs;

class TestLauncherSettings : public QObject {
    Q_OBJECT

private slots:
    void everyKeyFromItsSection_data() {
        QTest::addColumn<QByteArray>("source"); // INI text, or the path of a resource (":...")
        QTest::addColumn<QString>("expected");  // "key=value" entries as the start-up log lists them
        QTest::newRow("built-in text")
            << QByteArray(":/settings/launchersettings.ini")
            << "packages=packages settingsTarget=VantorOnlineClient_Data/Data/Settings "
               "packageFile=package.json partialPackageFile=partial-package.json assetFile=assets.json "
               "accountGroupFile=accountgroup.json waitNotificationTimeout=500 downloadErrorTimeout=10000 "
               "clientStartTimeout=30000 fastScan=true skipVerification=true chunkVerification=false "
               "maxCachedChunks=100 maxConcurrentDownloads=10";
        QTest::newRow("missing file")
            << QByteArray(":/no/such.ini")
            << "launcherConfiguration= appendNocacheToPackageUrls=false packages= accountGroupFile= "
               "waitNotificationTimeout=0 clientStartTimeout=0 fastScan=true skipVerification=true "
               "chunkVerification=false maxCachedChunks=100 maxConcurrentDownloads=10 "
               "transferStallTimeout=30000 retryPause=1000";
        // A missing or unusable value never switches the time-out off.
        QTest::newRow("zero time-out, negative pause")
            << QByteArray("[OPTIONS]\ntransferStallTimeout=0\nretryPause=-1\n")
            << "transferStallTimeout=30000 retryPause=0";
        QTest::newRow("negative time-out") << QByteArray("[OPTIONS]\ntransferStallTimeout=-1\n")
                                           << "transferStallTimeout=30000 retryPause=1000";
        QTest::newRow("time-out no number")
            << QByteArray("[OPTIONS]\ntransferStallTimeout=soon\n") << "transferStallTimeout=30000";
        QTest::newRow("every key set")
            << QByteArray(
                   "[URLS]\nlauncherConfiguration=http://127.0.0.1/c.json\ncdnDiagnosticsTrace=http://t/x\n"
                   "appendNocacheToPackageUrls=true\n[DIRECTORIES]\npackages=p\nsettingsTarget=s/t\n"
                   "[FILES]\npackageFile=a\npartialPackageFile=b\nassetFile=c\naccountGroupFile=d\n"
                   "[TIMING]\nwaitNotificationTimeout=1\ndownloadErrorTimeout=2\nclientStartTimeout=3\n"
                   "[OPTIONS]\nfastScan=false\nskipVerification=false\nmaxCachedChunks=7\n"
                   "maxConcurrentDownloads=4\ntransferStallTimeout=250\nretryPause=20\n[DEBUG]"
                   "\nchunkVerification=true\n")
            << QString();
    }

    void everyKeyFromItsSection() {
        QFETCH(QByteArray, source);
        QFETCH(QString, expected);
        QString path = QString::fromUtf8(source);
        if (!source.startsWith(':')) {
            path = m_Directory.filePath(QString::fromLatin1(QTest::currentDataTag()) + u".ini"_qs);
            QVERIFY(testsupport::writeBytes(path, source));
        }
        const QStringList entries = TLauncherSettings(path).describe().split(u", "_qs);
        // Without an expectation, every "key=value" line of the file is read back as written.
        const QStringList lines = QString::fromUtf8(source).split(u'\n').filter(u"="_qs);
        for (const QString& entry : expected.isNull() ? lines : expected.split(u' ')) {
            QVERIFY2(entries.contains(entry), qPrintable(entry + u" not in "_qs + entries.join(u' ')));
        }
    }

private:
    QTemporaryDir m_Directory;
};

LAUNCHER_TEST(TestLauncherSettings)
#include "tst_launchersettings.moc"
