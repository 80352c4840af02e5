#include "launcher/settings/launchersettings.h"
#include "launcher/storage/accountgroupkey.h"
#include "launcher/storage/launcherfilesystemhelper.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/messagecapture.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>

using mirrel::launcher::TLauncherFilesystemHelper;
using testsupport::operator""_qs;
using testsupport::readBytes;
using testsupport::writeBytes;

class TestLauncherFilesystemHelper : public QObject {
    Q_OBJECT

private slots:
    void init() {
        m_Directory = std::make_unique<QTemporaryDir>();
        QVERIFY(m_Directory->isValid());
    }

    void localSettingsFileReplacesTheBuiltInTextWhole() {
        const TLauncherFilesystemHelper builtIn(m_Directory->path());
        QCOMPARE(builtIn.settings()->sourcePath(), u":/settings/launchersettings.ini"_qs);
        QCOMPARE(builtIn.packagesDirectoryPath(), file(u"packages"_qs));
        QVERIFY(!QFileInfo::exists(file(u"packages"_qs)));
        QCOMPARE(builtIn.packagesDirectory().absolutePath(), file(u"packages"_qs));
        QVERIFY(QFileInfo(file(u"packages"_qs)).isDir());

        QVERIFY(writeBytes(file(u"launchersettings.ini"_qs), "[OPTIONS]\nmaxConcurrentDownloads=4\n"));
        const TLauncherFilesystemHelper local(m_Directory->path());
        QCOMPARE(local.settings()->sourcePath(), file(u"launchersettings.ini"_qs));
        QCOMPARE(local.settings()->waitNotificationTimeout(), qint64(0));
        // No account group file is named: the launcher's directory itself is none.
        QVERIFY(!local.accountGroupFileExists());
    }

    void accountGroupKey_data() {
        QTest::addColumn<QByteArray>("content"); // null: no file; "<directory>": a directory instead
        QTest::addColumn<QString>("warnings");   // a pattern for all warnings, joined by '|'
        QTest::addColumn<QString>("key");
        QTest::newRow("string key") << QByteArray(R"({"Key": "eu-west", "Other": 3})") << ""
                                    << QString("eu-west");
        QTest::newRow("empty string key") << QByteArray(R"({"Key": ""})") << "" << QString();
        QTest::newRow("no file") << QByteArray() << ".*Error: KeyNotExists" << QString();
        QTest::newRow("key in lower case")
            << QByteArray(R"({"key": "x"})") << ".*Error: KeyNotExists" << QString();
        QTest::newRow("number key") << QByteArray(R"({"Key": 42})") << ".*Error: KeyNoString" << QString();
        QTest::newRow("null key") << QByteArray(R"({"Key": null})") << ".*Error: KeyNoString" << QString();
        QTest::newRow("empty object") << QByteArray("{}") << ".*Error: Empty" << QString();
        QTest::newRow("empty file") << QByteArray("") << "JSON parse error: .*\\|.*Error: Empty" << QString();
        QTest::newRow("not JSON") << QByteArray("{Key: x}") << "JSON parse error: .*\\|.*Error: Empty"
                                  << QString();
        QTest::newRow("array") << QByteArray(R"([{"Key": "x"}])")
                               << "JSON file does not contain a valid JSON object\\.\\|.*Error: Empty"
                               << QString();
        QTest::newRow("directory") << QByteArray("<directory>") << "Failed to open file: .*KeyNotExists"
                                   << QString();
    }

    void accountGroupKey() {
        QFETCH(QByteArray, content);
        QFETCH(QString, warnings);
        if (content == "<directory>") {
            QVERIFY(QDir().mkpath(file(u"accountgroup.json"_qs)));
        } else if (!content.isNull()) {
            QVERIFY(writeBytes(file(u"accountgroup.json"_qs), content));
        }
        const TLauncherFilesystemHelper helper(m_Directory->path());
        const testsupport::TMessageCapture capture;
        QTEST(mirrel::launcher::accountGroupKeyFrom(helper.readAccountGroupFile()), "key");
        const QString logged = capture.warnings().join(u'|');
        QVERIFY2(QRegularExpression(u"^(%1)$"_qs.arg(warnings)).match(logged).hasMatch(), qPrintable(logged));
    }

    void accountGroupCopyCreatesReplacesAndReportsFailures() {
        QVERIFY(writeBytes(
            file(u"launchersettings.ini"_qs),
            "[DIRECTORIES]\nsettingsTarget=Client/Settings\n[FILES]\naccountGroupFile=group.json\n"));
        QVERIFY(writeBytes(file(u"group.json"_qs), R"({"Key": "new"})"));
        const QDir package(file(u"packages/client"_qs));
        const QString target = package.filePath(u"Client/Settings/group.json"_qs);
        const TLauncherFilesystemHelper helper(m_Directory->path());
        helper.copyAccountGroupFileTo(package);
        QCOMPARE(readBytes(target), QByteArray(R"({"Key": "new"})"));
        // An older, longer copy is replaced whole.
        QVERIFY(writeBytes(target, R"({"Key": "older and longer"})"));
        helper.copyAccountGroupFileTo(package);
        QCOMPARE(readBytes(target), QByteArray(R"({"Key": "new"})"));

        const testsupport::TFailingFilesystem full(m_Directory->path(),
                                                   testsupport::EFailingOperation::Write);
        QVERIFY_EXCEPTION_THROWN(full.copyAccountGroupFileTo(package), std::runtime_error);
        // A source that vanished is an error too, not a silent no-op.
        QVERIFY(QFile::remove(file(u"group.json"_qs)));
        QVERIFY_EXCEPTION_THROWN(helper.copyAccountGroupFileTo(package), std::runtime_error);
    }

private:
    QString file(const QString& Name) const { return m_Directory->filePath(Name); }

    std::unique_ptr<QTemporaryDir> m_Directory;
};

LAUNCHER_TEST(TestLauncherFilesystemHelper)
#include "tst_launcherfilesystemhelper.moc"
