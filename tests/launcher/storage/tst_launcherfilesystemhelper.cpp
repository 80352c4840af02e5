#include "launcher/settings/launchersettings.h"
#include "launcher/storage/accountgroupkey.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/messagecapture.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>

using mirrel::launcher::accountGroupKeyFrom;
using mirrel::launcher::TLauncherFilesystemHelper;
using testsupport::TMessageCapture;
using testsupport::operator""_qs;
using testsupport::readBytes;
using testsupport::writeBytes;

class TestLauncherFilesystemHelper : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_directory = std::make_unique<QTemporaryDir>();
        QVERIFY(m_directory->isValid());
    }

    void settingsComeFromTheEmbeddedTextWithoutLocalFile() {
        const TLauncherFilesystemHelper helper(m_directory->path());

        QCOMPARE(helper.settings()->sourcePath(), u":/settings/launchersettings.ini"_qs);
        QCOMPARE(helper.settings()->waitNotificationTimeout(), qint64(500));
        QCOMPARE(helper.settings()->packagesDirectory(), u"packages"_qs);
    }

    void localSettingsFileReplacesTheEmbeddedText() {
        QVERIFY(
            writeBytes(launcherFile(u"launchersettings.ini"_qs), "[OPTIONS]\nmaxConcurrentDownloads=4\n"));
        const TLauncherFilesystemHelper helper(m_directory->path());

        QCOMPARE(helper.settings()->sourcePath(), launcherFile(u"launchersettings.ini"_qs));
        QCOMPARE(helper.settings()->maxConcurrentDownloads(), 4);
        QCOMPARE(helper.settings()->waitNotificationTimeout(), qint64(0));
        QVERIFY(helper.settings()->launcherConfigurationUrl().isEmpty());
        // No [FILES] section: no account group file name either.
        QVERIFY(helper.accountGroupFileName().isEmpty());
        QVERIFY(!helper.accountGroupFileExists());
    }

    void packagesDirectoryIsCreatedBelowTheLauncher() {
        const TLauncherFilesystemHelper helper(m_directory->path());
        const QString expected = launcherFile(u"packages"_qs);

        QCOMPARE(helper.packagesDirectoryPath(), expected);
        QVERIFY(!QFileInfo::exists(expected));
        QCOMPARE(helper.packagesDirectory().absolutePath(), expected);
        QVERIFY(QFileInfo(expected).isDir());
        QCOMPARE(helper.launcherFilePath(u"launchermetadata.json"_qs),
                 launcherFile(u"launchermetadata.json"_qs));
    }

    void accountGroupPathsFollowTheSettings() {
        QVERIFY(writeBytes(
            launcherFile(u"launchersettings.ini"_qs),
            "[DIRECTORIES]\nsettingsTarget=Client/Settings\n[FILES]\naccountGroupFile=group.json\n"));
        const TLauncherFilesystemHelper helper(m_directory->path());

        QCOMPARE(helper.accountGroupFileName(), u"group.json"_qs);
        QCOMPARE(helper.accountGroupTargetPath(), u"Client/Settings/group.json"_qs);
        QCOMPARE(helper.accountGroupSourcePath(), launcherFile(u"group.json"_qs));
        QVERIFY(!helper.accountGroupFileExists());
        QVERIFY(writeBytes(launcherFile(u"group.json"_qs), "{}"));
        QVERIFY(helper.accountGroupFileExists());
    }

    void readAccountGroupFile_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QJsonObject>("expected");
        QTest::addColumn<QStringList>("warnings");

        QTest::newRow("valid") << true << QByteArray(R"({"Key": "eu-west", "Other": 3})")
                               << QJsonObject{{"Key", "eu-west"}, {"Other", 3}} << QStringList();
        QTest::newRow("not JSON") << true << QByteArray("Key=eu-west") << QJsonObject()
                                  << QStringList{"JSON parse error: illegal value"};
        QTest::newRow("array") << true << QByteArray(R"(["eu-west"])") << QJsonObject()
                               << QStringList{"JSON file does not contain a valid JSON object."};
        QTest::newRow("empty file") << true << QByteArray() << QJsonObject()
                                    << QStringList{"JSON parse error: illegal value"};
    }

    void readAccountGroupFile() {
        QFETCH(bool, present);
        QFETCH(QByteArray, content);
        QFETCH(QJsonObject, expected);
        QFETCH(QStringList, warnings);
        if (present) {
            QVERIFY(writeBytes(launcherFile(u"accountgroup.json"_qs), content));
        }
        const TLauncherFilesystemHelper helper(m_directory->path());

        const TMessageCapture capture;
        QCOMPARE(helper.readAccountGroupFile(), expected);
        QCOMPARE(capture.warnings(), warnings);
    }

    void unreadableAccountGroupFileNamesItsPath() {
        const TLauncherFilesystemHelper missingHelper(m_directory->path());
        const QJsonObject missing = missingHelper.readAccountGroupFile();
        QVERIFY(!missing.isEmpty());
        QVERIFY(!missing.contains(u"Key"_qs));

        // A directory in place of the file exists but cannot be read as one.
        const QString path = launcherFile(u"accountgroup.json"_qs);
        QVERIFY(QDir().mkpath(path));
        const TLauncherFilesystemHelper helper(m_directory->path());
        const TMessageCapture capture;
        const QJsonObject object = helper.readAccountGroupFile();

        QCOMPARE(object, (QJsonObject{{u"error"_qs, path}}));
        QCOMPARE(capture.warnings().size(), 1);
        QVERIFY2(capture.warnings().first().startsWith(u"Failed to open file: "_qs),
                 qPrintable(capture.warnings().first()));
    }

    void accountGroupKeyWarnings_data() {
        QTest::addColumn<bool>("present");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QStringList>("warnings");

        QTest::newRow("string key") << true << QByteArray(R"({"Key": "eu-west"})") << u"eu-west"_qs
                                    << QStringList();
        QTest::newRow("empty string key")
            << true << QByteArray(R"({"Key": ""})") << QString() << QStringList();
        QTest::newRow("no file") << false << QByteArray() << QString()
                                 << QStringList{"AccountGroupSetting Error: KeyNotExists"};
        QTest::newRow("no key") << true << QByteArray(R"({"key": "lower case"})") << QString()
                                << QStringList{"AccountGroupSetting Error: KeyNotExists"};
        QTest::newRow("number key") << true << QByteArray(R"({"Key": 42})") << QString()
                                    << QStringList{"AccountGroupSetting Error: KeyNoString"};
        QTest::newRow("null key") << true << QByteArray(R"({"Key": null})") << QString()
                                  << QStringList{"AccountGroupSetting Error: KeyNoString"};
        QTest::newRow("empty object")
            << true << QByteArray("{}") << QString() << QStringList{"AccountGroupSetting Error: Empty"};
        QTest::newRow("not JSON") << true << QByteArray("{Key: eu-west}") << QString()
                                  << QStringList{"JSON parse error: unterminated object",
                                                 "AccountGroupSetting Error: Empty"};
        QTest::newRow("array") << true << QByteArray(R"([{"Key": "eu-west"}])") << QString()
                               << QStringList{"JSON file does not contain a valid JSON object.",
                                              "AccountGroupSetting Error: Empty"};
    }

    void accountGroupKeyWarnings() {
        QFETCH(bool, present);
        QFETCH(QByteArray, content);
        if (present) {
            QVERIFY(writeBytes(launcherFile(u"accountgroup.json"_qs), content));
        }
        const TLauncherFilesystemHelper helper(m_directory->path());

        const TMessageCapture capture;
        const QString key = accountGroupKeyFrom(helper.readAccountGroupFile());

        QTEST(key, "key");
        QTEST(capture.warnings(), "warnings");
    }

    void copyCreatesTheSettingsDirectoryAndReplacesAnOlderCopy() {
        QVERIFY(writeBytes(launcherFile(u"accountgroup.json"_qs), R"({"Key": "new"})"));
        const QString packageDirectory = launcherFile(u"packages/client"_qs);
        QVERIFY(QDir().mkpath(packageDirectory));
        const TLauncherFilesystemHelper helper(m_directory->path());
        const QString target =
            packageDirectory + u"/VantorOnlineClient_Data/Data/Settings/accountgroup.json"_qs;

        helper.copyAccountGroupFileTo(QDir(packageDirectory));
        QCOMPARE(readBytes(target), QByteArray(R"({"Key": "new"})"));

        QVERIFY(writeBytes(target, R"({"Key": "older and longer"})"));
        helper.copyAccountGroupFileTo(QDir(packageDirectory));
        QCOMPARE(readBytes(target), QByteArray(R"({"Key": "new"})"));
    }

    void copyFailureIsReported() {
        QVERIFY(writeBytes(launcherFile(u"accountgroup.json"_qs), R"({"Key": "k"})"));
        const QString packageDirectory = launcherFile(u"packages/client"_qs);
        const testsupport::TFailingFilesystem helper(m_directory->path(),
                                                     testsupport::EFailingOperation::Write);

        QVERIFY_EXCEPTION_THROWN(helper.copyAccountGroupFileTo(QDir(packageDirectory)), std::runtime_error);

        // A source that vanished is an error too, not a silent no-op.
        QFile::remove(launcherFile(u"accountgroup.json"_qs));
        const TLauncherFilesystemHelper plainHelper(m_directory->path());
        QVERIFY_EXCEPTION_THROWN(plainHelper.copyAccountGroupFileTo(QDir(packageDirectory)),
                                 std::runtime_error);
    }

private:
    QString launcherFile(const QString& name) const { return m_directory->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_directory;
};

LAUNCHER_TEST(TestLauncherFilesystemHelper)
#include "tst_launcherfilesystemhelper.moc"
