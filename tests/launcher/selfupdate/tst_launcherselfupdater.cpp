#include "launcher/package/package.h"
#include "launcher/package/packageconfigurationreader.h"
#include "launcher/selfupdate/launcherselfupdater.h"
#include "launcher/settings/launcherconstants.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QtTest>

#include <stdexcept>

using namespace mirrel::launcher;
using namespace testsupport;

const QString ProgramName = u"VantorLauncher"_qs;

class TestLauncherSelfUpdater : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        // The program and a data file; once with the data file's chunk gone, once with climbing names.
        const QString tree = m_Stage.workDirectory() + u"/tree"_qs;
        QVERIFY(writeBytes(tree + u'/' + ProgramName, seededBytes(2, 310000)));
        QVERIFY(writeBytes(tree + u"/launcher-data.bin"_qs, seededBytes(3, 200000)));
        for (const QString& folder : {u"good"_qs, u"broken"_qs}) {
            QVERIFY2(m_Stage.publishTree(tree, folder, u"package.json"_qs, u"0.0.13"_qs, ProgramName, {}),
                     qPrintable(m_Stage.errorString()));
        }
        const QString root = m_Stage.server().documentRoot();
        QJsonObject document = QJsonDocument::fromJson(readBytes(root + u"/good/package.json"_qs)).object();
        QJsonArray files = document.value(u"files"_qs).toArray();
        const QJsonObject data = files.at(files.at(0)[u"localfile"_qs] == ProgramName ? 1 : 0).toObject();
        const QJsonValue chunk = document.value(u"chunks"_qs)[data[u"chunks"_qs][0].toInt()];
        QVERIFY(QFile::remove(root + u"/broken/"_qs + chunk[u"url"_qs].toString()));
        for (const QString& name : {u"../escape.bin"_qs, u".."_qs, u"sub/../../../up.bin"_qs}) {
            QJsonObject climbing = data;
            climbing.insert(u"localfile"_qs, name);
            files.append(climbing);
        }
        document.insert(u"files"_qs, files);
        QVERIFY(writeBytes(root + u"/good/climbing.json"_qs, QJsonDocument(document).toJson()));
    }

    void init() {
        QVERIFY(QDir(m_Root.path()).removeRecursively());
        QVERIFY(writeBytes(program(), m_OldProgram));
    }

    // The old program waits beside the new one for the restarted launcher; names that climb out of
    // the launcher's directory end up inside it.
    void updateKeepsTheOldProgramAndStaysInside() {
        TLauncherSelfUpdater updater(std::make_shared<TLauncherFilesystemHelper>(directory()));
        QCOMPARE(update(updater, u"good/climbing.json"_qs), u"restart"_qs);
        QCOMPARE(readBytes(program() + BackupSuffix), m_OldProgram);
        QCOMPARE(QDir(m_Root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{u"launcher"_qs});
        QVERIFY(QFileInfo(directory() + u"/escape.bin"_qs).isFile());
    }

    // A failed update puts the old program back, not a backup an earlier update left behind; by a
    // rename over it, so a program that cannot be deleted is no obstacle.
    void failedUpdateRestoresTheOldProgram_data() {
        QTest::addColumn<bool>("removable");
        QTest::newRow("restored") << true;
        QTest::newRow("program cannot be deleted") << false;
    }

    void failedUpdateRestoresTheOldProgram() {
        QFETCH(bool, removable);
        QVERIFY(writeBytes(program() + BackupSuffix, "stale backup"));
        auto fileSystem = std::make_shared<TFailingFilesystem>(
            directory(), EFailingOperation::Remove, TFailingFilesystem::endingIn(u'/' + ProgramName));
        fileSystem->Armed = !removable;
        TLauncherSelfUpdater updater(fileSystem);
        QCOMPARE(update(updater, u"broken/package.json"_qs), u"failed"_qs);
        QCOMPARE(readBytes(program()), m_OldProgram);
        QVERIFY(!QFileInfo::exists(program() + BackupSuffix));
    }

    // Only files directly in the launcher's directory whose names end in ".old" go; a file that
    // cannot be removed is the caller's to report.
    void cleanupRemovesOnlyOldFilesOfTheLauncherDirectory() {
        const QDir launcher(directory());
        for (const QString& name :
             {u"a.old"_qs, u"notes.OLD"_qs, u"old"_qs, u"plugins/inner.old"_qs, u"b.old"_qs}) {
            QVERIFY(writeBytes(launcher.filePath(name), "x"));
        }
        QVERIFY(launcher.mkpath(u"cache.old"_qs));
        TLauncherSelfUpdater(std::make_shared<TLauncherFilesystemHelper>(directory()))
            .cleanupOldLauncherVersion();
        QStringList left = launcher.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        left.sort();
        QCOMPARE(left.join(u' '), u"VantorLauncher cache.old notes.OLD old plugins"_qs);
        QVERIFY(launcher.exists(u"plugins/inner.old"_qs) &&
                writeBytes(launcher.filePath(u"stuck.old"_qs), "x"));
        TLauncherSelfUpdater stuck(
            std::make_shared<TFailingFilesystem>(directory(), EFailingOperation::Remove));
        QVERIFY_EXCEPTION_THROWN(stuck.cleanupOldLauncherVersion(), std::runtime_error);
    }

private:
    QString directory() const { return m_Root.filePath(u"launcher"_qs); }
    QString program() const { return directory() + u'/' + ProgramName; }

    // Installs the launcher package of the document; "restart", "failed" or "disk <message>".
    QString update(TLauncherSelfUpdater& Updater, const QString& Document) const {
        const QString entry = uR"({"builds": [{"os": "linux", "architecture": "%1", "url": "%2"}]})"_qs;
        const QByteArray json = entry.arg(QSysInfo::buildCpuArchitecture(), Document).toUtf8();
        auto package = std::make_shared<TPackage>(
            LauncherPackageIndex, QJsonDocument::fromJson(json).object(), m_Stage.server().url(QString()));
        const QUrl folder = m_Stage.server().url(Document).adjusted(QUrl::RemoveFilename);
        package->selectBuildForThisSystem()->Configuration = std::make_unique<TPackageConfigurationReader>(
            readBytes(m_Stage.server().documentRoot() + u'/' + Document), QByteArray(), folder, folder);
        QString outcome;
        QObject::connect(&Updater, &TLauncherSelfUpdater::updateDownloadFinishedAndRestartRequired,
                         [&outcome] { outcome += u"restart"_qs; });
        QObject::connect(&Updater, &TLauncherSelfUpdater::updateFailed,
                         [&outcome] { outcome += u"failed"_qs; });
        QObject::connect(&Updater, &TLauncherSelfUpdater::diskAccessFailed,
                         [&outcome](const QString& Message) { outcome += u"disk "_qs + Message; });
        Updater.startSelfUpdate(package);
        const bool ended = QTest::qWaitFor([&outcome] { return !outcome.isEmpty(); }, 120000);
        QObject::disconnect(&Updater, nullptr, nullptr, nullptr);
        return ended ? outcome : u"no outcome"_qs;
    }

    TLauncherStage m_Stage;
    QTemporaryDir m_Root;
    const QByteArray m_OldProgram = seededBytes(1, 300000);
};

LAUNCHER_TEST(TestLauncherSelfUpdater)
#include "tst_launcherselfupdater.moc"
