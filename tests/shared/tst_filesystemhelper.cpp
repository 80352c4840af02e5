#include "shared/container/container.h"
#include "shared/container/lzmacompressedreadonlymemoryblob.h"
#include "shared/container/readonlymemoryblob.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <stdexcept>

using shared::TFileSystemHelper;
using shared::TLocalFileInfo;
using testsupport::operator""_qs;

namespace {

// Runs an operation that must throw std::runtime_error and gives its text.
QString thrownText(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::runtime_error& error) {
        return QString::fromUtf8(error.what());
    }
    return u"<nothing thrown>"_qs;
}

void putFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(contents), qint64(contents.size()));
}

QByteArray fileContents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<unreadable>");
    return file.readAll();
}

// Answers every directory listing with a fixed list, to show that the
// listing-based operations go through the replaceable operation.
class TFixedListingHelper : public TFileSystemHelper {
public:
    std::vector<TLocalFileInfo> listFiles(const QString&) const override {
        return {TLocalFileInfo(u"/nowhere/b"_qs, 2), TLocalFileInfo(u"/nowhere/a"_qs, 1)};
    }
};

} // namespace

class TestFileSystemHelper : public QObject {
    Q_OBJECT

private:
    TFileSystemHelper m_helper;
    QTemporaryDir m_dir;

    QString path(const QString& relative) const { return m_dir.filePath(relative); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

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
        QFETCH(QString, expected);
        QCOMPARE(m_helper.pathInside(QDir(root), relative), expected);
    }

    void writeFileCreatesReplacesAndTruncates() {
        const QString target = path(u"write/deep/er/file.bin"_qs);
        m_helper.writeFile(target, QByteArrayLiteral("first version"));
        QCOMPARE(fileContents(target), QByteArrayLiteral("first version"));

        m_helper.writeFile(target, QByteArrayLiteral("2nd"));
        QCOMPARE(fileContents(target), QByteArrayLiteral("2nd"));

        m_helper.writeFile(target, QByteArray());
        QVERIFY(QFileInfo::exists(target));
        QCOMPARE(QFileInfo(target).size(), qint64(0));

        // Nothing but the target is left behind in its directory.
        QCOMPARE(
            QDir(path(u"write/deep/er"_qs)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{u"file.bin"_qs});
    }

    void writeFileReplacesTheFileAsAWhole() {
        // A reader that opened the old file keeps reading the old contents:
        // the new data went to another file that took the old one's place,
        // instead of truncating and rewriting it where it stood.
        const QString target = path(u"whole/markers.json"_qs);
        m_helper.writeFile(target, QByteArrayLiteral("old contents"));
        QFile reader(target);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        m_helper.writeFile(target, QByteArrayLiteral("new contents, longer than the old"));
        QCOMPARE(reader.readAll(), QByteArrayLiteral("old contents"));
        QCOMPARE(fileContents(target), QByteArrayLiteral("new contents, longer than the old"));
    }

    void writeFileFailures() {
        const QString directory = path(u"a-directory"_qs);
        QVERIFY(QDir().mkpath(directory));
        QCOMPARE(thrownText([&] { m_helper.writeFile(directory, "x"); }),
                 u"I/O error on file '%1': Could not open file."_qs.arg(directory));

        const QString blocker = path(u"blocker"_qs);
        putFile(blocker, "a file where a directory should be");
        const QString below = blocker + u"/sub/file"_qs;
        QCOMPARE(thrownText([&] { m_helper.writeFile(below, "x"); }),
                 u"I/O error on file '%1': Could not open file."_qs.arg(below));
        QCOMPARE(fileContents(blocker), QByteArrayLiteral("a file where a directory should be"));
    }

    void readFileAndReadFileIfPresent() {
        const QString present = path(u"read/present.txt"_qs);
        putFile(present, QByteArray("some\0bytes", 10));
        QCOMPARE(m_helper.readFile(present), QByteArray("some\0bytes", 10));
        QCOMPARE(m_helper.readFileIfPresent(present), QByteArray("some\0bytes", 10));

        const QString missing = path(u"read/missing.txt"_qs);
        QCOMPARE(m_helper.readFileIfPresent(missing), QByteArray());
        const QString text = thrownText([&] { m_helper.readFile(missing); });
        QVERIFY2(text.startsWith(u"I/O error on file '%1': "_qs.arg(missing)), qPrintable(text));
        QVERIFY(text.size() > u"I/O error on file '%1': "_qs.arg(missing).size());
    }

    void textFiles() {
        const QString target = path(u"text/notes.txt"_qs);
        QVERIFY(QDir().mkpath(path(u"text"_qs)));
        m_helper.writeTextFile(target, u"Grüße\n"_qs);
        m_helper.appendTextFile(target, u"line two\n"_qs);
        QCOMPARE(QString::fromUtf8(fileContents(target)), u"Grüße\nline two\n"_qs);
        m_helper.writeTextFile(target, u"reset"_qs);
        QCOMPARE(fileContents(target), QByteArrayLiteral("reset"));
    }

    void removeAndCopy() {
        const QString source = path(u"copy/source"_qs);
        const QString target = path(u"copy/target"_qs);
        putFile(source, "payload");
        m_helper.copyFile(source, target);
        QCOMPARE(fileContents(target), QByteArrayLiteral("payload"));
        // Copying onto an existing file leaves it alone and does not throw.
        putFile(source, "changed");
        m_helper.copyFile(source, target);
        QCOMPARE(fileContents(target), QByteArrayLiteral("payload"));

        QVERIFY(m_helper.removeFile(target));
        QVERIFY(!QFileInfo::exists(target));
        QCOMPARE(thrownText([&] { m_helper.removeFile(target); }), u"Failed to delete file "_qs + target);
    }

    void createDirectory() {
        const QString nested = path(u"create/one/two/three"_qs);
        const QDir created = m_helper.createDirectory(nested);
        QVERIFY(created.exists());
        QCOMPARE(created.absolutePath(), QDir(nested).absolutePath());

        putFile(nested + u"/keep"_qs, "k");
        const QDir again = m_helper.createDirectory(nested);
        QVERIFY(again.exists());
        QCOMPARE(again.entryList(QDir::Files), QStringList{u"keep"_qs});

        const QString blocked = nested + u"/keep/child"_qs;
        QCOMPARE(thrownText([&] { m_helper.createDirectory(blocked); }),
                 u"Failed to create folder: '%1'."_qs.arg(QDir::toNativeSeparators(blocked)));
    }

    void subdirectory() {
        const QDir missingParent(path(u"sub/missing"_qs));
        QCOMPARE(thrownText([&] { m_helper.subdirectory(missingParent, u"x"_qs); }),
                 u"Directory doesn't exist"_qs);

        const QDir parent = m_helper.createDirectory(path(u"sub/parent"_qs));
        const QDir made = m_helper.subdirectory(parent, u"settings"_qs);
        QVERIFY(made.exists());
        QCOMPARE(made.absolutePath(), parent.absoluteFilePath(u"settings"_qs));
        putFile(made.filePath(u"kept"_qs), "k");
        QCOMPARE(m_helper.subdirectory(parent, u"settings"_qs).entryList(QDir::Files),
                 QStringList{u"kept"_qs});

        putFile(parent.filePath(u"plainfile"_qs), "f");
        QCOMPARE(thrownText([&] { m_helper.subdirectory(parent, u"plainfile"_qs); }),
                 u"Failed to create subdirectory."_qs);
    }

    void listFilesAndForEachFile() {
        const QString directory = path(u"list"_qs);
        putFile(directory + u"/a.bin"_qs, QByteArray(10, 'a'));
        putFile(directory + u"/b.bin"_qs, QByteArray(2000, 'b'));
        putFile(directory + u"/empty"_qs, QByteArray());
        putFile(directory + u"/.hidden"_qs, "h");
        putFile(directory + u"/nested/c.bin"_qs, "c");

        const std::vector<TLocalFileInfo> files = m_helper.listFiles(directory);
        QMap<QString, qint64> sizes;
        for (const TLocalFileInfo& info : files)
            sizes.insert(info.absoluteFilePath, info.size);
        const QString absolute = QDir(directory).absolutePath();
        QMap<QString, qint64> expected;
        expected.insert(absolute + u"/a.bin"_qs, 10);
        expected.insert(absolute + u"/b.bin"_qs, 2000);
        expected.insert(absolute + u"/empty"_qs, 0);
        QCOMPARE(sizes, expected);

        QStringList visited;
        m_helper.forEachFile(directory,
                             [&](const TLocalFileInfo& info) { visited << info.absoluteFilePath; });
        QStringList listed;
        for (const TLocalFileInfo& info : files)
            listed << info.absoluteFilePath;
        QCOMPARE(visited, listed);

        QVERIFY(m_helper.listFiles(path(u"no-such-dir"_qs)).empty());

        const TFixedListingHelper fixed;
        QStringList fixedVisits;
        fixed.forEachFile(directory,
                          [&](const TLocalFileInfo& info) { fixedVisits << info.absoluteFilePath; });
        QCOMPARE(fixedVisits, (QStringList{u"/nowhere/b"_qs, u"/nowhere/a"_qs}));
    }

    void readJsonFile() {
        bool error = true;
        const QJsonDocument missing = m_helper.readJsonFileAsQJsonDocument(path(u"json/none.json"_qs), error);
        QVERIFY(missing.isNull());
        QVERIFY(!error);

        const QString empty = path(u"json/empty.json"_qs);
        putFile(empty, QByteArray());
        error = true;
        QVERIFY(m_helper.readJsonFileAsQJsonDocument(empty, error).isNull());
        QVERIFY(!error);

        const QString valid = path(u"json/valid.json"_qs);
        putFile(valid, R"({"version": "0.0.12"})");
        error = true;
        const QJsonDocument document = m_helper.readJsonFileAsQJsonDocument(valid, error);
        QVERIFY(!error);
        QCOMPARE(document.object().value(u"version"_qs).toString(), u"0.0.12"_qs);

        const QString broken = path(u"json/broken.json"_qs);
        putFile(broken, R"({"version": )");
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(u"^Json parse error in file .*broken\\.json.*at offset"_qs));
        error = false;
        const QJsonDocument parsed = m_helper.readJsonFileAsQJsonDocument(broken, error);
        QVERIFY(error);
        QVERIFY(parsed.isEmpty());
    }

    void images() {
        QImage image(7, 5, QImage::Format_ARGB32);
        image.fill(QColor(10, 200, 30, 255));
        image.setPixelColor(3, 2, QColor(255, 0, 0, 128));
        const QString target = path(u"images/picture.png"_qs);
        m_helper.writeImage(image, target, "PNG");
        const std::shared_ptr<QImage> read = m_helper.readImage(target, "PNG");
        QVERIFY(read);
        QCOMPARE(read->convertToFormat(QImage::Format_ARGB32), image);

        QVERIFY(!m_helper.readImage(path(u"images/missing.png"_qs)));
        const QString garbage = path(u"images/garbage.png"_qs);
        putFile(garbage, "not a picture");
        QVERIFY(!m_helper.readImage(garbage));
        const QString empty = path(u"images/empty.png"_qs);
        putFile(empty, QByteArray());
        QVERIFY(!m_helper.readImage(empty));

        // An image that cannot be encoded is an error, not an empty file.
        const QString unknown = path(u"images/unknown.nosuchformat"_qs);
        const QString text = thrownText([&] { m_helper.writeImage(image, unknown, "nosuchformat"); });
        QVERIFY2(text.startsWith(u"I/O error on file '%1': "_qs.arg(unknown)), qPrintable(text));
        QVERIFY(!QFileInfo::exists(unknown));
    }

    void memoryBlobs() {
        const QByteArray plain = QByteArrayLiteral("the plain contents of a file");
        const QByteArray packed = shared::compress(shared::CompressionLzma, plain);

        // Only "<path>.lzma" exists: the compressed file is opened and decoded.
        const QString onlyCompressed = path(u"blob/config.json"_qs);
        putFile(onlyCompressed + u".lzma"_qs, packed);
        auto blob = m_helper.openMemoryBlob(onlyCompressed);
        QVERIFY(dynamic_cast<shared::TLZMACompressedReadOnlyMemoryBlob*>(blob.get()));
        QCOMPARE(blob->data(), plain);

        // Both exist: the path itself wins, uncompressed.
        putFile(onlyCompressed, "uncompressed twin");
        blob = m_helper.openMemoryBlob(onlyCompressed);
        QVERIFY(!dynamic_cast<shared::TLZMACompressedReadOnlyMemoryBlob*>(blob.get()));
        QCOMPARE(blob->data(), QByteArrayLiteral("uncompressed twin"));

        // A path that names the ".lzma" file directly.
        blob = m_helper.openMemoryBlob(onlyCompressed + u".lzma"_qs);
        QCOMPARE(blob->data(), plain);

        // A ".lzma" file that holds no container gives its raw bytes.
        const QString notPacked = path(u"blob/raw.lzma"_qs);
        putFile(notPacked, "just text");
        QCOMPARE(m_helper.openMemoryBlob(notPacked)->data(), QByteArrayLiteral("just text"));
        // ... and so does a damaged container.
        QByteArray damaged = packed;
        damaged[damaged.size() - 3] = static_cast<char>(damaged[damaged.size() - 3] ^ 0x5A);
        const QString damagedPath = path(u"blob/damaged.lzma"_qs);
        putFile(damagedPath, damaged);
        QCOMPARE(m_helper.openMemoryBlob(damagedPath)->data(), damaged);

        // The file is read anew on every call.
        const QString changing = path(u"blob/changing"_qs);
        putFile(changing, "one");
        blob = m_helper.openMemoryBlob(changing);
        QCOMPARE(blob->data(), QByteArrayLiteral("one"));
        putFile(changing, "two");
        QCOMPARE(blob->data(), QByteArrayLiteral("two"));
        // A file that vanished after opening the blob cannot be opened.
        QVERIFY(QFile::remove(changing));
        QCOMPARE(thrownText([&] { blob->data(); }),
                 u"I/O error on file '%1': Could not open file."_qs.arg(changing));

        // Neither exists: the error comes at once, not from data().
        const QString missing = path(u"blob/missing"_qs);
        QCOMPARE(thrownText([&] { m_helper.openMemoryBlob(missing); }),
                 u"I/O error on file '%1': File does not exist"_qs.arg(missing));
        QCOMPARE(thrownText([&] { shared::TLZMACompressedReadOnlyMemoryBlob blob(missing); }),
                 u"I/O error on file '%1': File does not exist"_qs.arg(missing));
    }
};

LAUNCHER_TEST(TestFileSystemHelper)
#include "tst_filesystemhelper.moc"
