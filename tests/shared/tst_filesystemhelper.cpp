#include "shared/filesystemhelper/filesystemhelper.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <stdexcept>

using shared::TFileSystemHelper;
using shared::TLocalFileInfo;
using testsupport::readBytes;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

// The text of the std::runtime_error an operation throws.
QString thrownText(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::runtime_error& error) {
        return QString::fromUtf8(error.what());
    }
    return u"<nothing thrown>"_qs;
}

} // namespace

class TestFileSystemHelper : public QObject {
    Q_OBJECT

private:
    TFileSystemHelper m_helper;
    QTemporaryDir m_dir;

    QString path(const QString& relative) const { return m_dir.filePath(relative); }

private slots:
    void pathInsideConfinesToTheBase_data() {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("expected");
        const QString r = u"/g/pkg"_qs;
        // clang-format off
        QTest::newRow("plain") << r << "bin/client.exe" << "/g/pkg/bin/client.exe";
        QTest::newRow("climbing out keeps the last component") << r << "../x/y.dat" << "/g/pkg/y.dat";
        QTest::newRow("climbing back in") << r << "a/../b.dat" << "/g/pkg/b.dat";
        QTest::newRow("sibling with the root as prefix") << r << "../pkg2/x" << "/g/pkg/x";
        QTest::newRow("sibling directory itself") << r << "../pkg2" << "/g/pkg/pkg2";
        QTest::newRow("deep climb") << r << "a/../../../../etc/passwd" << "/g/pkg/passwd";
        QTest::newRow("absolute path stays below") << r << "/etc/passwd" << "/g/pkg/etc/passwd";
        QTest::newRow("dot segments") << r << "./a/./b" << "/g/pkg/a/b";
        QTest::newRow("trailing slash") << r << "../other/dir/" << "/g/pkg/dir";
        QTest::newRow("root itself") << r << "a/.." << "/g/pkg";
        QTest::newRow("parent only") << r << ".." << "/g/pkg";
        QTest::newRow("parents only") << r << "../.." << "/g/pkg";
        QTest::newRow("unclean root") << "/g/./pkg/" << "../pkg2/x" << "/g/pkg/x";
        QTest::newRow("filesystem root") << "/" << "a/../../b" << "/b";
        // clang-format on
    }

    void pathInsideConfinesToTheBase() {
        QFETCH(QString, root);
        QFETCH(QString, relative);
        QTEST(m_helper.pathInside(QDir(root), relative), "expected");
    }

    void writeFileReplacesTheFileAsAWhole() {
        const QString target = path(u"write/deep/markers.json"_qs);
        m_helper.writeFile(target, "old contents");
        // An open reader keeps the old contents: the new file replaced the old one, not overwrote it.
        QFile reader(target);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        m_helper.writeFile(target, "new");
        QCOMPARE(reader.readAll(), QByteArray("old contents"));
        QCOMPARE(readBytes(target), QByteArray("new"));
        m_helper.writeFile(target, QByteArray());
        QVERIFY(QFileInfo::exists(target));
        QCOMPARE(readBytes(target), QByteArray());
        QCOMPARE(
            QDir(path(u"write/deep"_qs)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{u"markers.json"_qs});

        const QString blocker = path(u"blocker"_qs);
        QVERIFY(writeBytes(blocker, "a file where a directory should be"));
        for (const QString& unwritable : {blocker + u"/sub/file"_qs, path(u"write"_qs)})
            QCOMPARE(thrownText([&] { m_helper.writeFile(unwritable, "x"); }),
                     u"I/O error on file '%1': Could not open file."_qs.arg(unwritable));
        QCOMPARE(readBytes(blocker), QByteArray("a file where a directory should be"));
    }

    void readRemoveCopyAndText() {
        const QString present = path(u"read/present.txt"_qs);
        const QString missing = path(u"read/missing.txt"_qs);
        QVERIFY(writeBytes(present, QByteArray("some\0bytes", 10)));
        QCOMPARE(m_helper.readFileIfPresent(present) + m_helper.readFile(present),
                 QByteArray("some\0bytes", 10).repeated(2));
        QCOMPARE(m_helper.readFileIfPresent(missing), QByteArray());
        QVERIFY_EXCEPTION_THROWN(m_helper.readFile(missing), std::runtime_error);

        // Copying onto an existing file leaves it alone.
        const QString copy = path(u"read/copy"_qs);
        m_helper.copyFile(present, copy);
        QVERIFY(writeBytes(present, "changed"));
        m_helper.copyFile(present, copy);
        QCOMPARE(readBytes(copy), QByteArray("some\0bytes", 10));
        QVERIFY(m_helper.removeFile(copy));
        QVERIFY_EXCEPTION_THROWN(m_helper.removeFile(copy), std::runtime_error);
        m_helper.appendTextFile(copy, u"Grüße\n"_qs);
        m_helper.appendTextFile(copy, u"two\n"_qs);
        QCOMPARE(readBytes(copy), u"Grüße\ntwo\n"_qs.toUtf8());
    }

    void directories() {
        const QString nested = path(u"create/one/two"_qs);
        QCOMPARE(m_helper.createDirectory(nested).absolutePath(), QDir(nested).absolutePath());
        QVERIFY(writeBytes(nested + u"/keep"_qs, "k"));
        QCOMPARE(m_helper.createDirectory(nested).entryList(QDir::Files), QStringList{u"keep"_qs});
        QVERIFY_EXCEPTION_THROWN(m_helper.createDirectory(nested + u"/keep/child"_qs), std::runtime_error);

        const QDir parent(nested);
        QCOMPARE(m_helper.subdirectory(parent, u"settings"_qs).absolutePath(), nested + u"/settings"_qs);
        QVERIFY_EXCEPTION_THROWN(m_helper.subdirectory(parent, u"keep"_qs), std::runtime_error);
        QVERIFY_EXCEPTION_THROWN(m_helper.subdirectory(QDir(path(u"none"_qs)), u"x"_qs), std::runtime_error);
    }

    void listFilesGivesTheFilesOfOneFolder() {
        const QString directory = path(u"list"_qs);
        QVERIFY(writeBytes(directory + u"/a.bin"_qs, QByteArray(10, 'a')));
        QVERIFY(writeBytes(directory + u"/empty"_qs, QByteArray()));
        QVERIFY(writeBytes(directory + u"/nested/c.bin"_qs, "c"));
        QMap<QString, qint64> sizes;
        m_helper.forEachFile(directory,
                             [&](const TLocalFileInfo& info) { sizes[info.absoluteFilePath] = info.size; });
        QCOMPARE(sizes,
                 (QMap<QString, qint64>{{directory + u"/a.bin"_qs, 10}, {directory + u"/empty"_qs, 0}}));
        QVERIFY(m_helper.listFiles(path(u"no-such-dir"_qs)).empty());
    }
};

LAUNCHER_TEST(TestFileSystemHelper)
#include "tst_filesystemhelper.moc"
