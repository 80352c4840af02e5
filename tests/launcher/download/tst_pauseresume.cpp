// Pausing a download halfway through a chunk and resuming it: a server that serves byte ranges is
// asked only for the rest, one that does not sends the whole chunk again; either way the file ends
// up right, and the package's row says "Paused" with the bytes so far meanwhile.
#include "launcher/download/packagefiledownloader.h"
#include "launcher/install/packageinstallation.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "support/installationkit.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::EScriptedFault;
using testsupport::TScriptedAnswer;
using testsupport::operator""_qs;

class TestPauseResume : public QObject {
    Q_OBJECT

private slots:
    void halfReceivedChunkContinues_data() {
        QTest::addColumn<bool>("ranges");
        QTest::newRow("server serves ranges") << true;
        QTest::newRow("server without ranges") << false;
    }

    void halfReceivedChunkContinues() {
        QFETCH(bool, ranges);
        QTemporaryDir work;
        QVERIFY(testsupport::writeBytes(work.filePath(u"build/world.pak"_qs),
                                        testsupport::seededBytes(5, 1 << 20)));
        QString output;
        QVERIFY2(
            testsupport::publishBuild(work.filePath(u"build"_qs), work.filePath(u"cdn"_qs), u"1"_qs, output),
            qPrintable(output));
        testsupport::TScriptedHttpServer server;
        QVERIFY(server.start());
        const TPackageConfigurationReader target =
            testsupport::readPublishedConfiguration(work.filePath(u"cdn"_qs), server.url(u"/"_qs));
        QCOMPARE(int(target.chunks().size()), 1);
        const QString path = target.chunks().front().Url.path();
        const QByteArray body = testsupport::readBytes(work.filePath(u"cdn"_qs) + path);
        const qint64 half = body.size() / 2;
        const QList<QPair<QByteArray, QByteArray>> rangeHeader{{"Accept-Ranges", "bytes"}};
        TScriptedAnswer first = TScriptedAnswer::faulty(EScriptedFault::StallMidBody, body, half);
        TScriptedAnswer rest = TScriptedAnswer::ok(body);
        if (ranges) {
            first.headers = rangeHeader;
            rest = TScriptedAnswer::withStatus(206, body.mid(int(half)));
            rest.headers = rangeHeader;
            rest.headers.append({"Content-Range", "bytes " + QByteArray::number(half) + '-' +
                                                      QByteArray::number(body.size() - 1) + '/' +
                                                      QByteArray::number(body.size())});
        }
        server.setAnswerSequence(path, {first, rest});

        testsupport::TInstallationDriver driver(
            testsupport::makeLauncherFilesystem(work.filePath(u"launcher"_qs), QByteArray()),
            work.filePath(u"installation"_qs));
        TPackageInstallation& installation = driver.installation();
        TClientPackageLayoutItem row(installation.package(), false);
        // Paused once half the chunk has arrived; resumed once the row shows it.
        connect(installation.packageFileDownloader(), &TPackageFileDownloader::progress, this,
                [&](TFileSize Downloaded) {
                    if (Downloaded >= TFileSize(half) && server.requestCount(path) == 1 &&
                        !installation.isPaused()) {
                        row.onInstallationOrUpdateStarted(installation);
                        installation.pause();
                        QTimer::singleShot(0, &installation, [&installation] { installation.resume(); });
                        row.onPausedChanged(installation);
                        QCOMPARE(row.progressBar()->format(), u"Paused"_qs);
                        QVERIFY(row.versionLabel()->text().startsWith(u"0.5/1.0 MB"_qs));
                    }
                });
        QVERIFY(driver.install(target, TPackageConfigurationReader(), false, 60000));
        QVERIFY(driver.installation().success());
        QCOMPARE(testsupport::readBytes(work.filePath(u"installation/world.pak"_qs)),
                 testsupport::readBytes(work.filePath(u"build/world.pak"_qs)));
        QCOMPARE(server.requestCount(path), 2);
        QCOMPARE(server.requestsFor(path).at(1).headers.value("range"),
                 ranges ? "bytes=" + QByteArray::number(half) + '-' : QByteArray());
    }
};

LAUNCHER_TEST(TestPauseResume)
#include "tst_pauseresume.moc"
