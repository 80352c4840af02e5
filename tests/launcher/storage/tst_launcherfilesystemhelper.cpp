#include "launcher/settings/launchersettings.h"
#include "launcher/storage/accountgroupkey.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/messagecapture.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QtTest>

#include <stdexcept>

using namespace mirrel::launcher;
using namespace testsupport;

class TestLauncherFilesystemHelper : public QObject {
    Q_OBJECT

private slots:
    void init() { m_Directory = std::make_unique<QTemporaryDir>(); }

    // A local settings file replaces the built-in text whole; no account group file means none.
    void localSettingsFileReplacesTheBuiltInText() {
        QCOMPARE(TLauncherFilesystemHelper(m_Directory->path()).settings()->sourcePath(),
                 u":/settings/launchersettings.ini"_qs);
        QVERIFY(writeBytes(file(u"launchersettings.ini"_qs), "[OPTIONS]\nmaxConcurrentDownloads=4\n"));
        const TLauncherFilesystemHelper local(m_Directory->path());
        QCOMPARE(local.settings()->sourcePath(), file(u"launchersettings.ini"_qs));
        QCOMPARE(local.settings()->waitNotificationTimeout(), qint64(0));
        QVERIFY(!local.accountGroupFileExists());
    }

    // Only a string under "Key" is a key; anything else is reported and gives none.
    void accountGroupKey_data() {
        QTest::addColumn<QByteArray>("content"); // null: no file; "<directory>": a directory instead
        QTest::addColumn<QString>("key");
        QTest::newRow("string key") << QByteArray(R"({"Key": "eu-west", "x": 3})") << u"eu-west"_qs;
        QTest::newRow("no file") << QByteArray() << QString();
        QTest::newRow("key in lower case") << QByteArray(R"({"key": "x"})") << QString();
        QTest::newRow("number key") << QByteArray(R"({"Key": 42})") << QString();
        QTest::newRow("not JSON") << QByteArray("{Key: x}") << QString();
        QTest::newRow("array") << QByteArray(R"([{"Key": "x"}])") << QString();
        QTest::newRow("directory") << QByteArray("<directory>") << QString();
    }

    void accountGroupKey() {
        QFETCH(QByteArray, content);
        QFETCH(QString, key);
        if (content == "<directory>") {
            QVERIFY(QDir().mkpath(file(u"accountgroup.json"_qs)));
        } else if (!content.isNull()) {
            QVERIFY(writeBytes(file(u"accountgroup.json"_qs), content));
        }
        const TMessageCapture capture;
        QCOMPARE(accountGroupKeyFrom(TLauncherFilesystemHelper(m_Directory->path()).readAccountGroupFile()),
                 key);
        QCOMPARE(capture.warnings().isEmpty(), !key.isEmpty());
    }

    // The copy creates the folder and replaces a longer copy; write failure or missing source throws.
    void accountGroupCopyCreatesReplacesAndReportsFailures() {
        QVERIFY(writeBytes(file(u"launchersettings.ini"_qs), "[DIRECTORIES]\nsettingsTarget=Client/Settings\n"
                                                             "[FILES]\naccountGroupFile=group.json\n"));
        QVERIFY(writeBytes(file(u"group.json"_qs), R"({"Key": "new"})"));
        const QDir package(file(u"packages/client"_qs));
        const TLauncherFilesystemHelper helper(m_Directory->path());
        helper.copyAccountGroupFileTo(package);
        QVERIFY(
            writeBytes(package.filePath(u"Client/Settings/group.json"_qs), R"({"Key": "older and longer"})"));
        helper.copyAccountGroupFileTo(package);
        QCOMPARE(readBytes(package.filePath(u"Client/Settings/group.json"_qs)),
                 QByteArray(R"({"Key": "new"})"));
        const TFailingFilesystem full(m_Directory->path(), EFailingOperation::Write);
        QVERIFY_EXCEPTION_THROWN(full.copyAccountGroupFileTo(package), std::runtime_error);
        QVERIFY(QFile::remove(file(u"group.json"_qs)));
        QVERIFY_EXCEPTION_THROWN(helper.copyAccountGroupFileTo(package), std::runtime_error);
    }

private:
    QString file(const QString& Name) const { return m_Directory->filePath(Name); }

    std::unique_ptr<QTemporaryDir> m_Directory;
};

LAUNCHER_TEST(TestLauncherFilesystemHelper)
#include "tst_launcherfilesystemhelper.moc"
