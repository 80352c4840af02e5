// The package marker and the asset document beside it are read as one pair. Whichever step of
// writing them fails (as an interrupted run would leave them), the installation directory holds
// the old pair, the new pair or no marker, never one version's document with the other's.
#include "launcher/config/launcherconfigurationreader.h"
#include "launcher/install/installationmanager.h"
#include "launcher/package/packageconfigurationreader.h"
#include "support/failingfilesystem.h"
#include "support/installationkit.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>

#include <stdexcept>

using namespace mirrel::launcher;
using testsupport::EFailingOperation;
using testsupport::writeBytes;
using testsupport::operator""_qs;

namespace {

QByteArray document(const QString& Version) {
    return QJsonDocument(QJsonObject{{u"version"_qs, Version},
                                     {u"files"_qs, QJsonArray()},
                                     {u"chunks"_qs, QJsonArray()}})
        .toJson();
}

// Package version 1 goes with asset version 7, 2 with 8.
const QByteArray P1 = document(u"1"_qs);
const QByteArray P2 = document(u"2"_qs);
const QByteArray A7 = document(u"7"_qs);
const QByteArray A8 = document(u"8"_qs);

} // namespace

class TestDocumentPairs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(u"default.info=false"_qs); }

    void neverAMixedPair_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("installed"); // the marker the old pair stands in
        QTest::addColumn<int>("failing");
        QTest::addColumn<QString>("failingPath"); // suffix of the paths that fail
        QTest::addColumn<QString>("result");      // the pair afterwards: "old", "new" or "none"
        const auto rows = [](const char* Operation, const char* Installed, const char* Result) {
            const QString operation = QLatin1String(Operation);
            QTest::addRow("%s, nothing fails", Operation)
                << operation << QString::fromLatin1(Installed) << int(EFailingOperation::None) << QString()
                << QString::fromLatin1(Result);
            for (const char* suffix : {"assets.json", "package.json"}) {
                QTest::addRow("%s, writing %s fails", Operation, suffix)
                    << operation << QString::fromLatin1(Installed) << int(EFailingOperation::Write)
                    << QString::fromLatin1(suffix) << QString();
                QTest::addRow("%s, removing %s fails", Operation, suffix)
                    << operation << QString::fromLatin1(Installed) << int(EFailingOperation::Remove)
                    << QString::fromLatin1(suffix) << QString();
            }
        };
        // A run starts: the installed pair stays until the new version has arrived.
        rows("partial", "package.json", "old");
        rows("update", "partial-package.json", "new");
        rows("full", "partial-package.json", "new");
    }

    void neverAMixedPair() {
        QFETCH(QString, operation);
        QFETCH(QString, installed);
        QFETCH(int, failing);
        QFETCH(QString, failingPath);
        QFETCH(QString, result);
        QTemporaryDir launcher;
        const auto fileSystem = std::make_shared<testsupport::TFailingFilesystem>(
            launcher.path(), EFailingOperation(failing),
            testsupport::TFailingFilesystem::endingIn(u'/' + failingPath));
        fileSystem->Armed = false;
        const QString directory = launcher.path() + u"/packages/game"_qs;
        QVERIFY(writeBytes(directory + u'/' + installed, P1));
        QVERIFY(writeBytes(directory + u"/assets.json"_qs, A7));
        const QJsonObject build{{u"os"_qs, u"linux"_qs},
                                {u"architecture"_qs, u"x86_64"_qs},
                                {u"url"_qs, u"game/package.json"_qs}};
        const auto configuration = std::make_shared<TLauncherConfigurationReader>(
            QJsonDocument(
                QJsonObject{{u"packages"_qs, QJsonArray{QJsonObject{{u"name"_qs, u"Game"_qs},
                                                                    {u"directoryname"_qs, u"game"_qs},
                                                                    {u"builds"_qs, QJsonArray{build}}}}}})
                .toJson(),
            QUrl(u"http://127.0.0.1/cdn/"_qs));
        TInstallationManager manager(configuration, fileSystem);
        const auto game = configuration->packages().front();

        fileSystem->Armed = true;
        try {
            if (operation == u"partial") {
                manager.markPackageAsPartiallyInstalled(game, P2, A8);
            } else if (operation == u"update") {
                manager.updatePartiallyInstalledPackage(game, P2, A8);
            } else {
                manager.markPackageAsFullyInstalled(game, P2, A8);
            }
        } catch (const std::runtime_error&) {
            QVERIFY(failing != int(EFailingOperation::None));
        }
        fileSystem->Armed = false;

        const TPackageConfigurationReader pair =
            manager.readPackageConfigurationFromInstallationDirectory(QDir(directory));
        const QString found = pair.packageVersion() + u'/' + pair.assetVersion();
        QVERIFY2(found == u"1/7" || found == u"2/8" || found == u"/", qPrintable(found));
        if (!result.isEmpty()) {
            QCOMPARE(found, result == u"old" ? u"1/7"_qs : u"2/8"_qs);
        }
    }
};

LAUNCHER_TEST(TestDocumentPairs)
#include "tst_documentpairs.moc"
