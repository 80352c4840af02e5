// A package whose main server fails in every way a server can while a mirror (nginx) holds the same
// files: the installation still ends byte for byte like the published tree, the mirror served the
// chunks, and moving on to the next address never waits for a retry.
#include "launcher/install/packageinstallation.h"
#include "launcher/package/package.h"
#include "shared/network/mirrorset.h"
#include "support/installationkit.h"
#include "support/nginxfixture.h"
#include "support/scriptedhttpserver.h"
#include "support/stringliteral.h"
#include "support/testdata.h"
#include "support/testregistry.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace mirrel::launcher;
using testsupport::EScriptedFault;
using testsupport::TScriptedAnswer;
using testsupport::operator""_qs;

class TestMirrors : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(m_Mirror.start());
        for (const quint32 seed : {7, 8}) {
            QVERIFY(testsupport::writeBytes(m_Work.filePath(u"build/data/%1.pak"_qs.arg(seed)),
                                            testsupport::seededBytes(seed, 1 << 20)));
        }
        QString output;
        QVERIFY2(testsupport::publishBuild(m_Work.filePath(u"build"_qs), m_Mirror.documentRoot() + u"/cdn"_qs,
                                           u"1"_qs, output),
                 qPrintable(output));
    }

    void failingServersAreLeftForTheNextAddress_data() {
        QTest::addColumn<QString>("primary");     // "refused", or a scripted answer to every chunk
        QTest::addColumn<bool>("badMirrorFirst"); // a mirror with wrong bodies comes before nginx
        QTest::newRow("main server refuses") << u"refused"_qs << false;
        QTest::newRow("main server resets mid-body") << u"reset"_qs << false;
        QTest::newRow("main server fails with 503") << u"503"_qs << false;
        QTest::newRow("a mirror sends wrong bodies") << u"refused"_qs << true;
    }

    void failingServersAreLeftForTheNextAddress() {
        QFETCH(QString, primary);
        QFETCH(bool, badMirrorFirst);
        testsupport::TScriptedHttpServer scripted;
        QVERIFY(scripted.start());
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QUrl refused(u"http://127.0.0.1:%1/cdn/"_qs.arg(closed.serverPort()));
        closed.close();
        const QUrl primaryBase = primary == u"refused" ? refused : scripted.url(u"/cdn/"_qs);
        const TPackageConfigurationReader target =
            testsupport::readPublishedConfiguration(m_Mirror.documentRoot() + u"/cdn"_qs, primaryBase);
        QList<QUrl> mirrors{m_Mirror.url(u"cdn/"_qs)};
        if (badMirrorFirst) {
            mirrors.prepend(scripted.url(u"/bad/"_qs));
        }
        for (const TChunkInPackage& chunk : target.chunks()) {
            const QString path = chunk.Url.path();
            const QByteArray wrong = testsupport::seededBytes(9, qint64(chunk.PackedSize));
            scripted.setAnswer(QString(path).replace(u"/cdn/"_qs, u"/bad/"_qs), TScriptedAnswer::ok(wrong));
            scripted.setAnswer(path, primary == u"503"
                                         ? TScriptedAnswer::withStatus(503)
                                         : TScriptedAnswer::faulty(EScriptedFault::ResetMidBody, wrong));
        }
        m_Mirror.clearAccessLog();

        QTemporaryDir launcher;
        // A retry would wait for ten minutes: only moving on to the next address finishes in time.
        testsupport::TInstallationDriver driver(
            testsupport::makeLauncherFilesystem(launcher.path(), "[OPTIONS]\nretryPause=600000\n"),
            launcher.filePath(u"packages/test"_qs));
        driver.installation().package()->setMirrors(
            std::make_shared<shared::TMirrorSet>(primaryBase, mirrors));
        QVERIFY(driver.install(target, TPackageConfigurationReader(), false, 60000));
        QVERIFY(driver.installation().success());
        QString difference;
        QVERIFY2(testsupport::sameTree(m_Work.filePath(u"build"_qs), launcher.filePath(u"packages/test"_qs),
                                       difference),
                 qPrintable(difference));
        for (const TChunkInPackage& chunk : target.chunks()) {
            QVERIFY(m_Mirror.waitForRequestCount(chunk.Url.path(), 1));
        }
    }

private:
    testsupport::TNginxFixture m_Mirror;
    QTemporaryDir m_Work;
};

LAUNCHER_TEST(TestMirrors)
#include "tst_mirrors.moc"
