// ctest: serial
// The launcher's single-instance guard and the client's object have fixed names.
//
// The real launcher installs a second package of the same game from the first one's files: a
// first launch installs "Vantor Online", then the client of "Vantor Classic" asks for its
// installation, which fetches no chunk at all.
#include "support/installationkit.h"
#include "support/launcherstage.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"

#include <QtTest>

using namespace testsupport;

class TestSiblingSeedingLauncher : public QObject {
    Q_OBJECT

private slots:
    void secondPackageComesFromTheFirst() {
        QVERIFY2(m_Stage.start(), qPrintable(m_Stage.errorString()));
        QVERIFY2(m_Stage.publishGame(u"vantor/linux"_qs, 1), qPrintable(m_Stage.errorString()));
        const QString document = u"vantor/linux/package-1.json"_qs;
        QVERIFY(m_Stage.writeConfiguration({{u"Vantor Online"_qs, u"vantor"_qs, document, true},
                                            {u"Vantor Classic"_qs, u"classic"_qs, document}}));
        QVERIFY(m_Stage.writeSettings());
        QCOMPARE(m_Stage.runLauncher({u"--first-launch"_qs}), 0);
        QVERIFY(m_Stage.endClients());
        m_Stage.server().clearAccessLog();

        QCOMPARE(m_Stage.runLauncher({u"--patch"_qs, m_Stage.installedExecutable(u"classic"_qs)}), 0);
        QString difference;
        QVERIFY2(sameTree(m_Stage.gameTree(1), m_Stage.packageDirectory(u"classic"_qs), difference),
                 qPrintable(difference));
        QVERIFY(m_Stage.server().accessLogLines().filter(u"/chunks/"_qs).isEmpty());
        QCOMPARE(m_Stage.sandbox().countLogLines(
                     QRegularExpression(u"read [1-9][0-9]* bytes from installed package Vantor Online"_qs)),
                 1);
        QVERIFY(m_Stage.endClients());
    }

private:
    TLauncherStage m_Stage;
};

LAUNCHER_TEST(TestSiblingSeedingLauncher)
#include "tst_siblingseedinglauncher.moc"
