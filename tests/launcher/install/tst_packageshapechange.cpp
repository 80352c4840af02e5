// Updates that change the shape of a package, each row from a first published version to a second.
#include "launcher/install/packageinstallation.h"
#include "launcher/package/packageconfigurationreader.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QtTest>

using namespace mirrel::launcher;
using namespace testsupport;

namespace {

// A tree is a list of "path:seed" entries, "+x" marking an executable; equal seeds give equal bytes.
bool writeTree(const QString& Root, const QStringList& Entries) {
    const QFileDevice::Permissions execute = QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther;
    for (const QString& text : Entries) {
        const QString path = Root + u'/' + text.section(u':', 0, 0);
        const quint32 seed = text.section(u':', 1).remove(u"+x"_qs).toUInt();
        if (!writeBytes(path, seededBytes(seed, 1500 + 97 * seed)) ||
            !QFile::setPermissions(path,
                                   (QFile::permissions(path) & ~execute) |
                                       (text.endsWith(u"+x"_qs) ? execute : QFileDevice::Permissions()))) {
            return false;
        }
    }
    return true;
}

// Every file and folder below Root ("dir/" for folders), sorted; the date of a moved-aside folder
// reads "DATE".
QStringList listing(const QString& Root) {
    QStringList entries;
    QDirIterator it(Root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString relative = QDir(Root).relativeFilePath(path);
        if (it.fileInfo().isDir() && !it.fileInfo().isSymLink()) {
            relative += u'/';
        }
        entries << relative.replace(QRegularExpression(u"\\.moved-\\d{4}-\\d{2}-\\d{2}"_qs),
                                    u".moved-DATE"_qs);
    }
    entries.sort();
    return entries;
}

// The listing a tree of entries gives, with the extra paths added.
QStringList expectedListing(const QStringList& Entries, const QStringList& Extra) {
    QStringList expected = Extra;
    for (const QString& text : Entries) {
        const QString path = text.section(u':', 0, 0);
        expected << path;
        for (int slash = path.indexOf(u'/'); slash > 0; slash = path.indexOf(u'/', slash + 1)) {
            expected << path.left(slash + 1);
        }
    }
    expected.removeDuplicates();
    expected.sort();
    return expected;
}

} // namespace

class TestPackageShapeChange : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QLoggingCategory::setFilterRules(u"default.info=false\ndefault.debug=false"_qs);
        QVERIFY2(m_Nginx.start(), qPrintable(m_Nginx.errorString()));
    }

    void updateGivesTheNewTree_data() {
        QTest::addColumn<QStringList>("versionOne");
        QTest::addColumn<QStringList>("versionTwo");
        QTest::addColumn<QStringList>("playerFiles");      // put into the package after the install
        QTest::addColumn<QStringList>("extraAfterUpdate"); // where they are after the update
        QTest::addColumn<QString>("stuck"); // not deleted by a first attempt, which fails and loses nothing

        QTest::newRow("file and folder swap shapes")
            << QStringList{u"data/morph:1"_qs, u"data/flip/inner.txt:2"_qs, u"data/keep.txt:3"_qs}
            << QStringList{u"data/morph/inside.txt:4"_qs, u"data/flip:5"_qs, u"data/keep.txt:3"_qs}
            << QStringList() << QStringList() << QString();
        QTest::newRow("folder with listed subfolders becomes file")
            << QStringList{u"flip/inner.txt:2"_qs, u"flip/sub/deeper.txt:6"_qs} << QStringList{u"flip:5"_qs}
            << QStringList() << QStringList() << QString();
        QTest::newRow("folder with a player file becomes file")
            << QStringList{u"data/flip/inner.txt:2"_qs} << QStringList{u"data/flip:5"_qs}
            << QStringList{u"data/flip/screenshot.png"_qs}
            << QStringList{u"data/flip.moved-DATE/"_qs, u"data/flip.moved-DATE/screenshot.png"_qs}
            << QString();
        QTest::newRow("execute flag dropped with the same bytes")
            << QStringList{u"bin/tool:7+x"_qs} << QStringList{u"bin/tool:7"_qs} << QStringList()
            << QStringList() << QString();
        QTest::newRow("file moves into a new subfolder")
            << QStringList{u"old/notes.txt:8"_qs, u"top.txt:9"_qs}
            << QStringList{u"new/sub/notes.txt:8"_qs, u"top.txt:9"_qs} << QStringList() << QStringList()
            << QString();
        QTest::newRow("deep folder emptied")
            << QStringList{u"deep/a/b/c/leaf.txt:10"_qs, u"deep/a/other.txt:11"_qs, u"top.txt:9"_qs}
            << QStringList{u"top.txt:9"_qs} << QStringList() << QStringList() << QString();
        QTest::newRow("emptied folder with a player file stays")
            << QStringList{u"saves/auto.dat:12"_qs, u"top.txt:9"_qs} << QStringList{u"top.txt:9"_qs}
            << QStringList{u"saves/mine.sav"_qs} << QStringList{u"saves/"_qs, u"saves/mine.sav"_qs}
            << QString();
        QTest::newRow("file in the way that cannot be deleted at first")
            << QStringList{u"data/morph:1"_qs} << QStringList{u"data/morph/inside.txt:4"_qs} << QStringList()
            << QStringList() << u"data/morph"_qs;
    }

    void updateGivesTheNewTree() {
        QFETCH(QStringList, versionOne);
        QFETCH(QStringList, versionTwo);
        QFETCH(QStringList, playerFiles);
        QFETCH(QStringList, extraAfterUpdate);
        QFETCH(QString, stuck);
        QTemporaryDir work;
        const QString installation = work.filePath(u"installation"_qs);
        const TPackageConfigurationReader one = publish(work, u"1"_qs, versionOne);
        const TPackageConfigurationReader two = publish(work, u"2"_qs, versionTwo);
        QVERIFY(one.isValid() && two.isValid());
        const auto fileSystem = makeLauncherFilesystem(work.filePath(u"launcher"_qs), QByteArray());

        QCOMPARE(update(fileSystem, installation, one, TPackageConfigurationReader()), QString());
        QCOMPARE(listing(installation), expectedListing(versionOne, {}));
        for (const QString& player : playerFiles) {
            QVERIFY(writeBytes(installation + u'/' + player, player.toUtf8()));
        }
        if (!stuck.isEmpty()) {
            const auto failing =
                std::make_shared<TFailingFilesystem>(work.filePath(u"launcher"_qs), EFailingOperation::Remove,
                                                     TFailingFilesystem::endingIn(u'/' + stuck));
            const QString error = update(failing, installation, two, one);
            QVERIFY2(error.contains(u"Failed to delete file "_qs + installation + u'/' + stuck),
                     qPrintable(error));
            QCOMPARE(listing(installation), expectedListing(versionOne, {}));
        }

        QCOMPARE(update(fileSystem, installation, two, one), QString());
        QString difference;
        QVERIFY2(sameTree(work.filePath(u"build-2"_qs), installation, difference), qPrintable(difference));
        QCOMPARE(listing(installation), expectedListing(versionTwo, extraAfterUpdate));
        // A player's file keeps its bytes wherever it went.
        for (const QString& player : playerFiles) {
            QDirIterator found(installation, {QFileInfo(player).fileName()}, QDir::Files,
                               QDirIterator::Subdirectories);
            QVERIFY2(found.hasNext(), qPrintable(player));
            QCOMPARE(readBytes(found.next()), player.toUtf8());
        }
    }

private:
    TPackageConfigurationReader publish(const QTemporaryDir& Work, const QString& Version,
                                        const QStringList& Entries) {
        const QString build = Work.filePath(u"build-"_qs + Version);
        const QString cdn = m_Nginx.documentRoot() + u"/cdn"_qs;
        if (!QDir().mkpath(build) || !writeTree(build, Entries)) {
            return {};
        }
        QString output;
        if (!publishBuild(build, cdn, Version, output, 3)) {
            qWarning().noquote() << output;
            return {};
        }
        const QUrl base = m_Nginx.url(u"cdn/"_qs);
        return TPackageConfigurationReader(readBytes(cdn + u"/package.json"_qs), QByteArray(), base, base);
    }

    // Empty when the run succeeded; otherwise why it did not.
    static QString update(const std::shared_ptr<TLauncherFilesystemHelper>& FileSystem,
                          const QString& Installation, const TPackageConfigurationReader& Target,
                          const TPackageConfigurationReader& Installed) {
        TInstallationDriver driver(FileSystem, Installation);
        if (!driver.install(Target, Installed, false)) {
            return u"the run did not end"_qs;
        }
        if (!driver.diskAccessError().isEmpty()) {
            return driver.diskAccessError();
        }
        return driver.installation().success() ? QString()
                                               : u"failed: "_qs + driver.installation().errorText();
    }

    TNginxFixture m_Nginx;
};

LAUNCHER_TEST(TestPackageShapeChange)
#include "tst_packageshapechange.moc"
