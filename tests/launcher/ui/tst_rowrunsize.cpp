// An offered install or update shows its cost and whether the disk can take it.
#include "launcher/package/package.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "support/stringliteral.h"
#include "support/testregistry.h"
#include "support/windowpackages.h"

#include <QLabel>
#include <QTest>
#include <QWidget>

using namespace mirrel::launcher;
using testsupport::operator""_qs;

class TestRowRunSize : public QObject {
    Q_OBJECT

private slots:
    void offeredRunShowsWhatItCosts_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<qulonglong>("freeBytes");
        QTest::addColumn<QString>("shown"); // empty: the place stays empty
        QTest::newRow("update that fits") << int(TPackage::StatusUpdateAvailable) << 3400000000ULL
                                          << u"1.2 GB to download, 3.4 GB on disk"_qs;
        QTest::newRow("install on a full disk") << int(TPackage::StatusNotInstalled) << 1200000000ULL
                                                << u"Not enough free space: 3.4 GB needed, 1.2 GB free"_qs;
        QTest::newRow("up to date") << int(TPackage::StatusUpToDate) << 0ULL << QString();
    }

    void offeredRunShowsWhatItCosts() {
        QFETCH(int, status);
        QFETCH(qulonglong, freeBytes);
        QFETCH(QString, shown);
        const auto pPackage =
            testsupport::makeWindowPackage(0, u"Vantor Online"_qs, testsupport::packageDocument(u"1.0"_qs));
        pPackage->setRunSizeEstimate(TRunSizeEstimate{true, 1200000000, 3400000000, 3400000000, freeBytes});
        pPackage->setLocalStatus(status);
        QWidget host;
        auto* pRow = new TClientPackageLayoutItem(pPackage, true);
        host.setLayout(pRow);
        host.show();
        const QLabel* pLabel = pRow->timeLeftLabel();
        QCOMPARE(pLabel->isVisible(), !shown.isEmpty());
        if (!shown.isEmpty()) {
            QVERIFY2(pLabel->text() == shown || (pLabel->text().endsWith(u'…') && pLabel->toolTip() == shown),
                     qPrintable(pLabel->text()));
            QVERIFY(!pLabel->geometry().intersects(pRow->versionLabel()->geometry()));
        }
    }
};

LAUNCHER_TEST(TestRowRunSize)
#include "tst_rowrunsize.moc"
